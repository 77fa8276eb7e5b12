#include "core/library.h"

#include "core/byteorder.h"
#include "core/messages.h"
#include "core/tempfiles.h"
#include "core/wave.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voicelib {

namespace {

constexpr std::uint64_t COUNT_BYTES = 4;
constexpr std::uint64_t SIZE_BYTES = 4;
// The largest whole-block entry a 32-bit size can describe.
constexpr std::uint64_t MAX_ENTRY_BYTES = UINT32_MAX / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE;

// The count and N size words, little-endian.
std::vector<unsigned char> EncodeHeader(int n, const SizeTable& sizes)
{
    std::vector<unsigned char> out(COUNT_BYTES + SIZE_BYTES * static_cast<std::size_t>(n));
    PutLe32(out.data(), static_cast<std::uint32_t>(n));
    for (int i = 0; i < n; ++i)
        PutLe32(out.data() + COUNT_BYTES + SIZE_BYTES * static_cast<std::size_t>(i),
                sizes[static_cast<std::size_t>(i)]);
    return out;
}

Error CopyFailed(const std::string& source, const AtomicFile& target, const CopyOutcome& copy)
{
    if (copy.where == CopyFailure::Write)
        return target.Fail(copy.code);
    if (copy.code == std::errc::no_message_available)
        return Error(source, Message(Msg::SourceShrank));
    return Error(copy.code, source);
}

} // namespace

int LibraryEntryCount(std::size_t rows)
{
    return static_cast<int>(std::min<std::size_t>(rows, MAX_LIBRARY_ENTRIES));
}

namespace {

// A source opened for its entry, with what its check found.
struct OpenedEntry
{
    SourceVerdict verdict;     // as ProbeSource would give it
    Result<EntrySource> entry; // fails where a build fails
    SourceInfo info;           // accepted and measured: its format and audio
    FileId id;                 // from the check's fstat; device 0 when there was none
};

// Where an accepted source's entry lies, from what its check read: no
// second stat or header read. Fails where a build fails.
IoStatus MeasureEntry(int fd, const SourceHead& head, const std::string& path, EntrySource* entry,
                      SourceInfo* info)
{
    Result<AudioSpan> located = LocateAudio(fd, head.size, head.bytes.data(), head.length);
    if (!located)
        return Error(located.code(), path);
    info->state = SourceInfo::State::Accepted;
    info->fileSize = head.size;
    info->audio = *located;
    ReadFormatBlock(head.bytes.data(), info);
    const std::uint64_t bytes = located->length / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE;
    if (bytes > MAX_ENTRY_BYTES)
        return Error(path, Message(Msg::EntryTooLarge));
    entry->offset = located->offset;
    entry->bytes = static_cast<std::uint32_t>(bytes);
    return {};
}

OpenedEntry OpenEntry(const std::string& path)
{
    // Checked on the descriptor the copy reads, so a file changed since
    // validation is caught rather than copied.
    OpenedSource opened = OpenAndProbeSource(path);
    const SourceHead& head = opened.head;
    OpenedEntry out{opened.verdict, EntrySource{opened.verdict, std::move(opened.file)}, {}, {}};
    EntrySource& entry = *out.entry;
    if (entry.file.valid() && head.device != 0)
        out.id = FileId{head.device, head.inode, path};
    if (entry.verdict.problem == SourceProblem::Unreadable && entry.file.valid()) {
        out.entry = Error(entry.verdict.code, path);
        return out;
    }
    if (!entry.verdict.IsAccepted())
        return out;
    if (IoStatus s = MeasureEntry(entry.file.fd(), head, path, &entry, &out.info); !s.ok())
        out.entry = s.error();
    return out;
}

// A source cut since its check, checked and measured again on its open
// file: not accepted now, it comes back with its verdict and no bytes.
Result<EntrySource> RecheckEntry(const EntrySource& cut, const std::string& path)
{
    SourceHead head = ReadSourceHead(cut.file.fd());
    EntrySource again{head.verdict, FileHandle()};
    if (again.verdict.problem == SourceProblem::Unreadable)
        return Error(again.verdict.code, path);
    SourceInfo info;
    if (again.verdict.IsAccepted()) {
        if (IoStatus s = MeasureEntry(cut.file.fd(), head, path, &again, &info); !s.ok())
            return s.error();
    }
    return again;
}

// How many sources a build may hold open at once: all of a full library
// when the process may open that many, raising its soft limit if need be,
// with room left for what the caller and its libraries open meanwhile.
std::size_t OpenSourceBudget(std::size_t wanted)
{
    constexpr rlim_t RESERVE = 128;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const rlim_t needed = static_cast<rlim_t>(wanted) + RESERVE + 64;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    std::size_t inUse = 0;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (::readdir(fds))
            ++inUse;
        ::closedir(fds);
    } else {
        inUse = 64;
    }
    if (limit.rlim_cur <= inUse + RESERVE)
        return 0;
    return std::min<std::size_t>(wanted, static_cast<std::size_t>(limit.rlim_cur) - inUse - RESERVE);
}

} // namespace

