// Feeds arbitrary bytes to the library reader behind info and extract.
// Checks beyond "no crash": an index it accepts has one offset per size,
// whole 160-byte blocks, entries back to back behind the size table, and
// never points outside the file.

#include "core/library.h"
#include "core/wave.h"
#include "fuzz/fuzz_input.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace voicelib;
    using fuzz::Check;
    const fuzz::InputFile file("library", data, size);
    if (!file.IsOpen())
        return 0;
    Result<LibraryIndex> index = ReadLibraryIndex(file.GetPath());
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
    return 0;
}
