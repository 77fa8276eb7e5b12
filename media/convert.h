#pragma once

// Conversion of any audio FFmpeg's libraries can decode into canonical
// 8 kHz mono A-law WAVE files, streamed (decode, filter, resample, encode,
// write) so that memory does not grow with the length of a file.

#include "core/fileio.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace voicelib {

// EBU R128's own programme level. Speech at this level sits a few dB above
// the nominal speech level of telephone networks and leaves about 20 dB for
// its peaks below A-law's overload point, so a plain gain rarely clips.
inline constexpr double DEFAULT_LOUDNESS_LUFS = -23.0;
// Below this peak level (dBFS) a file's start and end count as silence.
inline constexpr double DEFAULT_TRIM_THRESHOLD_DB = -50.0;
// Accepted range of a loudness target, in LUFS.
inline constexpr double MIN_LOUDNESS_LUFS = -70.0;
inline constexpr double MAX_LOUDNESS_LUFS = -5.0;

// What happened to a file; beside it, the system's error number where one applies.
enum class ConvertCode
{
    Converted,
    Cancelled,
    CannotOpen,  // the source did not open (errnum)
    Refused,     // the target rules refused the target
    Undecodable, // not audio the libraries can read
    Damaged,     // a decode error, or the audio ended before its declared length
    NoAudio,     // nothing left to write: silent once trimmed, or under one block uncut
    WriteFailed, // the target could not be written (errnum where the system said why)
    SameTarget,  // an earlier source of the batch has the same target
};

struct ConvertOptions
{
    // Pad the audio with silence to whole 160-byte blocks; false cuts instead.
    bool pad = true;
    bool trim = false;
    double trimThresholdDb = DEFAULT_TRIM_THRESHOLD_DB;
    bool normalize = false;
    double loudnessLufs = DEFAULT_LOUDNESS_LUFS;
    // Write what decoded of a damaged file instead of failing it (still warned).
    bool keepDamaged = false;
    // What a target may replace: never any of write.sources (every file of
    // the run), nor a folder, pipe, device or write-protected file; an
    // existing file that is not an A-law WAVE only with write.force.
    WriteOptions write;
};

struct ConvertJob
{
    std::string input;
    std::string output;
};

struct ConvertResult
{
    std::string input;
    std::string output;
    bool ok = false;
    bool cancelled = false;
    ConvertCode code = ConvertCode::Converted;
    int errnum = 0;               // the system's error number behind code, or 0
    std::string error;            // why it failed, when !ok
    std::string damage;           // with keepDamaged: what was wrong with a file kept anyway
    std::uint64_t audioBytes = 0; // A-law bytes written, one per sample
    std::uint64_t clippedSamples = 0;
    double inputLoudness = 0; // integrated LUFS before the gain, with normalize
    double gainDb = 0;        // the gain applied, with normalize

    double Seconds() const { return static_cast<double>(audioBytes) / 8000.0; }
};

// Called with the fraction done (0 to 1); returning false cancels.
using ConvertProgress = std::function<bool(double)>;

// Converts one file. The target is written atomically: it is either the old
// file or the complete new one.
ConvertResult ConvertFile(const ConvertJob& job, const ConvertOptions& options,
                          const ConvertProgress& progress = {});

// Called after each finished file and now and then in between, with the
// fraction of the whole batch done and the results so far (only `done` of
// them are final). Calls are serialised but come from worker threads.
// Returning false cancels: running files stop and no new one starts.
using BatchProgress = std::function<bool(double fraction, std::size_t done, std::size_t total)>;

// Converts the jobs in parallel, one file per thread; results in job order.
// threads 0 means one per core.
std::vector<ConvertResult> ConvertFiles(const std::vector<ConvertJob>& jobs, const ConvertOptions& options,
                                        const BatchProgress& progress = {}, unsigned threads = 0);

// DIR/STEM.wav for a source.
std::string ConvertedName(const std::string& dir, const std::string& input);

} // namespace voicelib