Result<EntrySource> OpenEntrySource(const std::string& path)
{
    return std::move(OpenEntry(path).entry);
}

namespace {

// A source opened for its copy only now, kept in spare for as long as the copy takes.
Result<const EntrySource*> OpenEntrySourceInto(const std::string& path, EntrySource* spare)
{
    Result<EntrySource> opened = OpenEntrySource(path);
    if (!opened)
        return opened.error();
    *spare = std::move(*opened);
    return static_cast<const EntrySource*>(spare);
}

} // namespace

struct BuildSources::Checked
{
    OpenedEntry opened;
    bool held = false; // the copy reads opened.entry's file; else it opens the path again
};

BuildSources::BuildSources(std::vector<std::string> rows) : m_rows(std::move(rows))
{
    const auto n = static_cast<std::size_t>(LibraryEntryCount(m_rows.size()));
    const std::size_t budget = OpenSourceBudget(n);
    m_entries.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        Checked c{OpenEntry(m_rows[i]), i < budget};
        if (!c.held && c.opened.entry)
            c.opened.entry->file.reset();
        m_entries.push_back(std::move(c));
    }
}

BuildSources::~BuildSources() = default;

int BuildSources::Count() const
{
    return static_cast<int>(m_entries.size());
}

std::optional<RejectedSource> BuildSources::FirstInvalid() const
{
    for (int i = 0; i < Count(); ++i) {
        const SourceVerdict& v = m_entries[static_cast<std::size_t>(i)].opened.verdict;
        if (!v.IsAccepted())
            return RejectedSource{i, Path(i), v};
    }
    return std::nullopt;
}

std::vector<RejectedSource> BuildSources::Invalid() const
{
    std::vector<RejectedSource> out;
    for (int i = 0; i < Count(); ++i) {
        const SourceVerdict& v = m_entries[static_cast<std::size_t>(i)].opened.verdict;
        if (!v.IsAccepted())
            out.push_back({i, Path(i), v});
    }
    return out;
}

std::vector<RowWarnings> BuildSources::Warnings() const
{
    std::vector<RowWarnings> out;
    for (int i = 0; i < Count(); ++i) {
        std::vector<SourceWarning> w = SourceWarnings(m_entries[static_cast<std::size_t>(i)].opened.info);
        if (!w.empty())
            out.push_back({i, Path(i), std::move(w)});
    }
    return out;
}

void BuildSources::AddTo(WriteOptions* rules) const
{
    for (int i = 0; i < Count(); ++i) {
        const Checked& c = m_entries[static_cast<std::size_t>(i)];
        // A source known by its open file needs no stat; any other by its name.
        if (c.held && c.opened.id.device != 0)
            rules->openSources.push_back(c.opened.id);
        else
            rules->sources.push_back(Path(i));
    }
}

