#include "core/fileio.h"

#include "core/tempfiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace voicelib {

namespace {

struct FaultState
{
    std::uint64_t writeBudget = IoFault::kNever;
    int writeErr = 0;
    std::uint64_t readBudget = IoFault::kNever;
    int readErr = 0;
};

FaultState g_fault;

bool FaultActive()
{
    return g_fault.writeBudget != IoFault::kNever || g_fault.readBudget != IoFault::kNever;
}

// Takes up to n bytes from a budget; 0 means the budget is spent.
std::size_t Allow(std::uint64_t& budget, std::size_t n)
{
    if (budget == IoFault::kNever)
        return n;
    std::size_t allowed = static_cast<std::size_t>(std::min<std::uint64_t>(budget, n));
    budget -= allowed;
    return allowed;
}

// Gives back what a short (or failed) transfer did not use, so the budget
// counts bytes that really moved.
void Refund(std::uint64_t& budget, std::size_t taken, ssize_t moved)
{
    if (budget == IoFault::kNever)
        return;
    std::size_t used = moved > 0 ? static_cast<std::size_t>(moved) : 0;
    if (used < taken)
        budget += taken - used;
}

std::string DirName(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t CurrentUmask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

IoStatus IoStatus::Error(std::string path, std::string reason)
{
    IoStatus s;
    s.m_failed = true;
    s.m_path = std::move(path);
    s.m_reason = std::move(reason);
    return s;
}

IoStatus IoStatus::FromErrno(std::string path, int err)
{
    return Error(std::move(path), std::strerror(err));
}

IoStatus IoStatus::Refused(std::string path, std::string reason, bool forceable)
{
    IoStatus s = Error(std::move(path), std::move(reason));
    s.m_forceable = forceable;
    return s;
}

std::string IoStatus::message() const
{
    if (ok())
        return {};
    return m_path + ": " + m_reason;
}

void IoFault::FailWritesAfter(std::uint64_t bytes, int err)
{
    g_fault.writeBudget = bytes;
    g_fault.writeErr = err;
}

void IoFault::FailReadsAfter(std::uint64_t bytes, int err)
{
    g_fault.readBudget = bytes;
    g_fault.readErr = err;
}

void IoFault::Reset()
{
    g_fault = FaultState{};
}

FileHandle::~FileHandle()
{
    reset();
}

FileHandle::FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

int FileHandle::release()
{
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

void FileHandle::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

FileHandle FileHandle::OpenRead(const std::string& path, int* err)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && err)
        *err = errno;
    return FileHandle(fd);
}

long long ReadAt(int fd, void* buf, std::size_t n, std::uint64_t offset, int* err)
{
    auto* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        std::size_t want = Allow(g_fault.readBudget, n - done);
        if (want == 0) {
            *err = g_fault.readErr;
            return -1;
        }
        ssize_t r = ::pread(fd, p + done, want, static_cast<off_t>(offset + done));
        Refund(g_fault.readBudget, want, r);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            *err = errno;
            return -1;
        }
        if (r == 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<long long>(done);
}

namespace {

template <typename Fn> bool WriteLoop(const void* buf, std::size_t n, int* err, Fn&& write)
{
    const auto* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        std::size_t want = Allow(g_fault.writeBudget, n - done);
        if (want == 0) {
            *err = g_fault.writeErr;
            return false;
        }
        ssize_t w = write(p + done, want, done);
        Refund(g_fault.writeBudget, want, w);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            *err = errno;
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

bool WriteAll(int fd, const void* buf, std::size_t n, int* err)
{
    return WriteLoop(buf, n, err,
                     [fd](const char* p, std::size_t len, std::size_t) { return ::write(fd, p, len); });
}

bool WriteAllAt(int fd, const void* buf, std::size_t n, std::uint64_t offset, int* err)
{
    return WriteLoop(buf, n, err, [fd, offset](const char* p, std::size_t len, std::size_t done) {
        return ::pwrite(fd, p, len, static_cast<off_t>(offset + done));
    });
}

bool CopyRange(int src, std::uint64_t src_offset, int dst, std::uint64_t len, int* err, CopyFailure* where)
{
    if (where)
        *where = CopyFailure::None;
    std::uint64_t done = 0;

    // The kernel copy avoids user-space buffers entirely; it is not used
    // while a test fault is armed, so the budget sees every byte. It cannot
    // tell which side failed, so any error hands the rest to the plain loop
    // below, which either gets past it or fails on the side at fault.
    if (!FaultActive()) {
        off_t in = static_cast<off_t>(src_offset);
        while (done < len) {
            std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(len - done, 1u << 30));
            ssize_t c = ::copy_file_range(src, &in, dst, nullptr, chunk, 0);
            if (c < 0 && errno == EINTR)
                continue;
            if (c <= 0)
                break;
            done += static_cast<std::uint64_t>(c);
        }
    }

    constexpr std::size_t kBuf = 256 * 1024;
    std::vector<char> buf(static_cast<std::size_t>(std::min<std::uint64_t>(len - done, kBuf)));
    while (done < len) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(len - done, buf.size()));
        long long r = ReadAt(src, buf.data(), want, src_offset + done, err);
        if (r <= 0) {
            if (r == 0)
                *err = ENODATA;
            if (where)
                *where = CopyFailure::Read;
            return false;
        }
        if (!WriteAll(dst, buf.data(), static_cast<std::size_t>(r), err)) {
            if (where)
                *where = CopyFailure::Write;
            return false;
        }
        done += static_cast<std::uint64_t>(r);
    }
    return true;
}

long long FileSize(int fd, int* err)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *err = errno;
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

