#pragma once

// Two libraries compared entry by entry, where either may be a library file
// or the library a voice list file builds. Neither is written anywhere nor
// held in memory: entries are read in pieces, and a list's entries come from
// the build's own reading of each source.

#include "core/library.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace voicelib {

// What became of an entry from the first library to the second.
enum class DiffStatus
{
    Identical,
    Changed,
    Moved,   // its audio is that of another index of the first, whose entry changed
    Added,   // beyond the first library's count
    Removed, // beyond the second library's count
};

// "identical", "changed", "moved", "added", "removed": for scripts.
const char* DiffStatusCode(DiffStatus status);

// One side of a comparison.
class DiffSide
{
public:
    // Opens a library, its table read and checked, or a voice list file whose
    // rows (relative ones from its folder) pass the build's validation. A
    // file that starts with a zero byte among its first four is taken for a
    // library (a count of at most 1024 always holds one), any other for a
    // list. A rejected row fails with *rejected set to it.
    static Result<DiffSide> Open(const std::string& path, std::optional<RejectedSource>* rejected = nullptr);

    bool IsList() const { return !m_sources.empty(); }
    const std::string& GetPath() const { return m_path; }
    int GetEntryCount() const;
    // A list's source of entry i; "" for a library.
    const std::string& GetSource(int entry) const;

    // The file holding entry i's bytes and where they lie.
    struct EntryBytes
    {
        FileHandle owned; // a list's source, open while the entry is read
        int fd = -1;
        std::uint64_t offset = 0;
        std::uint32_t bytes = 0;
        std::string path; // the file, for messages
    };
    // Opens entry i as the build would copy it; a list's source that no
    // longer passes fails, named in *rejected.
    Result<EntryBytes> OpenEntry(int entry, std::optional<RejectedSource>* rejected = nullptr) const;

private:
    std::string m_path;
    LibraryIndex m_index;               // a library's table
    FileHandle m_library;               // a library, open for the whole comparison
    std::vector<std::string> m_sources; // a list's first 1024 rows, resolved
};

// One index of the comparison, in the order of the entries.
struct DiffEntry
{
    int index = 0;
    DiffStatus status = DiffStatus::Identical;
    int movedFrom = -1;                        // Moved: the first library's index whose audio this is
    std::optional<std::uint32_t> sizeA, sizeB; // absent where a side has no such entry
};

struct DiffTotals
{
    int identical = 0;
    int changed = 0;
    int moved = 0;
    int added = 0;
    int removed = 0;
};

class LibraryDiff
{
public:
    // Reads both sides once: entries of equal size are compared until they
    // differ, and the audio of the entries that differ is fingerprinted. The
    // sides must stay open until Report is done.
    static Result<LibraryDiff> Compare(const DiffSide& a, const DiffSide& b,
                                       std::optional<RejectedSource>* rejected = nullptr);

    // Whether the two would be byte-identical files.
    bool IsIdentical() const { return m_identical; }

    // Hands every index to take, in order; a move is confirmed byte for byte
    // before it is told. Fails only when rereading an entry fails.
    Result<DiffTotals> Report(const std::function<void(const DiffEntry&)>& take,
                              std::optional<RejectedSource>* rejected = nullptr) const;

private:
    // What pass one learnt of an entry on one side.
    struct Seen
    {
        std::uint32_t size = 0;
        bool differs = false;    // not the same at the same index of the other side
        std::uint64_t print = 0; // fingerprint of the audio, where a move needs it
        bool printed = false;
    };

    LibraryDiff(const DiffSide& a, const DiffSide& b) : m_a(&a), m_b(&b) {}
    // Whether entry a of the first and entry b of the second hold the same bytes.
    Result<bool> SameAudio(int a, int b, std::optional<RejectedSource>* rejected) const;

    const DiffSide* m_a;
    const DiffSide* m_b;
    std::vector<Seen> m_seenA, m_seenB;
    bool m_identical = false;
};

} // namespace voicelib
