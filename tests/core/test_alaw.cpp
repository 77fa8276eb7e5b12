#include "core/alaw.h"

#include <gtest/gtest.h>

namespace voicelib {
namespace {

TEST(AlawTest, KnownCodes)
{
    struct Row
    {
        const char* name;
        std::uint8_t code;
        std::int16_t linear;
    };
    const Row rows[] = {
        {"smallest positive", 0xD5, 8},    {"smallest negative", 0x55, -8},
        {"largest positive", 0xAA, 32256}, {"largest negative", 0x2A, -32256},
        {"segment 1 start", 0xC5, 264},    {"segment 7, mid", 0xA5, 16896},
    };
    for (const Row& r : rows)
        EXPECT_EQ(AlawToLinear(r.code), r.linear) << r.name;
}

TEST(AlawTest, TableIsSymmetricAndOrderedBySegment)
{
    constexpr auto table = MakeAlawTable();
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(table[static_cast<std::size_t>(i)], -table[static_cast<std::size_t>(i | 0x80)]) << i;
    // Un-inverting the even bits gives codes whose magnitudes rise with the code.
    for (int c = 1; c < 128; ++c) {
        const auto prev = table[static_cast<std::size_t>(((c - 1) ^ 0x55) | 0x80)];
        const auto cur = table[static_cast<std::size_t>((c ^ 0x55) | 0x80)];
        EXPECT_GT(cur, prev) << c;
    }
}

} // namespace
} // namespace voicelib
