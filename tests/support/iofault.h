#pragma once

// Makes the engine's file reads and writes fail after a byte budget, by
// swapping the calls they go through (FileDataCalls). While a fault is armed
// the kernel range copy is left out, so the budget sees every byte.

#include <cstdint>

namespace voicelib {

// Process-wide; arm it only while no conversion runs. Use ScopedIoFault in tests.
struct IoFault
{
    static constexpr std::uint64_t kNever = UINT64_MAX;
    // After the given number of bytes have gone through the writes (reads),
    // further writes (reads) fail with the errno given.
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

} // namespace voicelib
