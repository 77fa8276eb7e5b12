#include "core/messages.h"
#include "core/source_info.h"
#include "core/wave.h"
#include "language.h"
#include "tempfolder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace voicelib {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, static_cast<std::uint16_t>(v));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

class SourceInfoTest : public test::TempFolderTest
{
protected:
    // The warnings and the capacity line are the window's, in Chinese.
    const test::ScopedLanguage m_chinese{"zh_CN"};

    // The canonical header with its format block edited, `audio` bytes of
    // data and `trailing` bytes of a chunk after the data.
    std::string Source(const std::string& name, std::uint32_t rate, std::uint16_t channels,
                       std::uint16_t bits, std::uint32_t audio, std::uint32_t trailing = 0)
    {
        Bytes b = MakeCanonicalWaveHeader(audio);
        Put16(b, 22, channels);
        Put32(b, 24, rate);
        Put16(b, 34, bits);
        b.resize(b.size() + audio, 0xd5);
        if (trailing > 0) {
            const Bytes chunk = {'L', 'I', 'S', 'T'};
            b.insert(b.end(), chunk.begin(), chunk.end());
            b.resize(b.size() + 4);
            Put32(b, b.size() - 4, trailing);
            b.resize(b.size() + trailing, 'x');
        }
        return test::Spit(m_dir / name, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    }
};

TEST_F(SourceInfoTest, WarnsAboutWhatTheDevicePlaysWrongly)
{
    using K = SourceWarningKind;
    struct Case
    {
        const char* name;
        std::uint32_t rate;
        std::uint16_t channels, bits;
        std::uint32_t audio, trailing;
        std::vector<std::pair<K, std::uint32_t>> expected;
        const char* text; // in the message of the first warning
    };
    const Case cases[] = {
        {"canonical", 8000, 1, 8, 1600, 0, {}, ""},
        {"whole blocks before a trailing chunk", 8000, 1, 8, 320, 30, {}, ""},
        {"16 kHz", 16000, 1, 8, 1600, 0, {{K::SampleRate, 16000}}, "采样率为16000Hz,设备按8000Hz播放"},
        {"22.05 kHz", 22050, 1, 8, 1600, 0, {{K::SampleRate, 22050}}, "22050Hz"},
        {"stereo", 8000, 2, 8, 1600, 0, {{K::Channels, 2}}, "2个声道,设备按单声道播放"},
        {"16 bits", 8000, 1, 16, 1600, 0, {{K::BitsPerSample, 16}}, "每个样本16位"},
        {"10 bytes over",
         8000,
         1,
         8,
         1610,
         0,
         {{K::PartialBlock, 10}},
         "末尾10字节(1.25毫秒)不足一个160字节的块"},
        {"all at once",
         16000,
         2,
         16,
         159,
         0,
         {{K::SampleRate, 16000}, {K::Channels, 2}, {K::BitsPerSample, 16}, {K::NoWholeBlock, 159}},
         "16000Hz"},
    };
    std::vector<std::string> paths;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        paths.push_back(Source(c.name, c.rate, c.channels, c.bits, c.audio, c.trailing));
        const std::vector<SourceWarning> got = SourceWarnings(ReadSourceInfo(paths.back()));
        std::vector<std::pair<K, std::uint32_t>> kinds;
        for (const SourceWarning& w : got)
            kinds.emplace_back(w.kind, w.value);
        EXPECT_EQ(kinds, c.expected);
        if (!got.empty()) {
            EXPECT_NE(SourceWarningText(got[0]).find(c.text), std::string::npos) << SourceWarningText(got[0]);
        }
    }

    // Over a list: only the rows with warnings, by index; a refused or
    // missing file is no warning (validation names it).
    paths.push_back(Source("pcm", 8000, 1, 16, 1600));
    std::fstream(paths.back(), std::ios::in | std::ios::out | std::ios::binary).seekp(20).put('\x01');
    paths.push_back((m_dir / "missing.wav").string());
    const std::vector<RowWarnings> rows = FindSourceWarnings(paths);
    std::vector<int> indices;
    for (const RowWarnings& r : rows)
        indices.push_back(r.index);
    EXPECT_EQ(indices, (std::vector<int>{2, 3, 4, 5, 6, 7}));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(SourceWarningMessage(rows.back()).find("警告,序号:7 名称:" + paths[7] + "\n    "), 0u);
    EXPECT_EQ(SourceWarningCountMessage({}), "");
    // Only the ten bytes over are told apart, as a cut.
    EXPECT_EQ(
        SourceWarningCountMessage(rows),
        "注意:有5个文件在设备上不能原样播放(不是8kHz单声道8位).\n有1个文件末尾不足20毫秒的音频将被截去.");
}