Result<const EntrySource*> BuildSources::Entry(int i, EntrySource* spare) const
{
    const Checked& c = m_entries[static_cast<std::size_t>(i)];
    if (c.held) {
        if (!c.opened.entry)
            return c.opened.entry.error();
        return &*c.opened.entry;
    }
    return OpenEntrySourceInto(Path(i), spare);
}

namespace {

// Probes the rows a library takes, in order, handing each rejected one to
// take until it returns false.
template <typename Fn> void ForEachInvalidSource(const std::vector<std::string>& paths, Fn&& take)
{
    const auto n = static_cast<std::size_t>(LibraryEntryCount(paths.size()));
    for (std::size_t i = 0; i < n; ++i) {
        SourceVerdict v = ProbeSource(paths[i]);
        if (!v.IsAccepted() && !take(RejectedSource{static_cast<int>(i), paths[i], v}))
            return;
    }
}

} // namespace

std::optional<RejectedSource> FindFirstInvalidSource(const std::vector<std::string>& paths)
{
    std::optional<RejectedSource> first;
    ForEachInvalidSource(paths, [&](RejectedSource r) {
        first = std::move(r);
        return false;
    });
    return first;
}

std::vector<RejectedSource> FindInvalidSources(const std::vector<std::string>& paths)
{
    std::vector<RejectedSource> rejected;
    ForEachInvalidSource(paths, [&](RejectedSource r) {
        rejected.push_back(std::move(r));
        return true;
    });
    return rejected;
}

