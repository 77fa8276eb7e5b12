#pragma once

// Sources the device cannot play as they are, and their conversion off the UI
// thread behind a progress dialog the user can cancel.

#include <vector>

class QWidget;
namespace voicelib {
struct ConvertJob;
struct ConvertOptions;
struct ConvertResult;
struct SourceInfo;
} // namespace voicelib

// Those the build refuses and accepted ones of another rate or channel count.
// Missing and unreadable files are left to the build, which names them;
// nothing could convert them.
bool NeedsConversion(const voicelib::SourceInfo& info);

struct ConversionRun
{
    std::vector<voicelib::ConvertResult> results; // one per job, in order
    bool cancelled = false;                       // the user stopped it before the last file
};

// Converts on a worker thread while the UI thread goes on handling events; the
// progress dialog, modal to parent, shows when it takes more than half a
// second. The caller keeps its window from taking input meanwhile.
ConversionRun RunConversion(QWidget* parent, const std::vector<voicelib::ConvertJob>& jobs,
                            const voicelib::ConvertOptions& options);
