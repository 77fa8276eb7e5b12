// Feeds arbitrary bytes to the WAVE probe as a build reads a source: the
// header rules on the first 58 bytes and the chunk walk to the audio. Checks
// beyond "no crash": the walk finds the same span whether or not it is handed
// the header it already read, the span lies inside the file, and the two
// forms of the header verdict agree.

#include "core/source_info.h"
#include "core/wave.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace voicelib;
    const SourceVerdict verdict = CheckWaveHeader(data, size);
    Check(verdict.IsAccepted() == IsAcceptedWaveHeader(data, size));

    const int fd = ::memfd_create("wave", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    Result<AudioSpan> walked = LocateAudio(fd, size);
    Result<AudioSpan> withHead = LocateAudio(fd, size, data, size);
    Check(walked.ok() && withHead.ok());
    Check(walked->offset == withHead->offset && walked->length == withHead->length);
    Check(walked->offset <= size && walked->length <= size - walked->offset);

    // The same file by name, as the build's capacity line reads it.
    const SourceInfo info = ReadSourceInfo("/proc/self/fd/" + std::to_string(fd));
    Check(info.IsAccepted() == verdict.IsAccepted());
    if (info.IsAccepted())
        Check(info.EntryBytes() + info.CutBytes() == walked->length);
    ::close(fd);
    return 0;
}
