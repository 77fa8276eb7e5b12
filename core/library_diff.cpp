#include "core/library_diff.h"

#include "core/list_file.h"
#include "core/messages.h"
#include "core/voice_list.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace voicelib {

namespace {

// Pieces are read this large: whole blocks, so each is whole 32-byte stripes
// for the fingerprint too.
constexpr std::size_t PIECE_BYTES = 1024 * AUDIO_BLOCK_SIZE;
static_assert(AUDIO_BLOCK_SIZE % 32 == 0 && PIECE_BYTES % 32 == 0);

// A library's count (1 to 1024) always has a zero byte among its first four;
// the text of a list file has none.
bool LooksLikeLibrary(const std::string& path)
{
    Result<FileHandle> file = OpenSource(path);
    if (!file)
        return true; // the library reader says why it cannot be read
    unsigned char head[4];
    Result<std::size_t> got = ReadAt(file->fd(), head, sizeof head, 0);
    if (!got)
        return true;
    return std::find(head, head + *got, 0) != head + *got;
}

// A file the readers refuse for what it holds, not because it cannot be read.
Error NotASide(const Error& error)
{
    if (error.code() != std::errc::invalid_argument)
        return error;
    return Error(error.path(), Message(Msg::NeitherLibraryNorList, error.reason()));
}

// Reads exactly n bytes of an entry at offset.
IoStatus ReadPiece(const DiffSide::EntryBytes& entry, unsigned char* buf, std::size_t n, std::uint64_t offset)
{
    Result<std::size_t> got = ReadAt(entry.fd, buf, n, entry.offset + offset);
    if (!got)
        return Error(got.code(), entry.path);
    if (*got != n)
        return Error(entry.path, Message(Msg::SourceShrank));
    return {};
}

// Two entries of the same size, piece by piece until they differ.
Result<bool> SameBytes(const DiffSide::EntryBytes& x, const DiffSide::EntryBytes& y,
                       std::vector<unsigned char>& bx, std::vector<unsigned char>& by)
{
    for (std::uint64_t at = 0; at < x.bytes; at += PIECE_BYTES) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(PIECE_BYTES, x.bytes - at));
        if (IoStatus s = ReadPiece(x, bx.data(), n, at); !s.ok())
            return s.error();
        if (IoStatus s = ReadPiece(y, by.data(), n, at); !s.ok())
            return s.error();
        if (std::memcmp(bx.data(), by.data(), n) != 0)
            return false;
    }
    return true;
}

// A 64-bit fingerprint of whole 32-byte stripes in four independent lanes:
// fast, and a collision only costs a byte-for-byte check.
class Fingerprint
{
public:
    explicit Fingerprint(std::uint64_t bytes) : m_lanes{bytes, 1, 2, 3} {}

    void Add(const unsigned char* p, std::size_t n)
    {
        for (; n >= 32; p += 32, n -= 32) {
            for (int k = 0; k < 4; ++k) {
                std::uint64_t w;
                std::memcpy(&w, p + 8 * k, sizeof w);
                m_lanes[k] = Rotl(m_lanes[k] + w * M2, 31) * M1;
            }
        }
    }

    std::uint64_t Get() const
    {
        std::uint64_t h =
            Rotl(m_lanes[0], 1) + Rotl(m_lanes[1], 7) + Rotl(m_lanes[2], 12) + Rotl(m_lanes[3], 18);
        h ^= h >> 33;
        h *= M2;
        return h ^ h >> 29;
    }

private:
    static constexpr std::uint64_t M1 = 0x9E3779B185EBCA87ull;
    static constexpr std::uint64_t M2 = 0xC2B2AE3D27D4EB4Full;
    static std::uint64_t Rotl(std::uint64_t v, int bits) { return v << bits | v >> (64 - bits); }

    std::uint64_t m_lanes[4];
};

Result<std::uint64_t> FingerprintEntry(const DiffSide::EntryBytes& entry, std::vector<unsigned char>& buf)
{
    Fingerprint print(entry.bytes);
    for (std::uint64_t at = 0; at < entry.bytes; at += PIECE_BYTES) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(PIECE_BYTES, entry.bytes - at));
        if (IoStatus s = ReadPiece(entry, buf.data(), n, at); !s.ok())
            return s.error();
        print.Add(buf.data(), n);
    }
    return print.Get();
}

} // namespace

