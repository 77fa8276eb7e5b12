// The voicelib command line, run as a separate process from a temporary folder.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Outcome
{
    int code = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Spit(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// A canonical 8 kHz A-law file: RIFF, fmt (18), fact, data at 50, audio at 58.
std::string Wave(std::uint32_t audioBytes, char fill = 'a')
{
    auto le32 = [](std::uint32_t v) {
        return std::string{char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
    };
    std::string h = "RIFF" + le32(50 + audioBytes) + "WAVEfmt " + le32(18);
    h += std::string("\x06\x00\x01\x00", 4) + le32(8000) + le32(8000) +
         std::string("\x01\x00\x08\x00\x00\x00", 6);
    h += "fact" + le32(4) + le32(audioBytes) + "data" + le32(audioBytes);
    return h + std::string(audioBytes, fill);
}

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "voicelib-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path Path(const std::string& name) const { return m_dir / name; }

    Outcome Run(const std::vector<std::string>& args) const
    {
        std::string cmd = "cd " + Quote(m_dir.string()) + " && " + Quote(VOICELIB_CLI);
        for (const auto& a : args)
            cmd += " " + Quote(a);
        cmd += " >" + Quote(Path(".out").string()) + " 2>" + Quote(Path(".err").string());
        int status = std::system(cmd.c_str());
        Outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = Slurp(Path(".out"));
        o.err = Slurp(Path(".err"));
        return o;
    }

    fs::path m_dir;
};

TEST_F(CliTest, BuildWritesTheLibraryAndTheSummary)
{
    Spit(Path("a.wav"), Wave(330, 'a')); // 320 stored, 10 dropped
    Spit(Path("b.wav"), Wave(159, 'b')); // nothing stored
    Spit(Path("c.wav"), Wave(160, 'c'));
    Outcome o = Run({"build", "-o", "lib.bin", "a.wav", "b.wav", "c.wav"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "语音库合成结束,共计3个文件,成功:3个,失败0个.\n");

    std::string lib = Slurp(Path("lib.bin"));
    ASSERT_EQ(lib.size(), 496u);
    EXPECT_EQ(lib.substr(0, 16), std::string("\x03\0\0\0\x40\x01\0\0\0\0\0\0\xa0\0\0\0", 16));
    EXPECT_EQ(lib.substr(16, 320), std::string(320, 'a'));
    EXPECT_EQ(lib.substr(336), std::string(160, 'c'));
}

TEST_F(CliTest, BuildJsonReportsCounts)
{
    Spit(Path("a.wav"), Wave(480));
    Outcome o = Run({"build", "--json", "-o", "lib.bin", "a.wav", "a.wav"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "{\"entries\":2,\"ok\":2,\"failed\":0,\"left_out\":0,\"bytes\":972}\n");
}

TEST_F(CliTest, InvalidSourceStopsTheBuildAndKeepsTheOldTarget)
{
    Spit(Path("good.wav"), Wave(160));
    Spit(Path("pcm.wav"), "RIFF\x10\0\0\0WAVEfmt \x10\0\0\0\x01\0" + std::string(60, '\0'));
    Spit(Path("lib.bin"), "previous");

    Outcome o = Run({"build", "-o", "lib.bin", "good.wav", "pcm.wav", "missing.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "无效的WAV文件,序号:1 名称:pcm.wav\n");
    EXPECT_EQ(Slurp(Path("lib.bin")), "previous");

    o = Run({"build", "--json", "-o", "lib.bin", "good.wav", "missing.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "{\"invalid_index\":1,\"invalid_path\":\"missing.wav\"}\n");

    o = Run({"check", "good.wav", "", "pcm.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "无效的WAV文件,序号:1 名称:\n");
}

TEST_F(CliTest, UnwritableTargetIsAnIoErrorNamingTheFile)
{
    Spit(Path("a.wav"), Wave(160));
    Outcome o = Run({"build", "-o", "no/such/folder/lib.bin", "a.wav"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("no/such/folder/lib.bin"));
    EXPECT_EQ(o.out, "");

    fs::create_directory(Path("dir.bin"));
    o = Run({"build", "-o", "dir.bin", "a.wav"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("dir.bin"));
}

TEST_F(CliTest, RowsBeyondCapacityAreLeftOutAndSaidSo)
{
    Spit(Path("a.wav"), Wave(160));
    std::vector<std::string> args = {"build", "-o", "lib.bin"};
    for (int i = 0; i < 1030; ++i)
        args.push_back("a.wav");
    Outcome o = Run(args);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "语音库合成结束,共计1024个文件,成功:1024个,失败0个.\n"
                     "另有6个文件超出1024个的上限,未写入语音库.\n");
    EXPECT_EQ(fs::file_size(Path("lib.bin")), 4u + 4u * 1024 + 160u * 1024);
}

TEST_F(CliTest, InfoDescribesEveryEntry)
{
    Spit(Path("a.wav"), Wave(320));
    Spit(Path("b.wav"), Wave(0));
    ASSERT_EQ(Run({"build", "-o", "lib.bin", "a.wav", "b.wav", "a.wav"}).code, 0);

    Outcome o = Run({"info", "lib.bin"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("entries: 3\n"));
    EXPECT_THAT(o.out, HasSubstr("0\t16\t320\t0.040\n"));
    EXPECT_THAT(o.out, HasSubstr("1\t336\t0\t0.000\n"));
    EXPECT_THAT(o.out, HasSubstr("2\t336\t320\t0.040\n"));

    o = Run({"info", "--json", "lib.bin"});
    EXPECT_EQ(o.code, 0);
    EXPECT_THAT(o.out, StartsWith("{\"entries\":3,\"file_bytes\":656,\"audio_bytes\":640,"));
}

TEST_F(CliTest, InfoRejectsDamagedLibraries)
{
    struct Case
    {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"short count", std::string("\x01\0", 2)},
        {"count zero", std::string(4, '\0')},
        {"table cut off", std::string("\x02\0\0\0\0\0\0\0", 8)},
        {"size not whole blocks", std::string("\x01\0\0\0\x0a\0\0\0", 8) + std::string(10, 'x')},
        {"audio missing", std::string("\x01\0\0\0\xa0\0\0\0", 8)},
        {"trailing bytes", std::string("\x01\0\0\0\0\0\0\0", 8) + "x"},
        {"count too large", std::string("\x01\x04\0\0", 4) + std::string(4 * 1025, '\0')},
    };
    for (const Case& c : cases) {
        Spit(Path("bad.bin"), c.bytes);
        Outcome o = Run({"info", "bad.bin"});
        EXPECT_EQ(o.code, 2) << c.name;
        EXPECT_THAT(o.err, HasSubstr("bad.bin")) << c.name;
        EXPECT_EQ(o.out, "") << c.name;
    }
}

TEST_F(CliTest, ExtractedEntriesRebuildTheSameLibrary)
{
    fs::copy(fs::path(VOICELIB_FIXTURES) / "sox-alaw.wav", Path("sox.wav"));
    fs::copy(fs::path(VOICELIB_FIXTURES) / "ffmpeg-alaw.wav", Path("ffmpeg.wav"));
    Spit(Path("empty.wav"), Wave(0));
    ASSERT_EQ(Run({"build", "-o", "lib.bin", "sox.wav", "empty.wav", "ffmpeg.wav"}).code, 0);

    Outcome o = Run({"extract", "lib.bin", "-o", "out"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_TRUE(fs::exists(Path("out/0000.wav")));
    EXPECT_TRUE(fs::exists(Path("out/0002.wav")));
    EXPECT_EQ(Run({"check", "out/0000.wav", "out/0001.wav", "out/0002.wav"}).code, 0);

    ASSERT_EQ(Run({"build", "-o", "again.bin", "out/0000.wav", "out/0001.wav", "out/0002.wav"}).code, 0);
    EXPECT_EQ(Slurp(Path("again.bin")), Slurp(Path("lib.bin")));
}

TEST_F(CliTest, RealToolFilesGiveTheirDataChunkOnly)
{
    // Both fixtures hold the same speech; ffmpeg's has a LIST chunk before
    // the data, which must not end up in the audio.
    fs::copy(fs::path(VOICELIB_FIXTURES) / "sox-alaw.wav", Path("sox.wav"));
    fs::copy(fs::path(VOICELIB_FIXTURES) / "ffmpeg-alaw.wav", Path("ffmpeg.wav"));
    ASSERT_EQ(Run({"build", "-o", "lib.bin", "ffmpeg.wav"}).code, 0);
    std::string lib = Slurp(Path("lib.bin"));
    EXPECT_EQ(lib.find("Lavf"), std::string::npos);
    EXPECT_EQ(lib.find("LIST"), std::string::npos);

    // sox's canonical file: every byte from 58, cut to whole blocks.
    ASSERT_EQ(Run({"build", "-o", "sox.bin", "sox.wav"}).code, 0);
    std::string src = Slurp(Path("sox.wav"));
    std::uint32_t dataSize = static_cast<unsigned char>(src[54]) | static_cast<unsigned char>(src[55]) << 8 |
                             static_cast<unsigned char>(src[56]) << 16;
    std::size_t stored = dataSize / 160 * 160;
    std::string sox = Slurp(Path("sox.bin"));
    ASSERT_EQ(sox.size(), 8 + stored);
    EXPECT_EQ(sox.substr(8), src.substr(58, stored));
}

TEST_F(CliTest, UsageErrors)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no command", {}, "usage: voicelib"},
        {"unknown command", {"pack"}, "unknown command 'pack'"},
        {"build without -o", {"build", "a.wav"}, "missing -o"},
        {"build without files", {"build", "-o", "x.bin"}, "no source files"},
        {"-o without name", {"build", "a.wav", "-o"}, "needs a file name"},
        {"unknown option", {"check", "--fast", "a.wav"}, "unknown option '--fast'"},
        {"json on extract", {"extract", "--json", "x.bin", "-o", "d"}, "unknown option '--json'"},
        {"info with two files", {"info", "a.bin", "b.bin"}, "expected one library file"},
        {"info of a missing file", {"info", "none.bin"}, "none.bin"},
    };
    for (const Case& c : cases) {
        Outcome o = Run(c.args);
        EXPECT_EQ(o.code, 2) << c.name;
        EXPECT_THAT(o.err, HasSubstr(c.message)) << c.name;
    }
    EXPECT_FALSE(fs::exists(Path("x.bin")));
}

TEST_F(CliTest, HelpForEveryCommand)
{
    for (const char* cmd : {"build", "check", "info", "extract", "show", "export"}) {
        Outcome o = Run({cmd, "--help"});
        EXPECT_EQ(o.code, 0) << cmd;
        EXPECT_THAT(o.out, HasSubstr(std::string("usage: voicelib ") + cmd)) << cmd;
    }
    EXPECT_EQ(Run({"--help"}).code, 0);
}

TEST_F(CliTest, ListFileRoundTripAndBuild)
{
    Spit(Path("a.wav"), Wave(160, 'a'));
    Spit(Path("b.wav"), Wave(320, 'b'));
    Outcome o = Run({"export", "-o", "list.ini", "a.wav", "b.wav", "a.wav"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "保存完成\n");
    EXPECT_EQ(Slurp(Path("list.ini")), "[ZuLibItem]\nZuCount=3\nD000=a.wav\nD001=b.wav\nD002=a.wav\n");

    o = Run({"show", "list.ini"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "0\ta.wav\n1\tb.wav\n2\ta.wav\n");
    o = Run({"show", "--json", "list.ini"});
    EXPECT_EQ(o.out, "{\"count\":3,\"rows\":[\"a.wav\",\"b.wav\",\"a.wav\"]}\n");

    // Relative paths in the list are taken against the current folder.
    o = Run({"build", "-o", "lib.bin", "LIST.INI"});
    EXPECT_EQ(o.code, 2) << "the list file's name is case-sensitive on Linux";
    o = Run({"build", "-o", "lib.bin", "list.ini"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(fs::file_size(Path("lib.bin")), 16u + 640u);
    EXPECT_EQ(Run({"check", "list.ini"}).code, 0);
}

TEST_F(CliTest, ListFileProblems)
{
    Spit(Path("a.wav"), Wave(160));
    Spit(Path("bad.ini"), "[ZuLibItem]\nZuCount=2\nD000=a.wav\n");
    Outcome o = Run({"build", "-o", "lib.bin", "bad.ini"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "无效的WAV文件,序号:1 名称:\n");

    o = Run({"build", "-o", "lib.bin", "missing.ini"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("missing.ini"));

    o = Run({"build", "-o", "lib.bin", "bad.ini", "a.wav"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("takes no further files"));

    Spit(Path("huge.ini"), "[ZuLibItem]\nZuCount=2000000\n");
    o = Run({"show", "huge.ini"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("huge.ini"));
    EXPECT_FALSE(fs::exists(Path("lib.bin")));

    // Export keeps what else the file holds.
    Spit(Path("keep.ini"), "; mine\r\n[Other]\r\nx=1\r\n[ZuLibItem]\r\nZuCount=5\r\nD004=old\r\n");
    ASSERT_EQ(Run({"export", "-o", "keep.ini", "a.wav"}).code, 0);
    EXPECT_EQ(Slurp(Path("keep.ini")),
              "; mine\r\n[Other]\r\nx=1\r\n[ZuLibItem]\r\nZuCount=1\r\nD004=old\r\nD000=a.wav\r\n");
}

} // namespace
