#pragma once

// System calls as results: a call interrupted by a signal before it did
// anything is made again, and -1 with errno becomes an error code.

#include "core/result.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <utility>

namespace voicelib {

// Calls call() until it returns something other than -1 with errno EINTR.
// The result is its return value, or errno as an error.
template <typename Call> auto Retry(Call&& call) -> Result<decltype(call())>
{
    for (;;) {
        auto r = call();
        if (r != -1)
            return r;
        if (errno != EINTR)
            return Error(LastError());
    }
}

// The calls that move file data, so a test can make them fail (see the test
// support's IoFault). They default to the system's own. Atomic, because
// conversions run on several threads while a test may swap them.
struct DataCalls
{
    std::atomic<ssize_t (*)(int fd, void* buf, std::size_t n, off_t offset)> read;
    std::atomic<ssize_t (*)(int fd, const void* buf, std::size_t n)> write;
    std::atomic<ssize_t (*)(int fd, const void* buf, std::size_t n, off_t offset)> writeAt;
    std::atomic<ssize_t (*)(int src, off_t* srcOffset, int dst, std::size_t n)> copy;
};

DataCalls& FileDataCalls();

} // namespace voicelib
