#pragma once

// Small POSIX file layer shared by the library writer and the list file:
// whole reads and writes that retry on EINTR, a fast range copy, and an
// atomic replace-by-rename. Every write and read of the engine goes through
// here, so tests can make them fail after a byte budget (see IoFault).

#include <cstddef>
#include <cstdint>
#include <string>

namespace voicelib {

// The outcome of a file operation: ok, or the file concerned and why not.
class IoStatus
{
public:
    IoStatus() = default;
    static IoStatus Error(std::string path, std::string reason);
    static IoStatus FromErrno(std::string path, int err);

    bool ok() const { return !m_failed; }
    const std::string& path() const { return m_path; }
    const std::string& reason() const { return m_reason; }
    // "path: reason", for messages.
    std::string message() const;

private:
    bool m_failed = false;
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

// Writes a new version of a file beside it and renames it over the target
// on Commit(), so the target is either the old file or the complete new one.
// A symbolic link as target is followed: the file it points to is replaced.
class AtomicFile
{
public:
    explicit AtomicFile(std::string target);
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
    std::string m_target;     // as given, for messages
    std::string m_realTarget; // what the rename replaces
    std::string m_tempPath;
    FileHandle m_file;
    bool m_committed = false;
};

} // namespace voicelib
