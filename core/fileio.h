#pragma once

// Small POSIX file layer shared by the library writer and the list file:
// whole reads and writes that retry on EINTR, a fast range copy, and an
// atomic replace-by-rename. Every write and read of the engine goes through
// here, and its data through FileDataCalls(), so tests can make them fail.

#include "core/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace voicelib {

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

    // Opens a regular file (or anything open(2) accepts) for reading.
    static Result<FileHandle> OpenRead(const std::string& path);

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void reset();
    int release(); // gives up ownership without closing

private:
    int m_fd = -1;
};

// Reads up to n bytes at offset; stops early only at end of file.
// Returns the bytes read.
Result<std::size_t> ReadAt(int fd, void* buf, std::size_t n, std::uint64_t offset);

// Writes all n bytes at the current position (or at offset with WriteAllAt).
std::error_code WriteAll(int fd, const void* buf, std::size_t n);
std::error_code WriteAllAt(int fd, const void* buf, std::size_t n, std::uint64_t offset);

// Which side of a failed CopyRange was at fault.
enum class CopyFailure
{
    None,
    Read,
    Write
};

// How a CopyRange ended: no error, or the error and the side at fault.
struct CopyOutcome
{
    std::error_code code;
    CopyFailure where = CopyFailure::None;

    bool ok() const { return !code; }
};

// Copies len bytes starting at src_offset of src to the current position of
// dst, in the kernel where it can. Fails with EIO-like errors, or with
// ENODATA when src ends before len bytes were copied.
CopyOutcome CopyRange(int src, std::uint64_t src_offset, int dst, std::uint64_t len);

// Size of an open file.
Result<std::uint64_t> FileSize(int fd);

// What the mode says a file is: "a folder", "a FIFO (named pipe)", "a regular
// file", ...; the one wording of each kind in every message.
const char* KindOfFile(mode_t mode);

// A file by what it is rather than by name: the path is for messages.
struct FileId
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string path;
};

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
    // The same rule for sources the operation holds open, known by the
    // device and inode their open descriptor had: no stat of their names.
    std::vector<FileId> openSources;
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
Result<TargetInfo> CheckTarget(const std::string& target, const WriteOptions& options, TargetKind kind);

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
    const std::string& GetTarget() const { return m_target; }

    IoStatus Write(const void* buf, std::size_t n);
    IoStatus WriteAt(const void* buf, std::size_t n, std::uint64_t offset);
    // An error that arose while filling the file, reported against the target.
    Error Fail(std::error_code code) const { return Error(code, m_target); }

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
