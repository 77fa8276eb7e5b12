#include "iofault.h"

#include "core/syscall.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace voicelib {

namespace {

struct Budget
{
    std::uint64_t left = IoFault::kNever;
    int err = 0;

    // Up to n bytes of it; 0 when spent.
    std::size_t Take(std::size_t n) const
    {
        return left == IoFault::kNever ? n : static_cast<std::size_t>(std::min<std::uint64_t>(left, n));
    }
    // Counts only the bytes that really moved.
    void Spend(ssize_t moved)
    {
        if (left != IoFault::kNever && moved > 0)
            left -= static_cast<std::uint64_t>(moved);
    }
};

Budget g_reads;
Budget g_writes;
// The calls before the fault was armed.
struct SystemCalls
{
    ssize_t (*read)(int, void*, std::size_t, off_t);
    ssize_t (*write)(int, const void*, std::size_t);
    ssize_t (*writeAt)(int, const void*, std::size_t, off_t);
    ssize_t (*copy)(int, off_t*, int, std::size_t);
};
std::optional<SystemCalls> g_system;

const SystemCalls& System()
{
    return *g_system;
}

void Install(const SystemCalls& c)
{
    DataCalls& calls = FileDataCalls();
    calls.read = c.read;
    calls.write = c.write;
    calls.writeAt = c.writeAt;
    calls.copy = c.copy;
}

template <typename Call> ssize_t Budgeted(Budget& budget, std::size_t n, Call&& call)
{
    const std::size_t allowed = budget.Take(n);
    if (allowed == 0 && n > 0) {
        errno = budget.err;
        return -1;
    }
    ssize_t moved = call(allowed);
    budget.Spend(moved);
    return moved;
}

ssize_t FaultyRead(int fd, void* buf, std::size_t n, off_t offset)
{
    return Budgeted(g_reads, n, [&](std::size_t k) { return System().read(fd, buf, k, offset); });
}

ssize_t FaultyWrite(int fd, const void* buf, std::size_t n)
{
    return Budgeted(g_writes, n, [&](std::size_t k) { return System().write(fd, buf, k); });
}

ssize_t FaultyWriteAt(int fd, const void* buf, std::size_t n, off_t offset)
{
    return Budgeted(g_writes, n, [&](std::size_t k) { return System().writeAt(fd, buf, k, offset); });
}

ssize_t NoKernelCopy(int, off_t*, int, std::size_t)
{
    errno = EXDEV;
    return -1;
}

void Arm()
{
    if (!g_system) {
        const DataCalls& now = FileDataCalls();
        g_system = SystemCalls{now.read, now.write, now.writeAt, now.copy};
        Install({FaultyRead, FaultyWrite, FaultyWriteAt, NoKernelCopy});
    }
}

} // namespace

void IoFault::FailWritesAfter(std::uint64_t bytes, int err)
{
    g_writes = {bytes, err};
    Arm();
}

void IoFault::FailReadsAfter(std::uint64_t bytes, int err)
{
    g_reads = {bytes, err};
    Arm();
}

void IoFault::Reset()
{
    g_reads = {};
    g_writes = {};
    if (g_system) {
        Install(*g_system);
        g_system.reset();
    }
}

} // namespace voicelib