const char* KindOfFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe)";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

namespace {

// Follows a chain of symlinks by hand, so that a dangling one still names
// the file to create. Returns false with *err set (ELOOP, EACCES, ...).
bool ResolveLinks(std::string* path, int* err)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path->c_str(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            *err = errno;
            return false;
        }
        if (!S_ISLNK(st.st_mode))
            return true;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n = ::readlink(path->c_str(), buf.data(), buf.size());
        if (n < 0) {
            *err = errno;
            return false;
        }
        std::string link(buf.data(), static_cast<std::size_t>(n));
        *path = (link.empty() || link[0] == '/') ? link : DirName(*path) + "/" + link;
    }
    *err = ELOOP;
    return false;
}

bool StartsWithRiff(const std::string& path)
{
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid())
        return false;
    char magic[4] = {};
    int err = 0;
    return ReadAt(file.fd(), magic, sizeof magic, 0, &err) == 4 && std::memcmp(magic, "RIFF", 4) == 0;
}

} // namespace

IoStatus CheckTarget(const std::string& target, const WriteOptions& options, TargetKind kind,
                     TargetInfo* info)
{
    if (target.empty())
        return IoStatus::Error(target, "no file name given");
    std::string real = target;
    int err = 0;
    if (kind == TargetKind::Document && !ResolveLinks(&real, &err))
        return IoStatus::FromErrno(target, err);

    TargetInfo out;
    out.real = real;
    struct stat st;
    if (::lstat(real.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return IoStatus::FromErrno(target, errno);
        *info = out;
        return {};
    }
    if (S_ISLNK(st.st_mode)) { // an entry's symlink: the link itself goes
        *info = out;
        return {};
    }
    for (const std::string& source : options.sources) {
        struct stat src;
        if (::stat(source.c_str(), &src) == 0 && src.st_dev == st.st_dev && src.st_ino == st.st_ino)
            return IoStatus::Refused(target, "refused: it is the same file as the source " + source);
    }
    if (S_ISDIR(st.st_mode))
        return IoStatus::FromErrno(target, EISDIR);
    if (!S_ISREG(st.st_mode))
        return IoStatus::Refused(target, std::string("refused: it is ") + KindOfFile(st.st_mode));
    if (::faccessat(AT_FDCWD, real.c_str(), W_OK, AT_EACCESS) != 0)
        return IoStatus::Refused(target, std::string("refused: it is write-protected (") +
                                             std::strerror(errno) + ")");
    if (kind == TargetKind::Document && !options.force && StartsWithRiff(real))
        return IoStatus::Refused(target,
                                 "refused: it is a WAVE (RIFF) file, not a voice library or list file", true);
    out.exists = true;
    out.mode = st.st_mode & 07777;
    out.uid = st.st_uid;
    out.gid = st.st_gid;
    *info = out;
    return {};
}

AtomicFile::AtomicFile(std::string target, WriteOptions options, TargetKind kind)
    : m_target(std::move(target)), m_options(std::move(options)), m_kind(kind), m_realTarget(m_target)
{
}

AtomicFile::~AtomicFile()
{
    Discard();
}

IoStatus AtomicFile::Open()
{
    TargetInfo info;
    if (IoStatus s = CheckTarget(m_target, m_options, m_kind, &info); !s.ok())
        return s;
    m_realTarget = info.real;

    const std::string dir = DirName(m_realTarget);
    const std::string prefix = TempPrefix(BaseName(m_realTarget));
    RemoveLeftovers(dir, prefix);
    std::string tmpl = dir + "/" + prefix + "XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return IoStatus::FromErrno(m_target, errno);
    m_tempPath = name.data();
    m_file = FileHandle(fd);
    // The lock tells later writers this file is not a dead one's leftover.
    ::flock(fd, LOCK_EX | LOCK_NB);
    m_slot = RegisterTempPath(m_tempPath);

    // mkstemp creates 0600; give the new file the owner and mode the old
    // one had (the owner only where this user may), or what an ordinary
    // create would give.
    if (info.exists) {
        if (::fchown(fd, info.uid, info.gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), info.gid) != 0) {
            // Not ours to give away: the file stays this user's.
        }
        ::fchmod(fd, info.mode);
    } else {
        ::fchmod(fd, 0666 & ~CurrentUmask());
    }
    return {};
}

IoStatus AtomicFile::Write(const void* buf, std::size_t n)
{
    int err = 0;
    if (!WriteAll(m_file.fd(), buf, n, &err))
        return Fail(err);
    return {};
}

IoStatus AtomicFile::WriteAt(const void* buf, std::size_t n, std::uint64_t offset)
{
    int err = 0;
    if (!WriteAllAt(m_file.fd(), buf, n, offset, &err))
        return Fail(err);
    return {};
}

IoStatus AtomicFile::Commit()
{
    if (!m_file.valid())
        return IoStatus::Error(m_target, "file is not open");
    if (::fsync(m_file.fd()) != 0)
        return Fail(errno);
    if (::close(m_file.release()) != 0)
        return Fail(errno);
    if (::rename(m_tempPath.c_str(), m_realTarget.c_str()) != 0)
        return Fail(errno);
    m_committed = true;
    UnregisterTempPath(m_slot);
    m_slot = -1;
    // Make the rename itself durable; failure here loses nothing already written.
    FileHandle dir(::open(DirName(m_realTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.fd());
    return {};
}

void AtomicFile::Discard()
{
    m_file.reset();
    if (!m_committed && !m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    UnregisterTempPath(m_slot);
    m_slot = -1;
    m_tempPath.clear();
}

} // namespace voicelib
