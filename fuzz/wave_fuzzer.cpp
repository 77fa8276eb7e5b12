// Feeds arbitrary bytes to the WAVE probe as a build reads a source: the
// header rules on the first 58 bytes and the chunk walk to the audio. Checks
// beyond "no crash": the walk finds the same span whether or not it is handed
// the header it already read, the span lies inside the file, and the two
// forms of the header verdict agree.

#include "core/source_info.h"
#include "core/wave.h"
#include "fuzz/fuzz_input.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace voicelib;
    using fuzz::Check;
    const SourceVerdict verdict = CheckWaveHeader(data, size);
    Check(verdict.IsAccepted() == IsAcceptedWaveHeader(data, size));

    const fuzz::InputFile file("wave", data, size);
    if (!file.IsOpen())
        return 0;
    const int fd = file.GetFd();
    Result<AudioSpan> walked = LocateAudio(fd, size);
    Result<AudioSpan> withHead = LocateAudio(fd, size, data, size);
    Check(walked.ok() && withHead.ok());
    Check(walked->offset == withHead->offset && walked->length == withHead->length);
    Check(walked->offset <= size && walked->length <= size - walked->offset);

    // The same file by name, as the build's capacity line reads it.
    const SourceInfo info = ReadSourceInfo(file.GetPath());
    Check(info.IsAccepted() == verdict.IsAccepted());
    if (info.IsAccepted())
        Check(info.EntryBytes() + info.CutBytes() == walked->length);
    return 0;
}
