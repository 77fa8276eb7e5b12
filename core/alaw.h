#pragma once

// G.711 A-law: one byte a sample, 13-bit linear range, every bit pattern valid.

#include <array>
#include <cstdint>

namespace voicelib {

// The 16-bit linear value of an A-law byte.
constexpr std::int16_t AlawToLinear(std::uint8_t alaw)
{
    alaw ^= 0x55;
    int value = (alaw & 0x0f) << 4;
    const int segment = (alaw & 0x70) >> 4;
    if (segment == 0)
        value += 8;
    else
        value = (value + 0x108) << (segment - 1);
    return static_cast<std::int16_t>((alaw & 0x80) ? value : -value);
}

// All 256 values, for decoding in bulk.
constexpr std::array<std::int16_t, 256> MakeAlawTable()
{
    std::array<std::int16_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] = AlawToLinear(static_cast<std::uint8_t>(i));
    return table;
}

} // namespace voicelib
