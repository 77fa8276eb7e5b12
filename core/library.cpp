#include "core/library.h"

#include "core/wave.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace voicelib {

namespace {

constexpr std::uint64_t kCountBytes = 4;
constexpr std::uint64_t kSizeBytes = 4;
// The largest whole-block entry a 32-bit size can describe.
constexpr std::uint64_t kMaxEntryBytes = UINT32_MAX / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE;

void PutLe32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint32_t Le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The count and N size words, little-endian.
std::vector<unsigned char> EncodeHeader(int n, const SizeTable& sizes)
{
    std::vector<unsigned char> out(kCountBytes + kSizeBytes * static_cast<std::size_t>(n));
    PutLe32(out.data(), static_cast<std::uint32_t>(n));
    for (int i = 0; i < n; ++i)
        PutLe32(out.data() + kCountBytes + kSizeBytes * static_cast<std::size_t>(i),
                sizes[static_cast<std::size_t>(i)]);
    return out;
}

IoStatus CopyFailed(const std::string& source, const AtomicFile& target, int err, CopyFailure where)
{
    if (where == CopyFailure::Write)
        return target.Fail(err);
    if (err == ENODATA)
        return IoStatus::Error(source, "file became shorter while it was being read");
    return IoStatus::FromErrno(source, err);
}

} // namespace

WriteResult WriteLibrary(const std::string& target, const std::vector<std::string>& paths,
                         const BuildProgress& progress)
{
    WriteResult result;
    BuildSummary& summary = result.summary;
    if (paths.empty()) {
        result.status = IoStatus::Error(target, "the list is empty, there is nothing to build");
        return result;
    }
    const int n = static_cast<int>(std::min<std::size_t>(paths.size(), MAX_LIBRARY_ENTRIES));
    summary.entries = n;
    summary.leftOut = static_cast<int>(paths.size() - static_cast<std::size_t>(n));

    AtomicFile out(target);
    if (IoStatus s = out.Open(); !s.ok()) {
        result.status = s;
        return result;
    }
    // Placeholder sizes first; the real table goes over them at the end.
    if (IoStatus s = out.Write(EncodeHeader(n, SizeTable{}).data(), kCountBytes + kSizeBytes * n); !s.ok()) {
        result.status = s;
        return result;
    }

    std::uint64_t audioBytes = 0;
    for (int i = 0; i < n; ++i) {
        const std::string& path = paths[static_cast<std::size_t>(i)];
        int err = 0;
        FileHandle src = OpenSource(path, &err);
        if (!src.valid()) {
            // Gone, unreadable or not a file since validation: an empty entry.
            ++summary.failed;
        } else {
            long long size = FileSize(src.fd(), &err);
            AudioSpan span;
            if (size < 0 || !LocateAudio(src.fd(), static_cast<std::uint64_t>(size), &span, &err)) {
                result.status = IoStatus::FromErrno(path, err);
                return result;
            }
            const std::uint64_t bytes = span.length / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE;
            if (bytes > kMaxEntryBytes) {
                result.status = IoStatus::Error(path, "audio too large for one library entry (4 GiB)");
                return result;
            }
            CopyFailure where = CopyFailure::None;
            if (!CopyRange(src.fd(), span.offset, out.fd(), bytes, &err, &where)) {
                result.status = CopyFailed(path, out, err, where);
                return result;
            }
            summary.sizes[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(bytes);
            audioBytes += bytes;
            ++summary.ok;
        }
        if (progress && !progress(i + 1, n)) {
            result.status = IoStatus::Error(target, "build cancelled");
            return result;
        }
    }

    const std::vector<unsigned char> header = EncodeHeader(n, summary.sizes);
    if (IoStatus s = out.WriteAt(header.data() + kCountBytes, header.size() - kCountBytes, kCountBytes);
        !s.ok()) {
        result.status = s;
        return result;
    }
    if (IoStatus s = out.Commit(); !s.ok()) {
        result.status = s;
        return result;
    }
    summary.bytes = header.size() + audioBytes;
    return result;
}

IoStatus ReadLibraryIndex(const std::string& path, LibraryIndex* index)
{
    int err = 0;
    FileHandle file = OpenSource(path, &err);
    if (!file.valid())
        return IoStatus::FromErrno(path, err);
    long long size = FileSize(file.fd(), &err);
    if (size < 0)
        return IoStatus::FromErrno(path, err);
    const auto fileSize = static_cast<std::uint64_t>(size);

    unsigned char word[4];
    long long got = ReadAt(file.fd(), word, sizeof word, 0, &err);
    if (got < 0)
        return IoStatus::FromErrno(path, err);
    if (got < 4)
        return IoStatus::Error(path, "not a voice library: too short to hold an entry count");
    const std::uint32_t count = Le32(word);
    if (count == 0)
        return IoStatus::Error(path, "not a voice library: the entry count is 0");
    if (count > MAX_LIBRARY_ENTRIES)
        return IoStatus::Error(path, "not a voice library: the entry count " + std::to_string(count) +
                                         " is over " + std::to_string(MAX_LIBRARY_ENTRIES));

    const std::uint64_t headerBytes = kCountBytes + kSizeBytes * count;
    if (fileSize < headerBytes)
        return IoStatus::Error(path, "truncated: the size table of " + std::to_string(count) +
                                         " entries needs " + std::to_string(headerBytes) +
                                         " bytes, the file has " + std::to_string(fileSize));
    std::vector<unsigned char> table(kSizeBytes * count);
    got = ReadAt(file.fd(), table.data(), table.size(), kCountBytes, &err);
    if (got < 0)
        return IoStatus::FromErrno(path, err);
    if (static_cast<std::size_t>(got) != table.size())
        return IoStatus::Error(path, "truncated while reading the size table");

    LibraryIndex result;
    result.fileSize = fileSize;
    std::uint64_t offset = headerBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = Le32(table.data() + kSizeBytes * i);
        if (entry % AUDIO_BLOCK_SIZE != 0)
            return IoStatus::Error(path, "damaged: the size of entry " + std::to_string(i) + " (" +
                                             std::to_string(entry) + ") is not a multiple of " +
                                             std::to_string(AUDIO_BLOCK_SIZE));
        result.sizes.push_back(entry);
        result.offsets.push_back(offset);
        offset += entry; // at most 1024 * 4 GiB: no overflow in 64 bits
    }
    if (offset > fileSize)
        return IoStatus::Error(path, "truncated: the entries need " + std::to_string(offset) +
                                         " bytes, the file has " + std::to_string(fileSize));
    if (offset < fileSize)
        return IoStatus::Error(path, "damaged: the entries end at byte " + std::to_string(offset) +
                                         " but the file has " + std::to_string(fileSize));
    *index = std::move(result);
    return {};
}