namespace {

// Writes the library of n entries from rows rows; entryAt(i, spare) gives
// entry i for its copy, pathAt(i) its name.
template <typename EntryAt, typename PathAt>
WriteResult WriteEntries(const std::string& target, std::size_t rows, EntryAt&& entryAt, PathAt&& pathAt,
                         const BuildProgress& progress, WriteOptions rules)
{
    WriteResult result;
    BuildSummary& summary = result.summary;
    if (rows == 0) {
        result.status = Error(target, Message(Msg::NothingToBuild));
        return result;
    }
    const int n = LibraryEntryCount(rows);
    summary.entries = n;
    summary.leftOut = static_cast<int>(rows - static_cast<std::size_t>(n));

    AtomicFile out(target, std::move(rules));
    if (IoStatus s = out.Open(); !s.ok()) {
        result.status = s;
        return result;
    }
    // Placeholder sizes first; the real table goes over them at the end.
    if (IoStatus s = out.Write(EncodeHeader(n, SizeTable{}).data(), COUNT_BYTES + SIZE_BYTES * n); !s.ok()) {
        result.status = s;
        return result;
    }

    std::uint64_t audioBytes = 0;
    for (int i = 0; i < n; ++i) {
        const std::string& path = pathAt(i);
        EntrySource spare;
        Result<const EntrySource*> entry = entryAt(i, &spare);
        if (!entry) {
            result.status = entry.error();
            return result;
        }
        const EntrySource& source = **entry;
        SourceVerdict verdict = source.verdict;
        std::uint32_t bytes = source.bytes;
        if (verdict.IsAccepted()) {
            CopyOutcome copy = CopyRange(source.file.fd(), source.offset, out.fd(), bytes);
            if (copy.where == CopyFailure::Read && copy.code == std::errc::no_message_available) {
                // Cut since its check: what it holds now, or an empty entry
                // if that no longer passes; the part copied goes.
                const auto start = static_cast<off_t>(COUNT_BYTES + SIZE_BYTES * n + audioBytes);
                Result<EntrySource> again = RecheckEntry(source, path);
                if (!again) {
                    result.status = again.error();
                    return result;
                }
                if (::ftruncate(out.fd(), start) != 0 || ::lseek(out.fd(), start, SEEK_SET) != start) {
                    result.status = out.Fail(LastError());
                    return result;
                }
                verdict = again->verdict;
                bytes = again->bytes;
                copy = verdict.IsAccepted() ? CopyRange(source.file.fd(), again->offset, out.fd(), bytes)
                                            : CopyOutcome{};
            }
            if (!copy.ok()) {
                result.status = CopyFailed(path, out, copy);
                return result;
            }
        }
        if (!verdict.IsAccepted()) {
            // Gone, unreadable or changed since validation: an empty entry.
            ++summary.failed;
            summary.failures.push_back({i, path, verdict});
        } else {
            summary.sizes[static_cast<std::size_t>(i)] = bytes;
            audioBytes += bytes;
            ++summary.ok;
        }
        if (progress && !progress(i + 1, n)) {
            result.status = Error(target, Message(Msg::Cancelled));
            return result;
        }
    }

    const std::vector<unsigned char> header = EncodeHeader(n, summary.sizes);
    if (IoStatus s = out.WriteAt(header.data() + COUNT_BYTES, header.size() - COUNT_BYTES, COUNT_BYTES);
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

} // namespace

WriteResult WriteLibrary(const std::string& target, const std::vector<std::string>& paths,
                         const BuildProgress& progress, const WriteOptions& options)
{
    WriteOptions rules = options;
    const auto n = static_cast<std::size_t>(LibraryEntryCount(paths.size()));
    rules.sources.insert(rules.sources.end(), paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(n));
    return WriteEntries(
        target, paths.size(),
        [&](int i, EntrySource* spare) {
            return OpenEntrySourceInto(paths[static_cast<std::size_t>(i)], spare);
        },
        [&](int i) -> const std::string& { return paths[static_cast<std::size_t>(i)]; }, progress,
        std::move(rules));
}

WriteResult WriteLibrary(const std::string& target, const BuildSources& sources,
                         const BuildProgress& progress, const WriteOptions& options)
{
    WriteOptions rules = options;
    sources.AddTo(&rules);
    return WriteEntries(
        target, sources.Rows(), [&](int i, EntrySource* spare) { return sources.Entry(i, spare); },
        [&](int i) -> const std::string& { return sources.Path(i); }, progress, std::move(rules));
}

Result<LibraryIndex> ReadLibraryIndex(const std::string& path)
{
    // A FIFO or device is refused before it is opened: nothing is read from it.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Error(path, Message(Msg::NotLibraryKind, KindOfFile(st.st_mode)));
    Result<FileHandle> file = OpenSource(path);
    if (!file)
        return file.error();
    Result<std::uint64_t> size = FileSize(file->fd());
    if (!size)
        return Error(size.code(), path);
    const std::uint64_t fileSize = *size;

    unsigned char word[4];
    Result<std::size_t> got = ReadAt(file->fd(), word, sizeof word, 0);
    if (!got)
        return Error(got.code(), path);
    if (*got < 4)
        return Error(path, Message(Msg::NotLibraryTooShort));
    const std::uint32_t count = Le32(word);
    if (count == 0)
        return Error(path, Message(Msg::NotLibraryCountZero));
    if (count > MAX_LIBRARY_ENTRIES)
        return Error(path, Message(Msg::NotLibraryCountOver, count, MAX_LIBRARY_ENTRIES));

    const std::uint64_t headerBytes = COUNT_BYTES + SIZE_BYTES * count;
    if (fileSize < headerBytes)
        return Error(path, Message(Msg::TruncatedSizeTable, count, headerBytes, fileSize));
    std::vector<unsigned char> table(SIZE_BYTES * count);
    got = ReadAt(file->fd(), table.data(), table.size(), COUNT_BYTES);
    if (!got)
        return Error(got.code(), path);
    if (*got != table.size())
        return Error(path, Message(Msg::TruncatedReadingSizeTable));

    LibraryIndex result;
    result.fileSize = fileSize;
    std::uint64_t offset = headerBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = Le32(table.data() + SIZE_BYTES * i);
        if (entry % AUDIO_BLOCK_SIZE != 0)
            return Error(path, Message(Msg::DamagedEntrySize, i, entry, AUDIO_BLOCK_SIZE));
        result.sizes.push_back(entry);
        result.offsets.push_back(offset);
        offset += entry; // at most 1024 * 4 GiB: no overflow in 64 bits
    }
    if (offset > fileSize)
        return Error(path, Message(Msg::TruncatedEntries, offset, fileSize));
    if (offset < fileSize)
        return Error(path, Message(Msg::DamagedEntriesEnd, offset, fileSize));
    return result;
}

Result<FileHandle> OpenIndexedLibrary(const std::string& library, const LibraryIndex& index)
{
    Result<FileHandle> file = OpenSource(library);
    if (!file)
        return file;
    Result<std::uint64_t> size = FileSize(file->fd());
    if (!size)
        return Error(size.code(), library);
    // The index describes the file as it was; never read past what is there now.
    if (*size != index.fileSize || index.offsets.size() != index.sizes.size())
        return Error(library, Message(Msg::LibraryChanged));
    for (std::size_t i = 0; i < index.sizes.size(); ++i) {
        if (index.offsets[i] + index.sizes[i] > index.fileSize)
            return Error(library, Message(Msg::LibraryChanged));
    }
    return file;
}

namespace {

// The canonical header and entry i's audio, written at dst's position.
IoStatus WriteEntry(const std::string& library, int src, const LibraryIndex& index, std::size_t i,
                    const std::string& target, int dst)
{
    const std::uint32_t bytes = index.sizes[i];
    const std::vector<unsigned char> header = MakeCanonicalWaveHeader(bytes);
    if (std::error_code ec = WriteAll(dst, header.data(), header.size()))
        return Error(ec, target);
    if (CopyOutcome copy = CopyRange(src, index.offsets[i], dst, bytes); !copy.ok())
        return Error(copy.code, copy.where == CopyFailure::Write ? target : library);
    return {};
}

mode_t Umask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool IsEntryName(const char* name)
{
    for (int k = 0; k < 4; ++k) {
        if (name[k] < '0' || name[k] > '9')
            return false;
    }
    return std::string_view(name + 4) == ".wav";
}

// Every name in a folder but "." and "..".
Result<std::vector<std::string>> ListFolder(const std::string& folder)
{
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return Error(LastError(), folder);
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(d);
    return names;
}

constexpr const char* STAGING_PREFIX = ".voicelib-extract-";

// One extract: entries are written into a locked staging folder inside the
// target folder, then moved into place together; the files they replace are
// kept as hard links until every move has succeeded, so a failure can put
// them back.
class Extraction
{
public:
    Extraction(std::string folder, int entries) : m_folder(std::move(folder)), m_entries(entries) {}
    ~Extraction() { Abandon(); }
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    IoStatus MakeFolder()
    {
        // Create the missing levels one by one, so a failure can remove
        // exactly the ones this run made.
        std::string path;
        std::size_t pos = 0;
        while (pos != std::string::npos) {
            pos = m_folder.find('/', pos + 1);
            path = m_folder.substr(0, pos);
            if (path.empty() || ::mkdir(path.c_str(), 0777) == 0) {
                if (!path.empty())
                    m_created.push_back(path);
                continue;
            }
            if (errno != EEXIST)
                return Error::FromErrno(path, errno);
        }
        struct stat st;
        if (::stat(m_folder.c_str(), &st) != 0)
            return Error::FromErrno(m_folder, errno);
        if (!S_ISDIR(st.st_mode))
            return Error::Refused(m_folder, Message(Msg::RefusedNotAFolder, KindOfFile(st.st_mode)));
        return {};
    }

