#pragma once

// What the fuzzers share: a check that stops the run where a plain return
// would hide the fault, and the input handed over as a file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace voicelib::fuzz {

inline void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// The bytes in an anonymous file, for readers that take a descriptor or a name.
class InputFile
{
public:
    InputFile(const char* name, const std::uint8_t* data, std::size_t size)
        : m_fd(::memfd_create(name, MFD_CLOEXEC))
    {
        if (m_fd >= 0 && ::write(m_fd, data, size) != static_cast<ssize_t>(size)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~InputFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False when the file could not be made: the input is skipped, not failed.
    bool IsOpen() const { return m_fd >= 0; }
    int GetFd() const { return m_fd; }
    std::string GetPath() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

} // namespace voicelib::fuzz
