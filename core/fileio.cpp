#include "core/fileio.h"

#include "core/messages.h"
#include "core/syscall.h"
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

// Setting the umask to learn it would, for a moment, let another thread
// create its file under a mask of 0; it is read without changing it.
mode_t UmaskFromStatus()
{
    // Read past the test seam: this is no file the engine was asked to read.
    FileHandle status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char buf[4096];
    std::size_t len = 0;
    while (status.valid() && len < sizeof buf - 1) {
        ssize_t n = ::read(status.fd(), buf + len, sizeof buf - 1 - len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        len += static_cast<std::size_t>(n);
    }
    buf[len] = '\0';
    const char* line = std::strstr(buf, "\nUmask:");
    if (!line)
        return static_cast<mode_t>(-1);
    return static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8) & 0777);
}

// The mask at start, before any thread runs, for systems without /proc.
mode_t StartUmask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
const mode_t g_startUmask = StartUmask();

mode_t CurrentUmask()
{
    const mode_t mask = UmaskFromStatus();
    return mask == static_cast<mode_t>(-1) ? g_startUmask : mask;
}

ssize_t SystemRead(int fd, void* buf, std::size_t n, off_t offset)
{
    return ::pread(fd, buf, n, offset);
}

ssize_t SystemWriteAt(int fd, const void* buf, std::size_t n, off_t offset)
{
    return ::pwrite(fd, buf, n, offset);
}

ssize_t SystemCopy(int src, off_t* srcOffset, int dst, std::size_t n)
{
    return ::copy_file_range(src, srcOffset, dst, nullptr, n, 0);
}

} // namespace

DataCalls& FileDataCalls()
{
    static DataCalls calls{SystemRead, ::write, SystemWriteAt, SystemCopy};
    return calls;
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

Result<FileHandle> FileHandle::OpenRead(const std::string& path)
{
    Result<int> fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (!fd)
        return Error(fd.code(), path);
    return FileHandle(*fd);
}

Result<std::size_t> ReadAt(int fd, void* buf, std::size_t n, std::uint64_t offset)
{
    auto* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        Result<ssize_t> r = Retry([&] {
            return FileDataCalls().read.load()(fd, p + done, n - done, static_cast<off_t>(offset + done));
        });
        if (!r)
            return r.error();
        if (*r == 0)
            break;
        done += static_cast<std::size_t>(*r);
    }
    return done;
}

namespace {

template <typename Fn> std::error_code WriteLoop(const void* buf, std::size_t n, Fn&& write)
{
    const auto* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        Result<ssize_t> w = Retry([&] { return write(p + done, n - done, done); });
        if (!w)
            return w.code();
        done += static_cast<std::size_t>(*w);
    }
    return {};
}

} // namespace

std::error_code WriteAll(int fd, const void* buf, std::size_t n)
{
    return WriteLoop(buf, n, [fd](const char* p, std::size_t len, std::size_t) {
        return FileDataCalls().write.load()(fd, p, len);
    });
}

std::error_code WriteAllAt(int fd, const void* buf, std::size_t n, std::uint64_t offset)
{
    return WriteLoop(buf, n, [fd, offset](const char* p, std::size_t len, std::size_t done) {
        return FileDataCalls().writeAt.load()(fd, p, len, static_cast<off_t>(offset + done));
    });
}

CopyOutcome CopyRange(int src, std::uint64_t src_offset, int dst, std::uint64_t len)
{
    std::uint64_t done = 0;

    // The kernel copy avoids user-space buffers entirely. It cannot tell
    // which side failed, so any error hands the rest to the plain loop
    // below, which either gets past it or fails on the side at fault.
    off_t in = static_cast<off_t>(src_offset);
    while (done < len) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(len - done, 1u << 30));
        Result<ssize_t> c = Retry([&] { return FileDataCalls().copy.load()(src, &in, dst, chunk); });
        if (!c || *c == 0)
            break;
        done += static_cast<std::uint64_t>(*c);
    }

    constexpr std::size_t COPY_CHUNK_BYTES = 256 * 1024;
    std::vector<char> buf(static_cast<std::size_t>(std::min<std::uint64_t>(len - done, COPY_CHUNK_BYTES)));
    while (done < len) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(len - done, buf.size()));
        Result<std::size_t> r = ReadAt(src, buf.data(), want, src_offset + done);
        if (!r || *r == 0)
            return {r ? std::make_error_code(std::errc::no_message_available) : r.code(), CopyFailure::Read};
        if (std::error_code ec = WriteAll(dst, buf.data(), *r))
            return {ec, CopyFailure::Write};
        done += *r;
    }
    return {};
}

Result<std::uint64_t> FileSize(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return Error(LastError());
    return static_cast<std::uint64_t>(st.st_size);
}

const char* KindOfFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return MessageText(Msg::KindFolder);
    if (S_ISFIFO(mode))
        return MessageText(Msg::KindFifo);
    if (S_ISCHR(mode))
        return MessageText(Msg::KindCharDevice);
    if (S_ISBLK(mode))
        return MessageText(Msg::KindBlockDevice);
    if (S_ISSOCK(mode))
        return MessageText(Msg::KindSocket);
    if (S_ISREG(mode))
        return MessageText(Msg::KindRegular);
    return MessageText(Msg::KindOther);
}