const char* DiffStatusCode(DiffStatus status)
{
    switch (status) {
    case DiffStatus::Identical:
        return "identical";
    case DiffStatus::Changed:
        return "changed";
    case DiffStatus::Moved:
        return "moved";
    case DiffStatus::Added:
        return "added";
    case DiffStatus::Removed:
        return "removed";
    }
    return "changed";
}

Result<DiffSide> DiffSide::Open(const std::string& path, std::optional<RejectedSource>* rejected)
{
    DiffSide side;
    side.m_path = path;
    if (LooksLikeLibrary(path)) {
        Result<LibraryIndex> index = ReadLibraryIndex(path);
        if (!index)
            return NotASide(index.error());
        Result<FileHandle> file = OpenIndexedLibrary(path, *index);
        if (!file)
            return file.error();
        side.m_index = std::move(*index);
        side.m_library = std::move(*file);
        return side;
    }
    Result<std::vector<std::string>> rows = ReadListFile(path);
    if (!rows)
        return NotASide(rows.error());
    if (rows->empty())
        return Error(path, Message(Msg::NothingToBuild));
    const std::string folder = ListFolder(path);
    for (std::string& row : *rows)
        row = ResolvePath(folder, row);
    if (std::optional<RejectedSource> r = FindFirstInvalidSource(*rows)) {
        Error error(r->path, SourceProblemText(r->verdict));
        if (rejected)
            *rejected = std::move(*r);
        return error;
    }
    rows->resize(static_cast<std::size_t>(LibraryEntryCount(rows->size())));
    side.m_sources = std::move(*rows);
    return side;
}

int DiffSide::GetEntryCount() const
{
    return static_cast<int>(IsList() ? m_sources.size() : m_index.sizes.size());
}

const std::string& DiffSide::GetSource(int entry) const
{
    static const std::string NONE;
    return IsList() ? m_sources[static_cast<std::size_t>(entry)] : NONE;
}

Result<DiffSide::EntryBytes> DiffSide::OpenEntry(int entry, std::optional<RejectedSource>* rejected) const
{
    const auto i = static_cast<std::size_t>(entry);
    EntryBytes bytes;
    if (!IsList()) {
        bytes.fd = m_library.fd();
        bytes.offset = m_index.offsets[i];
        bytes.bytes = m_index.sizes[i];
        bytes.path = m_path;
        return bytes;
    }
    const std::string& path = m_sources[i];
    Result<EntrySource> source = OpenEntrySource(path);
    if (!source)
        return source.error();
    if (!source->verdict.IsAccepted()) {
        // Changed since validation: the build would have stored nothing.
        Error error(path, SourceProblemText(source->verdict));
        if (rejected)
            *rejected = RejectedSource{entry, path, source->verdict};
        return error;
    }
    bytes.owned = std::move(source->file);
    bytes.fd = bytes.owned.fd();
    bytes.offset = source->offset;
    bytes.bytes = source->bytes;
    bytes.path = path;
    return bytes;
}