    bool CreatedFolder() const { return !m_created.empty(); }

    IoStatus Stage()
    {
        // Locked for as long as it lives, so a later run can tell a dead
        // extract's folder; a sweep that took it first removes it: make another.
        for (int attempt = 0;; ++attempt) {
            std::string tmpl = m_folder + "/" + STAGING_PREFIX + "XXXXXX";
            if (!::mkdtemp(tmpl.data()))
                return Error::FromErrno(m_folder, errno);
            FileHandle fd(::open(tmpl.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!fd.valid())
                return Error::FromErrno(m_folder, errno);
            if (HoldsLiveLock(fd.fd())) {
                m_staging = tmpl;
                m_stagingFd = std::move(fd);
                break;
            }
            if (attempt == 100)
                return Error::FromErrno(m_folder, EAGAIN);
        }
        m_slot = RegisterTempPath(m_staging, m_entries);
        return {};
    }

    std::string Staged(int i) const { return m_staging + "/" + EntryFileName(i); }
    std::string Final(const std::string& name) const { return m_folder + "/" + name; }

    // Commits every staged entry and removes the stale names; all or nothing.
    IoStatus Commit(const std::vector<std::string>& stale)
    {
        // Signals wait until the moves are done or undone.
        sigset_t block, old;
        sigemptyset(&block);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&block, sig);
        ::pthread_sigmask(SIG_BLOCK, &block, &old);
        IoStatus status = MoveAll(stale);
        if (status.ok())
            m_done = true;
        else
            Undo();
        Abandon();
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (status.ok()) {
            FileHandle dir(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (dir.valid())
                ::fsync(dir.fd());
        }
        return status;
    }

private:
    struct Move
    {
        std::string final;
        std::string backup; // the replaced file, or empty when none was there
        bool removed;       // a stale name: nothing new took its place
    };

    IoStatus MoveAll(const std::vector<std::string>& stale)
    {
        for (int i = 0; i < m_entries; ++i) {
            Move m{Final(EntryFileName(i)), {}, false};
            if (IoStatus s = Backup(&m); !s.ok())
                return s;
            if (::rename(Staged(i).c_str(), m.final.c_str()) != 0)
                return Error::FromErrno(m.final, errno); // the backup link goes with the staging folder
            m_moves.push_back(m);
        }
        for (const std::string& name : stale) {
            Move m{Final(name), m_staging + "/" + name + ".old", true};
            if (::rename(m.final.c_str(), m.backup.c_str()) != 0)
                return Error::FromErrno(m.final, errno);
            m_moves.push_back(m);
        }
        return {};
    }

    IoStatus Backup(Move* m)
    {
        struct stat st;
        if (::lstat(m->final.c_str(), &st) != 0)
            return {};
        std::string backup = m_staging + "/" + m->final.substr(m_folder.size() + 1) + ".old";
        // linkat without AT_SYMLINK_FOLLOW keeps a symlink as the link it is.
        if (::linkat(AT_FDCWD, m->final.c_str(), AT_FDCWD, backup.c_str(), 0) != 0)
            return Error::FromErrno(m->final, errno);
        m->backup = backup;
        return {};
    }

    void Undo()
    {
        for (auto it = m_moves.rbegin(); it != m_moves.rend(); ++it) {
            if (!it->backup.empty())
                ::rename(it->backup.c_str(), it->final.c_str());
            else if (!it->removed)
                ::unlink(it->final.c_str());
        }
        m_moves.clear();
    }

    // Removes the staging folder and whatever is left in it.
    void Abandon()
    {
        if (!m_done && !m_moves.empty())
            Undo();
        if (!m_staging.empty()) {
            if (Result<std::vector<std::string>> names = ListFolder(m_staging)) {
                for (const std::string& name : *names)
                    ::unlink((m_staging + "/" + name).c_str());
            }
            ::rmdir(m_staging.c_str());
            UnregisterTempPath(m_slot);
            m_slot = -1;
            m_staging.clear();
            m_stagingFd.reset();
        }
        if (!m_done) {
            for (auto it = m_created.rbegin(); it != m_created.rend(); ++it)
                ::rmdir(it->c_str());
            m_created.clear();
        }
    }

    std::string m_folder;
    int m_entries;
    std::vector<std::string> m_created;
    std::string m_staging;
    FileHandle m_stagingFd; // holds the lock that marks the staging folder live
    int m_slot = -1;
    std::vector<Move> m_moves;
    bool m_done = false;
};

} // namespace

IoStatus ExtractEntry(const std::string& library, const LibraryIndex& index, int entry,
                      const std::string& target, const WriteOptions& options)
{
    if (entry < 0 || static_cast<std::size_t>(entry) >= index.sizes.size())
        return Error(library, Message(Msg::NoSuchEntry, entry, index.sizes.size()));
    Result<FileHandle> file = OpenIndexedLibrary(library, index);
    if (!file)
        return file.error();
    WriteOptions rules = options;
    rules.sources.push_back(library);
    AtomicFile out(target, std::move(rules), TargetKind::Entry);
    if (IoStatus s = out.Open(); !s.ok())
        return s;
    if (IoStatus s =
            WriteEntry(library, file->fd(), index, static_cast<std::size_t>(entry), target, out.fd());
        !s.ok())
        return s;
    return out.Commit();
}

IoStatus ExtractLibrary(const std::string& library, const LibraryIndex& index, const std::string& folder,
                        const WriteOptions& options)
{
    Result<FileHandle> file = OpenIndexedLibrary(library, index);
    if (!file)
        return file.error();
    if (folder.empty())
        return Error(folder, Message(Msg::NoFolderName));
    const int n = static_cast<int>(index.sizes.size());
    Extraction run(folder, n);
    if (IoStatus s = run.MakeFolder(); !s.ok())
        return s;
    RemoveLeftovers(folder, STAGING_PREFIX, true);

    Result<std::vector<std::string>> listed = ListFolder(folder);
    if (!listed)
        return listed.error();
    const std::vector<std::string>& names = *listed;
    if (!names.empty() && !run.CreatedFolder() && !options.force)
        return Error::Refused(folder, Message(Msg::RefusedFolderNotEmpty), true);

    // Every name this run replaces or removes must pass the target rules.
    // A symlink at an entry's name is replaced, never followed: extracting
    // must not write outside the chosen folder.
    WriteOptions rules = options;
    rules.sources.push_back(library);
    std::vector<TargetInfo> infos;
    infos.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        Result<TargetInfo> info = CheckTarget(run.Final(EntryFileName(i)), rules, TargetKind::Entry);
        if (!info)
            return info.error();
        infos.push_back(std::move(*info));
    }
    std::vector<std::string> stale;
    for (const std::string& name : names) {
        if (IsEntryName(name.c_str()) && std::atoi(name.c_str()) >= n) {
            if (Result<TargetInfo> info = CheckTarget(run.Final(name), rules, TargetKind::Entry); !info)
                return info.error();
            stale.push_back(name);
        }
    }

    if (IoStatus s = run.Stage(); !s.ok())
        return s;
    const mode_t fresh = 0666 & ~Umask();
    for (int i = 0; i < n; ++i) {
        const std::string target = run.Final(EntryFileName(i));
        const TargetInfo& info = infos[static_cast<std::size_t>(i)];
        FileHandle out(::open(run.Staged(i).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!out.valid())
            return Error::FromErrno(target, errno);
        if (info.exists) {
            if (::fchown(out.fd(), info.uid, info.gid) != 0 &&
                ::fchown(out.fd(), static_cast<uid_t>(-1), info.gid) != 0) {
                // Not ours to give away: the file stays this user's.
            }
        }
        ::fchmod(out.fd(), info.exists ? info.mode : fresh);
        if (IoStatus s =
                WriteEntry(library, file->fd(), index, static_cast<std::size_t>(i), target, out.fd());
            !s.ok())
            return s;
        if (::fsync(out.fd()) != 0 || ::close(out.release()) != 0)
            return Error::FromErrno(target, errno);
    }
    return run.Commit(stale);
}

} // namespace voicelib