IoStatus ExtractEntry(const std::string& library, const LibraryIndex& index, int entry,
                      const std::string& target)
{
    if (entry < 0 || static_cast<std::size_t>(entry) >= index.sizes.size() ||
        index.offsets.size() != index.sizes.size())
        return IoStatus::Error(library, "there is no entry " + std::to_string(entry) + " (the library has " +
                                            std::to_string(index.sizes.size()) + ")");
    const std::uint32_t bytes = index.sizes[static_cast<std::size_t>(entry)];
    const std::uint64_t offset = index.offsets[static_cast<std::size_t>(entry)];

    int err = 0;
    FileHandle file = OpenSource(library, &err);
    if (!file.valid())
        return IoStatus::FromErrno(library, err);
    long long size = FileSize(file.fd(), &err);
    if (size < 0)
        return IoStatus::FromErrno(library, err);
    // The index describes the file as it was; never read past what is there now.
    if (static_cast<std::uint64_t>(size) != index.fileSize || offset + bytes > index.fileSize)
        return IoStatus::Error(library, "the file changed since its table was read");

    AtomicFile out(target);
    if (IoStatus s = out.Open(); !s.ok())
        return s;
    const std::vector<unsigned char> header = MakeCanonicalWaveHeader(bytes);
    if (IoStatus s = out.Write(header.data(), header.size()); !s.ok())
        return s;
    CopyFailure where = CopyFailure::None;
    if (!CopyRange(file.fd(), offset, out.fd(), bytes, &err, &where))
        return CopyFailed(library, out, err, where);
    return out.Commit();
}

} // namespace voicelib