Result<LibraryDiff> LibraryDiff::Compare(const DiffSide& a, const DiffSide& b,
                                         std::optional<RejectedSource>* rejected)
{
    LibraryDiff diff(a, b);
    const int na = a.GetEntryCount();
    const int nb = b.GetEntryCount();
    diff.m_seenA.resize(static_cast<std::size_t>(na));
    diff.m_seenB.resize(static_cast<std::size_t>(nb));
    std::vector<unsigned char> bufA(PIECE_BYTES), bufB(PIECE_BYTES);
    bool identical = na == nb;
    for (int i = 0; i < std::max(na, nb); ++i) {
        std::optional<DiffSide::EntryBytes> ea, eb;
        if (i < na) {
            Result<DiffSide::EntryBytes> e = a.OpenEntry(i, rejected);
            if (!e)
                return e.error();
            ea = std::move(*e);
        }
        if (i < nb) {
            Result<DiffSide::EntryBytes> e = b.OpenEntry(i, rejected);
            if (!e)
                return e.error();
            eb = std::move(*e);
        }
        bool differs = true;
        if (ea && eb && ea->bytes == eb->bytes) {
            Result<bool> same = SameBytes(*ea, *eb, bufA, bufB);
            if (!same)
                return same.error();
            differs = !*same;
        }
        identical = identical && !differs;
        if (ea)
            diff.m_seenA[static_cast<std::size_t>(i)] = Seen{ea->bytes, differs};
        if (eb)
            diff.m_seenB[static_cast<std::size_t>(i)] = Seen{eb->bytes, differs};
    }
    diff.m_identical = identical;

    // A move pairs differing entries of equal size, one on each side: only
    // those are read again for their fingerprints.
    auto sizesOf = [](const std::vector<Seen>& seen) {
        std::unordered_set<std::uint32_t> sizes;
        for (const Seen& s : seen)
            if (s.differs)
                sizes.insert(s.size);
        return sizes;
    };
    const std::unordered_set<std::uint32_t> sizesA = sizesOf(diff.m_seenA), sizesB = sizesOf(diff.m_seenB);
    auto fingerprint = [&](const DiffSide& side, std::vector<Seen>& seen,
                           const std::unordered_set<std::uint32_t>& other) -> IoStatus {
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (!seen[i].differs || !other.count(seen[i].size))
                continue;
            Result<DiffSide::EntryBytes> e = side.OpenEntry(static_cast<int>(i), rejected);
            if (!e)
                return e.error();
            if (e->bytes != seen[i].size)
                return Error(e->path, Message(Msg::ChangedWhileCompared));
            Result<std::uint64_t> print = FingerprintEntry(*e, bufA);
            if (!print)
                return print.error();
            seen[i].print = *print;
            seen[i].printed = true;
        }
        return {};
    };
    if (IoStatus s = fingerprint(a, diff.m_seenA, sizesB); !s.ok())
        return s.error();
    if (IoStatus s = fingerprint(b, diff.m_seenB, sizesA); !s.ok())
        return s.error();
    return diff;
}

Result<bool> LibraryDiff::SameAudio(int a, int b, std::optional<RejectedSource>* rejected) const
{
    Result<DiffSide::EntryBytes> ex = m_a->OpenEntry(a, rejected);
    if (!ex)
        return ex.error();
    Result<DiffSide::EntryBytes> ey = m_b->OpenEntry(b, rejected);
    if (!ey)
        return ey.error();
    // A list's source read again must still give what it gave the first time.
    if (ex->bytes != m_seenA[static_cast<std::size_t>(a)].size)
        return Error(ex->path, Message(Msg::ChangedWhileCompared));
    if (ey->bytes != m_seenB[static_cast<std::size_t>(b)].size)
        return Error(ey->path, Message(Msg::ChangedWhileCompared));
    std::vector<unsigned char> bx(PIECE_BYTES), by(PIECE_BYTES);
    return SameBytes(*ex, *ey, bx, by);
}

Result<DiffTotals> LibraryDiff::Report(const std::function<void(const DiffEntry&)>& take,
                                       std::optional<RejectedSource>* rejected) const
{
    DiffTotals totals;
    const int na = static_cast<int>(m_seenA.size());
    const int nb = static_cast<int>(m_seenB.size());
    for (int i = 0; i < std::max(na, nb); ++i) {
        DiffEntry e;
        e.index = i;
        if (i < na)
            e.sizeA = m_seenA[static_cast<std::size_t>(i)].size;
        if (i < nb)
            e.sizeB = m_seenB[static_cast<std::size_t>(i)].size;
        if (i >= nb) {
            e.status = DiffStatus::Removed;
            ++totals.removed;
        } else if (!m_seenB[static_cast<std::size_t>(i)].differs) {
            e.status = DiffStatus::Identical;
            ++totals.identical;
        } else {
            // Moved: the audio of another index of the first, whose own entry
            // changed; a copy of an entry that stayed is no move.
            const Seen& mine = m_seenB[static_cast<std::size_t>(i)];
            for (int j = 0; j < na && mine.printed && e.movedFrom < 0; ++j) {
                const Seen& from = m_seenA[static_cast<std::size_t>(j)];
                if (j == i || !from.printed || from.size != mine.size || from.print != mine.print)
                    continue;
                Result<bool> same = SameAudio(j, i, rejected);
                if (!same)
                    return same.error();
                if (*same)
                    e.movedFrom = j;
            }
            if (e.movedFrom >= 0) {
                e.status = DiffStatus::Moved;
                ++totals.moved;
            } else if (i >= na) {
                e.status = DiffStatus::Added;
                ++totals.added;
            } else {
                e.status = DiffStatus::Changed;
                ++totals.changed;
            }
        }
        take(e);
    }
    return totals;
}

} // namespace voicelib
