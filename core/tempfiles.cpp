#include "core/tempfiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voicelib {

namespace {

// A build writes one temporary file, an extract one folder: a few slots are
// plenty. Paths are copied in, so the handler never touches the heap.
constexpr int SLOT_COUNT = 64;
constexpr int SLOT_FREE = 0;
constexpr int SLOT_FILLING = 1;
constexpr int SLOT_LIVE = 2;

struct Slot
{
    std::atomic<int> state{SLOT_FREE};
    int children = 0;
    char path[PATH_MAX] = {};
};

Slot g_slots[SLOT_COUNT];
std::atomic<bool> g_installed{false};
const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Writes "NNNN.wav" (at least four digits) into out; async-signal-safe.
std::size_t FormatEntryName(int i, char* out)
{
    char digits[12];
    int n = 0;
    unsigned v = static_cast<unsigned>(i);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    std::size_t len = 0;
    for (int pad = n; pad < 4; ++pad)
        out[len++] = '0';
    while (n > 0)
        out[len++] = digits[--n];
    std::memcpy(out + len, ".wav", 5);
    return len + 4;
}

void RemoveSlot(const Slot& slot)
{
    if (slot.children <= 0) {
        ::unlink(slot.path);
        return;
    }
    char child[PATH_MAX + 16];
    std::size_t base = std::strlen(slot.path);
    std::memcpy(child, slot.path, base);
    child[base] = '/';
    for (int i = 0; i < slot.children; ++i) {
        FormatEntryName(i, child + base + 1);
        ::unlink(child);
    }
    ::rmdir(slot.path);
}

void OnSignal(int sig)
{
    for (const Slot& slot : g_slots) {
        if (slot.state.load(std::memory_order_acquire) == SLOT_LIVE)
            RemoveSlot(slot);
    }
    // Installed with SA_RESETHAND | SA_NODEFER: the default action now ends
    // the process with this signal's status.
    ::raise(sig);
}

// Removes the files a dead extract left in its folder, then the folder.
void RemoveFolder(int dirFd, int folderFd, const char* name)
{
    int dup = ::dup(folderFd);
    if (dup < 0)
        return;
    DIR* d = ::fdopendir(dup);
    if (!d) {
        ::close(dup);
        return;
    }
    // The stream shares its position with folderFd: start from the first name.
    ::rewinddir(d);
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            ::unlinkat(folderFd, e->d_name, 0);
    }
    ::closedir(d);
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

} // namespace

void InstallTempFileCleanup()
{
    if (g_installed.exchange(true))
        return;
    for (int sig : CLEANUP_SIGNALS) {
        struct sigaction old = {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa = {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(sig, &sa, nullptr);
    }
}

int RegisterTempPath(const std::string& path, int children)
{
    if (path.size() >= PATH_MAX || path.empty())
        return -1;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        int expected = SLOT_FREE;
        if (!g_slots[i].state.compare_exchange_strong(expected, SLOT_FILLING))
            continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].children = children;
        g_slots[i].state.store(SLOT_LIVE, std::memory_order_release);
        return i;
    }
    return -1;
}

void UnregisterTempPath(int slot)
{
    if (slot >= 0 && slot < SLOT_COUNT)
        g_slots[slot].state.store(SLOT_FREE, std::memory_order_release);
}

std::string TempPrefix(const std::string& name)
{
    // Room for the dot, the suffix and the six random characters within a
    // name's 255 bytes.
    constexpr std::size_t MAX_STEM = 200;
    return "." + name.substr(0, MAX_STEM) + ".voicelib-";
}

void RemoveLeftovers(const std::string& dir, const std::string& prefix, bool folders)
{
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    int scanFd = ::dup(dirFd);
    DIR* d = scanFd >= 0 ? ::fdopendir(scanFd) : nullptr;
    if (!d) {
        if (scanFd >= 0)
            ::close(scanFd);
        ::close(dirFd);
        return;
    }
    while (struct dirent* e = ::readdir(d)) {
        const std::size_t len = std::strlen(e->d_name);
        if (len != prefix.size() + 6 || std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folders ? O_DIRECTORY : 0);
        int fd = ::openat(dirFd, e->d_name, flags);
        if (fd < 0)
            continue;
        struct stat st;
        bool ours = ::fstat(fd, &st) == 0 && (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
        // Removed while locked: a writer that locks it after this sees it unlinked.
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (folders)
                RemoveFolder(dirFd, fd, e->d_name);
            else
                ::unlinkat(dirFd, e->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(d);
    ::close(dirFd);
}

bool HoldsLiveLock(int fd)
{
    struct stat st;
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

std::string EntryFileName(int i)
{
    char buf[24];
    std::size_t n = FormatEntryName(i, buf);
    return std::string(buf, n);
}

} // namespace voicelib