TEST_F(SourceInfoTest, CapacityOfAList)
{
    const std::string second = Source("second", 8000, 1, 8, 8000);        // 1 s
    const std::string partial = Source("partial", 8000, 1, 8, 8010);      // 1 s kept, 10 bytes cut
    const std::string block = Source("block", 8000, 1, 8, 160);           // 20 ms
    const std::string trailing = Source("trailing", 8000, 1, 8, 320, 40); // data chunk only
    std::ofstream((m_dir / "text.wav").string()) << "not a wave file, but long enough to be probed fully";
    const std::string text = (m_dir / "text.wav").string();
    const std::string missing = (m_dir / "missing.wav").string();

    struct Case
    {
        const char* name;
        std::vector<std::string> paths;
        const char* text;
        int rows, overLimit, invalid;
        std::uint64_t libraryBytes;
    };
    std::vector<std::string> many(1030, block);
    const Case cases[] = {
        {"empty", {}, "0个文件 0.0秒 0B", 0, 0, 0, 0},
        {"one block", {block}, "1个文件 0.0秒 168B", 1, 0, 0, 4 + 4 + 160},
        {"a few", {second, partial, block, trailing}, "4个文件 2.1秒 16.5KB", 4, 0, 0, 4 + 16 + 16480},
        {"over the limit", many, "1024个文件 20.5秒 167.9KB 另有6个超出上限", 1024, 6, 0, 4 + 4096 + 163840},
        {"missing and refused",
         {second, missing, "", text},
         "4个文件 1.0秒 8.0KB 其中3个无效",
         4,
         0,
         3,
         4 + 16 + 8000},
    };
    CapacityCache cache;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Capacity now = ComputeCapacity(c.paths);
        EXPECT_EQ(CapacityText(now), c.text);
        EXPECT_EQ(now.rows, c.rows);
        EXPECT_EQ(now.overLimit, c.overLimit);
        EXPECT_EQ(now.invalid, c.invalid);
        EXPECT_EQ(now.libraryBytes, c.libraryBytes);
        // The cache gives the same, whatever it saw before.
        EXPECT_EQ(CapacityText(cache.Update(c.paths)), c.text);
    }
}

TEST(Messages, DurationsReadAsAPersonWould)
{
    const test::ScopedLanguage chinese("zh_CN");
    const std::pair<double, const char*> cases[] = {
        {0.04, "0.0秒"},      {59.94, "59.9秒"},     {59.96, "1分00秒"},   {185.4, "3分05秒"},
        {3599.4, "59分59秒"}, {3599.6, "1小时00分"}, {30720, "8小时32分"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(DurationText(seconds), text) << seconds;
}

TEST_F(SourceInfoTest, CapacityCacheFollowsTheFiles)
{
    const std::string a = Source("a", 8000, 1, 8, 1600);
    const std::string b = Source("b", 8000, 1, 8, 3200);
    CapacityCache cache;

    // A budget of one new path a call: the rest wait, and say so.
    Capacity c = cache.Update({a, b}, 1);
    EXPECT_EQ(c.pending, 1);
    EXPECT_EQ(c.audioBytes, 1600u);
    EXPECT_NE(CapacityText(c).find("统计中"), std::string::npos);
    c = cache.Update({a, b}, 1);
    EXPECT_EQ(c.pending, 0);
    EXPECT_EQ(c.audioBytes, 4800u);

    // A file changed on disk counts anew once the cache is refreshed.
    Source("a", 8000, 1, 8, 16000);
    EXPECT_EQ(cache.Update({a, b}).audioBytes, 4800u);
    EXPECT_TRUE(cache.Refresh());
    EXPECT_EQ(cache.Update({a, b}).audioBytes, 19200u);
    fs::remove(b);
    EXPECT_TRUE(cache.Refresh());
    c = cache.Update({a, b});
    EXPECT_EQ(c.audioBytes, 16000u);
    EXPECT_EQ(c.invalid, 1);
    EXPECT_FALSE(cache.Refresh());

    // Editing a long list keeps only what its first 1024 rows need.
    std::vector<std::string> rows;
    for (int i = 0; i < 5000; ++i)
        rows.push_back((m_dir / ("n" + std::to_string(i))).string());
    cache.Clear();
    for (int k = 0; k < 5; ++k)
        cache.Update(std::vector<std::string>(rows.begin() + 1024 * k, rows.end()));
    EXPECT_EQ(cache.GetPathCount(), 5000u - 4096u);
}

} // namespace
} // namespace voicelib
