// Feeds arbitrary bytes to the library reader behind info and extract.
// Checks beyond "no crash": an index it accepts has one offset per size,
// whole 160-byte blocks, entries back to back behind the size table, and
// never points outside the file.

#include "core/library.h"
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
    const int fd = ::memfd_create("library", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    Result<LibraryIndex> index = ReadLibraryIndex("/proc/self/fd/" + std::to_string(fd));
    if (index.ok()) {
        const LibraryIndex& x = *index;
        Check(x.fileSize == size);
        Check(!x.sizes.empty() && x.sizes.size() <= MAX_LIBRARY_ENTRIES);
        Check(x.offsets.size() == x.sizes.size());
        std::uint64_t next = 4 + 4 * static_cast<std::uint64_t>(x.sizes.size());
        for (std::size_t i = 0; i < x.sizes.size(); ++i) {
            Check(x.sizes[i] % AUDIO_BLOCK_SIZE == 0);
            Check(x.offsets[i] == next);
            next += x.sizes[i];
            Check(next <= size);
        }
    }
    ::close(fd);
    return 0;
}