namespace {

// Follows a chain of symlinks by hand, so that a dangling one still names
// the file to create. Fails with ELOOP, EACCES, ...
Result<std::string> ResolveLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return path;
            return Error(LastError());
        }
        if (!S_ISLNK(st.st_mode))
            return path;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0)
            return Error(LastError());
        std::string link(buf.data(), static_cast<std::size_t>(n));
        path = (link.empty() || link[0] == '/') ? link : DirName(path) + "/" + link;
    }
    return Error(std::make_error_code(std::errc::too_many_symbolic_link_levels));
}

bool StartsWithRiff(const std::string& path)
{
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid())
        return false;
    char magic[4] = {};
    Result<std::size_t> got = ReadAt(file.fd(), magic, sizeof magic, 0);
    return got.ok() && *got == 4 && std::memcmp(magic, "RIFF", 4) == 0;
}

} // namespace

Result<TargetInfo> CheckTarget(const std::string& target, const WriteOptions& options, TargetKind kind)
{
    if (target.empty())
        return Error(target, Message(Msg::NoFileName));
    std::string real = target;
    if (kind == TargetKind::Document) {
        // A link to what no name resolves to (/dev/stdout on a pipe) is still
        // what it leads to.
        struct stat led;
        if (::stat(target.c_str(), &led) == 0 && !S_ISREG(led.st_mode) && !S_ISDIR(led.st_mode))
            return Error::Refused(target, Message(Msg::RefusedKind, KindOfFile(led.st_mode)));
        Result<std::string> resolved = ResolveLinks(real);
        if (!resolved)
            return Error(resolved.error()).About(target);
        real = std::move(*resolved);
    }

    TargetInfo out;
    out.real = real;
    struct stat st;
    if (::lstat(real.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return Error::FromErrno(target, errno);
        return out;
    }
    if (S_ISLNK(st.st_mode)) // an entry's symlink: the link itself goes
        return out;
    for (const std::string& source : options.sources) {
        struct stat src;
        if (::stat(source.c_str(), &src) == 0 && src.st_dev == st.st_dev && src.st_ino == st.st_ino)
            return Error::Refused(target, Message(Msg::RefusedSameAsSource, source));
    }
    for (const FileId& source : options.openSources) {
        if (source.device == static_cast<std::uint64_t>(st.st_dev) &&
            source.inode == static_cast<std::uint64_t>(st.st_ino))
            return Error::Refused(target, Message(Msg::RefusedSameAsSource, source.path));
    }
    if (S_ISDIR(st.st_mode))
        return Error(std::make_error_code(std::errc::is_a_directory), target,
                     Message(Msg::IsKind, KindOfFile(st.st_mode)));
    if (!S_ISREG(st.st_mode))
        return Error::Refused(target, Message(Msg::RefusedKind, KindOfFile(st.st_mode)));
    if (::faccessat(AT_FDCWD, real.c_str(), W_OK, AT_EACCESS) != 0)
        return Error::Refused(target, Message(Msg::RefusedWriteProtected, SystemErrorText(errno)));
    if (kind == TargetKind::Document && !options.force && StartsWithRiff(real))
        return Error::Refused(target, Message(Msg::RefusedRiff), true);
    out.exists = true;
    out.mode = st.st_mode & 07777;
    out.uid = st.st_uid;
    out.gid = st.st_gid;
    return out;
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
    Result<TargetInfo> checked = CheckTarget(m_target, m_options, m_kind);
    if (!checked)
        return checked.error();
    const TargetInfo& info = *checked;
    m_realTarget = info.real;

    const std::string dir = DirName(m_realTarget);
    const std::string prefix = TempPrefix(BaseName(m_realTarget));
    RemoveLeftovers(dir, prefix);
    const std::string tmpl = dir + "/" + prefix + "XXXXXX";
    // The lock tells later writers this file is not a dead one's leftover.
    // Another writer's sweep may take it first, between the create and the
    // lock, and remove the file: then a fresh one is made.
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return Error::FromErrno(m_target, errno);
        if (!HoldsLiveLock(fd)) {
            ::close(fd);
            fd = -1;
            if (attempt == 100)
                return Error::FromErrno(m_target, EAGAIN);
            continue;
        }
        m_tempPath = name.data();
    }
    m_file = FileHandle(fd);
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
    if (std::error_code ec = WriteAll(m_file.fd(), buf, n))
        return Fail(ec);
    return {};
}

IoStatus AtomicFile::WriteAt(const void* buf, std::size_t n, std::uint64_t offset)
{
    if (std::error_code ec = WriteAllAt(m_file.fd(), buf, n, offset))
        return Fail(ec);
    return {};
}

IoStatus AtomicFile::Commit()
{
    if (!m_file.valid())
        return Error(m_target, Message(Msg::FileNotOpen));
    if (::fsync(m_file.fd()) != 0)
        return Fail(LastError());
    if (::close(m_file.release()) != 0)
        return Fail(LastError());
    if (::rename(m_tempPath.c_str(), m_realTarget.c_str()) != 0)
        return Fail(LastError());
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
