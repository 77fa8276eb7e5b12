#pragma once

// Small POSIX file layer shared by the library writer and the list file:
// whole reads and writes that retry on EINTR, a fast range copy, and an
// atomic replace-by-rename. Every write and read of the engine goes through
// here, so tests can make them fail after a byte budget (see IoFault).

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace voicelib {

// The outcome of a file operation: ok, or the file concerned and why not.
class IoStatus
{
public:
    IoStatus() = default;
    static IoStatus Error(std::string path, std::string reason);
    static IoStatus FromErrno(std::string path, int err);
    // A write the target rules refuse; forceable: --force would allow it.
    static IoStatus Refused(std::string path, std::string reason, bool forceable = false);

    bool ok() const { return !m_failed; }
    const std::string& path() const { return m_path; }
    const std::string& reason() const { return m_reason; }
    bool forceable() const { return m_forceable; }
    // "path: reason", for messages.
    std::string message() const;

private:
    bool m_failed = false;
    bool m_forceable = false;
    std::string m_path;
    std::string m_reason;
};

// Test seam: after the given number of bytes have gone through WriteAll /
// CopyRange (or ReadAt), further writes (reads) fail with the errno given.
// Process-wide; the engine is single-threaded. Use ScopedIoFault in tests.
struct IoFault
{
    static constexpr std::uint64_t kNever = UINT64_MAX;
    static void FailWritesAfter(std::uint64_t bytes, int err);
    static void FailReadsAfter(std::uint64_t bytes, int err);
    static void Reset();
};

class ScopedIoFault
{
public:
    ScopedIoFault() = default;
    ~ScopedIoFault() { IoFault::Reset(); }
    ScopedIoFault(const ScopedIoFault&) = delete;
    ScopedIoFault& operator=(const ScopedIoFault&) = delete;
};

// An open file descriptor, closed on destruction.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens a regular file (or anything open(2) accepts) for reading. On
    // failure returns an invalid handle and sets *err to errno.
    static FileHandle OpenRead(const std::string& path, int* err);

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void reset();
    int release(); // gives up ownership without closing

private:
    int m_fd = -1;
};

// Reads up to n bytes at offset; stops early only at end of file.
// Returns the bytes read, or -1 with *err set.
long long ReadAt(int fd, void* buf, std::size_t n, std::uint64_t offset, int* err);

// Writes all n bytes at the current position (or at offset with WriteAllAt).
bool WriteAll(int fd, const void* buf, std::size_t n, int* err);
bool WriteAllAt(int fd, const void* buf, std::size_t n, std::uint64_t offset, int* err);

// Which side of a failed CopyRange was at fault.
enum class CopyFailure
{
    None,
    Read,
    Write
};

// Copies len bytes starting at src_offset of src to the current position of
// dst, in the kernel where it can. Fails with EIO-like errors, or with
// ENODATA when src ends before len bytes were copied; *where (if given) then
// says whether reading src or writing dst failed.
bool CopyRange(int src, std::uint64_t src_offset, int dst, std::uint64_t len, int* err,
               CopyFailure* where = nullptr);

// Size of an open file, or -1 with *err set.
long long FileSize(int fd, int* err);

// "a folder", "a FIFO (named pipe)", ... for what is not a regular file.
const char* KindOfFile(mode_t mode);

// What a write may replace. The window and the command line pass the same
// options to the same writers, so their rules cannot differ.
struct WriteOptions
{
    // Replace a RIFF file with a library or list file; fill a folder that
    // already holds files.
    bool force = false;
    // Files the operation reads (besides the ones the writer knows of); a
    // target that is one of them, by device and inode, is refused.
    std::vector<std::string> sources;
};

enum class TargetKind
{
    // A library or list file: a symlink is followed, and an existing RIFF
    // file is refused without force (no library or list file starts so).
    Document,
    // An extracted WAVE file: a symlink at the name is itself replaced, so
    // extracting never writes outside the chosen folder.
    Entry,
};

// The file a write would replace, once the rules have passed.
struct TargetInfo
{
    std::string real; // the path to rename over: symlinks resolved for documents
    bool exists = false;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Applies the rules to a target: refused when it is one of the sources, an
// existing thing that is not a regular file, write-protected for this user
// (the verdict opening it for writing would give), or, for a document
// without force, a RIFF file. A dangling symlink names the file to create.
IoStatus CheckTarget(const std::string& target, const WriteOptions& options, TargetKind kind,
                     TargetInfo* info);

// Writes a new version of a file beside it and renames it over the target
// on Commit(), so the target is either the old file or the complete new one.
// Open() applies CheckTarget first. The temporary file is locked and named
// after the target, is removed on SIGINT/SIGTERM/SIGHUP once the handlers
// are installed, and a dead writer's leftover is removed by the next Open().
// The new file keeps the old one's mode, and its owner where allowed.
class AtomicFile
{
public:
    explicit AtomicFile(std::string target, WriteOptions options = {},
                        TargetKind kind = TargetKind::Document);
    ~AtomicFile(); // discards the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    IoStatus Open();
    int fd() const { return m_file.fd(); }
    const std::string& target() const { return m_target; }

    IoStatus Write(const void* buf, std::size_t n);
    IoStatus WriteAt(const void* buf, std::size_t n, std::uint64_t offset);
    // An error that arose while filling the file, reported against the target.
    IoStatus Fail(int err) const { return IoStatus::FromErrno(m_target, err); }

    // Flushes to disk and renames over the target.
    IoStatus Commit();
    void Discard();

private:
    std::string m_target; // as given, for messages
    WriteOptions m_options;
    TargetKind m_kind;
    std::string m_realTarget; // what the rename replaces
    std::string m_tempPath;
    FileHandle m_file;
    int m_slot = -1; // in the signal cleanup table
    bool m_committed = false;
};

} // namespace voicelib
