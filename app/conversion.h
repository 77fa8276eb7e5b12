#pragma once

// Sources the device cannot play as they are, and their conversion off the UI
// thread behind a progress dialog the user can cancel.

#include <string>
#include <vector>

class QWidget;
namespace voicelib {
struct ConvertJob;
struct ConvertOptions;
struct ConvertResult;
struct ConversionModule;
struct SourceInfo;
} // namespace voicelib

// Those the build refuses and accepted ones of another rate or channel count.
// Missing and unreadable files are left to the build, which names them;
// nothing could convert them.
bool NeedsConversion(const voicelib::SourceInfo& info);

// Where each input is converted to in dir: DIR/STEM.wav, or the first
// DIR/STEM-2.wav, -3, ... that is free when that name is one of listFiles (the
// rows the list plays), one of the inputs or an earlier input's target. A new
// name is also one that is not on disk yet.
std::vector<std::string> ConversionTargets(const std::string& dir, const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& listFiles);

struct ConversionRun
{
    std::vector<voicelib::ConvertResult> results; // one per job, in order
    bool cancelled = false;                       // the user stopped it before the last file
};

// Converts as long work (app/longwork.h) of the window parent: parent takes no
// input until the results are in.
ConversionRun RunConversion(QWidget* parent, const voicelib::ConversionModule& module,
                            const std::vector<voicelib::ConvertJob>& jobs,
                            const voicelib::ConvertOptions& options);
