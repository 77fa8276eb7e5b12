#pragma once

// The voice library file: a 32-bit little-endian entry count N, N 32-bit
// sizes, then every entry's audio back to back. Sizes are whole multiples of
// AUDIO_BLOCK_SIZE. No magic number.

#include "core/fileio.h"
#include "core/source_info.h"
#include "core/wave.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace voicelib {

inline constexpr int MAX_LIBRARY_ENTRIES = 1024;
inline constexpr std::uint32_t AUDIO_BLOCK_SIZE = 160;

using SizeTable = std::array<std::uint32_t, MAX_LIBRARY_ENTRIES>;

// How many entries a library built from so many rows holds: min(rows, 1024).
int LibraryEntryCount(std::size_t rows);

struct BuildSummary
{
    int entries = 0;                      // N = min(rows, 1024)
    int ok = 0;                           // sources opened and copied
    int failed = 0;                       // sources that could not be opened or no longer passed (size 0)
    int leftOut = 0;                      // rows beyond 1024, not in the library
    std::uint64_t bytes = 0;              // size of the library file
    SizeTable sizes{};                    // entries 0..N-1 as written, the rest 0
    std::vector<RejectedSource> failures; // the failed rows in order, with why
};

// The first of the first min(rows, 1024) paths that does not exist or is not
// accepted, with its verdict; nothing when all pass.
std::optional<RejectedSource> FindFirstInvalidSource(const std::vector<std::string>& paths);

// Every one of the first min(rows, 1024) paths that is not accepted, in order.
std::vector<RejectedSource> FindInvalidSources(const std::vector<std::string>& paths);

// What a library stores of one source, as the build copies it: the source
// open, and the range of it the entry holds (its audio cut to whole blocks).
struct EntrySource
{
    SourceVerdict verdict; // checked on this open file; not accepted: an empty entry
    FileHandle file;
    std::uint64_t offset = 0;
    std::uint32_t bytes = 0;
};

// Opens a source for its entry. A source that is gone or no longer passes
// comes back with its verdict and no bytes; fails where a build fails: a read
// error, audio over what one entry can hold.
Result<EntrySource> OpenEntrySource(const std::string& path);

// The sources of one build, the first min(rows, 1024), each opened and
// checked once: the validation, the warnings, the target rules and the copy
// all use that one descriptor, its one fstat and its one header read, so what
// was checked is what is copied. Past what the process may hold open, a
// source is closed after its check and opened and checked again for its copy.
class BuildSources
{
public:
    explicit BuildSources(std::vector<std::string> rows);
    ~BuildSources();
    BuildSources(const BuildSources&) = delete;
    BuildSources& operator=(const BuildSources&) = delete;

    std::size_t Rows() const { return m_rows.size(); }
    int Count() const; // entries: min(rows, 1024)
    const std::string& Path(int i) const { return m_rows[static_cast<std::size_t>(i)]; }

    std::optional<RejectedSource> FirstInvalid() const;
    std::vector<RejectedSource> Invalid() const;
    std::vector<RowWarnings> Warnings() const;
    // The target rules for these sources: a target may be none of them.
    void AddTo(WriteOptions* rules) const;
    // Entry i for its copy: the file opened for the check, or, past what
    // could be held open, the file opened and checked again into spare.
    Result<const EntrySource*> Entry(int i, EntrySource* spare) const;

private:
    struct Checked;
    std::vector<std::string> m_rows;
    std::vector<Checked> m_entries;
};

// Called after each entry with (entries done, N). Returning false cancels
// the build; the target is then left as it was.
using BuildProgress = std::function<bool(int done, int total)>;

struct WriteResult
{
    IoStatus status; // failure: nothing was written, the old target is intact
    BuildSummary summary;
};

// Writes the first min(rows, 1024) paths as a library to target, atomically.
// Each source's header is checked again on the file opened for the copy: a
// source that cannot be opened or no longer passes counts as failed with size
// 0; any other read or write error fails the whole build. The target rules
// (see CheckTarget) take those paths as sources, besides options.sources.
WriteResult WriteLibrary(const std::string& target, const std::vector<std::string>& paths,
                         const BuildProgress& progress = {}, const WriteOptions& options = {});
// The same, on sources already open and checked.
WriteResult WriteLibrary(const std::string& target, const BuildSources& sources,
                         const BuildProgress& progress = {}, const WriteOptions& options = {});

// A library file's table, checked against the file's length.
struct LibraryIndex
{
    std::uint64_t fileSize = 0;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint64_t> offsets; // absolute offset of each entry's audio
};

// Reads and checks a library's header: rejects what is not a regular file
// before opening it, a truncated file, a count of
// 0 or over 1024, sizes that are not whole blocks or do not add up to the
// file's length.
Result<LibraryIndex> ReadLibraryIndex(const std::string& path);

// Opens a library whose index was read earlier, refusing one that changed
// since: entry i is then sizes[i] bytes at offsets[i] of the file.
Result<FileHandle> OpenIndexedLibrary(const std::string& library, const LibraryIndex& index);

// Writes entry i of a checked library as a canonical A-law WAVE file.
IoStatus ExtractEntry(const std::string& library, const LibraryIndex& index, int entry,
                      const std::string& target, const WriteOptions& options = {});

// Writes every entry i as folder/EntryFileName(i), all or nothing: on
// failure the files this run created are gone and the ones it would have
// replaced are as they were. The folder is created if missing; one that
// already holds files is refused unless options.force, which also removes
// NNNN.wav files beyond the library's count.
IoStatus ExtractLibrary(const std::string& library, const LibraryIndex& index, const std::string& folder,
                        const WriteOptions& options = {});

} // namespace voicelib
