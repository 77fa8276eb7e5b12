// The voicelib command line, run as a separate process from a temporary folder
// (and in-process where a test must act in the middle of a build).

#include "cli/cli.h"
#include "clirun.h"
#include "language.h"
#include "tempfolder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

using voicelib::test::AlawWave;
using voicelib::test::Outcome;
using voicelib::test::Quote;
using voicelib::test::Slurp;
using voicelib::test::Spit;

class CliTest : public voicelib::test::TempFolderTest
{
protected:
    fs::path Path(const std::string& name) const { return m_dir / name; }

    // The language the program is run with: LANGUAGE over LANG, as a user sets them.
    std::string m_language;
    std::string m_lang = "C.UTF-8";

    Outcome Run(const std::vector<std::string>& args, const std::string& program = VOICELIB_CLI) const
    {
        // The program takes its language from the environment: pinned here,
        // over the C.UTF-8 locale every machine has.
        std::string cmd = "cd " + Quote(m_dir.string()) +
                          " && env -u LC_ALL -u LC_MESSAGES LANG=" + Quote(m_lang) +
                          " LANGUAGE=" + Quote(m_language) + " " + Quote(program);
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
};

TEST_F(CliTest, BuildWritesTheLibraryAndTheSummary)
{
    m_language = "zh_CN";
    Spit(Path("a.wav"), AlawWave(330, 'a')); // 320 stored, 10 dropped
    Spit(Path("b.wav"), AlawWave(159, 'b')); // nothing stored
    Spit(Path("c.wav"), AlawWave(160, 'c'));
    Outcome o = Run({"build", "-o", "lib.bin", "a.wav", "b.wav", "c.wav"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "语音库合成结束,共计3个文件,成功:3个,失败0个.\n语音库496字节,音频共计0.060秒.\n");

    std::string lib = Slurp(Path("lib.bin"));
    ASSERT_EQ(lib.size(), 496u);
    EXPECT_EQ(lib.substr(0, 16), std::string("\x03\0\0\0\x40\x01\0\0\0\0\0\0\xa0\0\0\0", 16));
    EXPECT_EQ(lib.substr(16, 320), std::string(320, 'a'));
    EXPECT_EQ(lib.substr(336), std::string(160, 'c'));
}

TEST_F(CliTest, BuildJsonReportsCounts)
{
    Spit(Path("a.wav"), AlawWave(480));
    Outcome o = Run({"build", "--json", "-o", "lib.bin", "a.wav", "a.wav"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "{\"entries\":2,\"ok\":2,\"failed\":0,\"left_out\":0,\"bytes\":972,\"seconds\":0.120,"
                     "\"failed_items\":[],\"warnings\":[]}\n");
}

TEST_F(CliTest, InvalidSourceStopsTheBuildAndKeepsTheOldTarget)
{
    m_language = "zh_CN";
    Spit(Path("good.wav"), AlawWave(160));
    Spit(Path("pcm.wav"), "RIFF\x10\0\0\0WAVEfmt \x10\0\0\0\x01\0" + std::string(60, '\0'));
    Spit(Path("lib.bin"), "previous");

    Outcome o = Run({"build", "-o", "lib.bin", "good.wav", "pcm.wav", "missing.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, StartsWith("无效的WAV文件,序号:1 名称:pcm.wav\n原因:"));
    EXPECT_EQ(Slurp(Path("lib.bin")), "previous");

    o = Run({"build", "--json", "-o", "lib.bin", "good.wav", "missing.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.out, StartsWith("{\"invalid_index\":1,\"invalid_path\":\"missing.wav\","));

    o = Run({"check", "good.wav", "", "pcm.wav"});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.err, StartsWith("无效的WAV文件,序号:1 名称:\n原因:"));
}

std::size_t Count(const std::string& text, const std::string& piece)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

TEST_F(CliTest, CheckNamesEveryRejectedSourceBuildOnlyTheFirst)
{
    m_language = "zh_CN";
    std::string pcm = AlawWave(160);
    pcm[16] = 16; // fmt chunk of 16 bytes, format code 1
    pcm[20] = 1;
    Spit(Path("good.wav"), AlawWave(160));
    Spit(Path("pcm.wav"), pcm);
    Spit(Path("short.wav"), AlawWave(160).substr(0, 57));
    fs::create_directory(Path("dir.wav"));
    const std::vector<std::string> rows = {"good.wav", "pcm.wav",   "missing.wav",
                                           "good.wav", "short.wav", "dir.wav"};

    std::vector<std::string> args = {"check"};
    args.insert(args.end(), rows.begin(), rows.end());
    Outcome o = Run(args);
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "检查未通过,共计6个文件,其中4个无效.\n");
    EXPECT_THAT(o.err, StartsWith("无效的WAV文件,序号:1 名称:pcm.wav\n原因:格式块长16字节"));
    EXPECT_THAT(o.err, HasSubstr("无效的WAV文件,序号:2 名称:missing.wav\n原因:文件不存在\n"));
    EXPECT_THAT(o.err, HasSubstr("无效的WAV文件,序号:4 名称:short.wav\n原因:文件只有57字节"));
    EXPECT_THAT(o.err, HasSubstr("无效的WAV文件,序号:5 名称:dir.wav\n原因:这是一个文件夹"));
    EXPECT_EQ(Count(o.err, "无效的WAV文件"), 4u);

    args.insert(args.begin() + 1, "--json");
    o = Run(args);
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.err, "");
    EXPECT_THAT(o.out,
                StartsWith("{\"checked\":6,\"left_out\":0,\"invalid\":[{\"index\":1,\"path\":\"pcm.wav\","
                           "\"problem\":\"fmt_size\",\"reason\":\"格式块长16字节"));
    EXPECT_THAT(o.out, HasSubstr("{\"index\":2,\"path\":\"missing.wav\",\"problem\":\"missing\","
                                 "\"reason\":\"文件不存在\"}"));
    EXPECT_THAT(o.out, HasSubstr("{\"index\":5,\"path\":\"dir.wav\",\"problem\":\"folder\""));
    EXPECT_EQ(Count(o.out, "\"index\":"), 4u);

    args[0] = "build";
    args.insert(args.begin() + 1, {"-o", "lib.bin"});
    std::vector<std::string> textArgs = args;
    textArgs.erase(textArgs.begin() + 3); // without --json
    Outcome text = Run(textArgs);
    EXPECT_EQ(text.code, 1);
    EXPECT_THAT(text.err, StartsWith("无效的WAV文件,序号:1 名称:pcm.wav\n"));
    EXPECT_EQ(Count(text.err, "无效的WAV文件"), 1u);
    o = Run(args);
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.out,
                StartsWith("{\"invalid_index\":1,\"invalid_path\":\"pcm.wav\",\"problem\":\"fmt_size\""));
    EXPECT_EQ(Count(o.out, "pcm.wav"), 1u);
    EXPECT_THAT(o.out, Not(HasSubstr("missing.wav")));
    EXPECT_FALSE(fs::exists(Path("lib.bin")));
}

TEST_F(CliTest, SourceCutAfterTheCheckIsNamedAsFailed)
{
    const voicelib::test::ScopedLanguage chinese("zh_CN");
    const std::string a = Path("a.wav").string(), cut = Path("cut.wav").string();
    Spit(a, AlawWave(160, 'a'));
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json);
        Spit(cut, AlawWave(320, 'c'));
        std::vector<std::string> args = {"build", "-o", Path("lib.bin").string(), a, cut, a};
        if (json)
            args.push_back("--json");
        std::ostringstream out, err;
        const int code = voicelib::cli::Run(args, out, err, [&](int done, int) {
            // The rows were checked; the next one is cut before its copy.
            if (done == 1) {
                EXPECT_EQ(::truncate(cut.c_str(), 30), 0);
            }
            return true;
        });
        EXPECT_EQ(code, voicelib::cli::EXIT_SOURCES_FAILED);
        if (json) {
            EXPECT_THAT(out.str(), HasSubstr("\"ok\":2,\"failed\":1,"));
            EXPECT_THAT(out.str(), HasSubstr("\"failed_items\":[{\"index\":1,\"path\":\"" + cut +
                                             "\",\"problem\":\"too_short\",\"reason\":\"文件只有30字节"));
        } else {
            EXPECT_EQ(out.str(),
                      "语音库合成结束,共计3个文件,成功:2个,失败1个.\n语音库336字节,音频共计0.040秒.\n");
            EXPECT_THAT(err.str(), StartsWith("失败,序号:1 名称:" + cut + " 原因:文件只有30字节"));
        }
        const std::string lib = Slurp(Path("lib.bin"));
        ASSERT_EQ(lib.size(), 16u + 320u);
        EXPECT_EQ(lib.substr(4, 12), std::string("\xa0\0\0\0\0\0\0\0\xa0\0\0\0", 12));
    }
}

TEST_F(CliTest, UnwritableTargetIsAnIoErrorNamingTheFile)
{
    Spit(Path("a.wav"), AlawWave(160));
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
    m_language = "zh_CN";
    Spit(Path("a.wav"), AlawWave(160));
    std::vector<std::string> args = {"build", "-o", "lib.bin"};
    for (int i = 0; i < 1030; ++i)
        args.push_back("a.wav");
    Outcome o = Run(args);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "语音库合成结束,共计1024个文件,成功:1024个,失败0个.\n"
                     "另有6个文件超出1024个的上限,未写入语音库.\n"
                     "语音库167940字节,音频共计20.480秒.\n");
    EXPECT_EQ(fs::file_size(Path("lib.bin")), 4u + 4u * 1024 + 160u * 1024);
}

TEST_F(CliTest, InfoDescribesEveryEntry)
{
    Spit(Path("a.wav"), AlawWave(320));
    Spit(Path("b.wav"), AlawWave(0));
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
    Spit(Path("empty.wav"), AlawWave(0));
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
    m_language = "zh_CN";
    Spit(Path("a.wav"), AlawWave(160, 'a'));
    Spit(Path("b.wav"), AlawWave(320, 'b'));
    Outcome o = Run({"export", "-o", "list.ini", "a.wav", "b.wav", "a.wav"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "保存完成\n");
    EXPECT_EQ(Slurp(Path("list.ini")), "[ZuLibItem]\nZuCount=3\nD000=a.wav\nD001=b.wav\nD002=a.wav\n");

    o = Run({"show", "list.ini"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "0\ta.wav\n1\tb.wav\n2\ta.wav\n");
    o = Run({"show", "--json", "list.ini"});
    const std::string here = fs::canonical(m_dir).string();
    EXPECT_EQ(o.out, "{\"count\":3,\"rows\":[\"a.wav\",\"b.wav\",\"a.wav\"],\"folder\":\"" + here +
                         "\",\"resolved\":[\"" + here + "/a.wav\",\"" + here + "/b.wav\",\"" + here +
                         "/a.wav\"]}\n");

    // Relative paths in the list are taken against the list file's folder, here the current one.
    o = Run({"build", "-o", "lib.bin", "LIST.INI"});
    EXPECT_EQ(o.code, 2) << "the list file's name is case-sensitive on Linux";
    o = Run({"build", "-o", "lib.bin", "list.ini"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(fs::file_size(Path("lib.bin")), 16u + 640u);
    EXPECT_EQ(Run({"check", "list.ini"}).code, 0);
}

// The program speaks the user's language, even where only C.UTF-8 is
// generated; what --json says stays the same.
TEST_F(CliTest, ReasonsInTheUsersLanguage)
{
    Spit(Path("a.wav"), AlawWave(160));
    Spit(Path("old.wav"), AlawWave(160));
    struct Case
    {
        const char* language;
        const char* lang;
        std::vector<std::string> args;
        int code;
        const char* said;
    };
    const Case cases[] = {
        {"", "C.UTF-8", {"export", "-o", "old.wav", "a.wav"}, 2, "refused: it is a WAVE (RIFF) file"},
        {"zh_CN", "C.UTF-8", {"export", "-o", "old.wav", "a.wav"}, 2, "拒绝: 它是WAV(RIFF)文件"},
        {"", "zh_CN.UTF-8", {"check", "gone.wav"}, 1, "原因:文件不存在"},
        {"", "C.UTF-8", {"check", "gone.wav"}, 1, "reason: the file does not exist"},
        {"zh_CN", "C", {"check", "gone.wav"}, 1, "reason: the file does not exist"},
        {"zh_CN", "C.UTF-8", {"info", "."}, 2, "不是语音库: 它是文件夹"},
        {"zh_CN", "C.UTF-8", {"build", "a.wav"}, 2, "缺少-o"},
        {"zh_CN", "C.UTF-8", {"bogus"}, 2, "voicelib: 未知命令'bogus'"},
        {"zh_CN", "C.UTF-8", {"build", "-o", "x.bin", "-o", "y.bin", "a.wav"}, 2, "选项-o给出了两次"},
        {"zh_CN", "C.UTF-8", {"build", "a.wav", "-o"}, 2, "选项-o需要文件名"},
        {"zh_CN", "C.UTF-8", {"convert", "-j", "0", "-o", "out", "a.wav"}, 2, "选项-j需要1到256之间的数字"},
        {"zh_CN",
         "C.UTF-8",
         {"--help"},
         0,
         "用法: voicelib 命令 [参数...]\n\n把A-law WAV语音提示音打包成语音库"},
        {"", "zh_CN.UTF-8", {"build", "--help"}, 0, "选项:\n  -h, --help              说明命令并退出\n"},
        {"zh_CN",
         "C.UTF-8",
         {"check", "--json", "gone.wav"},
         1,
         "\"problem\":\"missing\",\"reason\":\"文件不存在\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " " + c.lang + " " + c.args.front());
        m_language = c.language;
        m_lang = c.lang;
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.code, c.code);
        EXPECT_THAT(o.out + o.err, HasSubstr(c.said));
    }
    EXPECT_EQ(Slurp(Path("old.wav")), AlawWave(160));
}

TEST_F(CliTest, OnlyConvertAndSpeakNeedTheConversionModule)
{
    // A copy of the program with no module beside it nor in a library folder near it.
    fs::create_directory(Path("bin"));
    const std::string program = Path("bin/voicelib").string();
    fs::copy_file(VOICELIB_CLI, program);
    Spit(Path("a.wav"), AlawWave(160, 'a'));
    Spit(Path("script.csv"), "name,text\nhello,hello\n");
    ASSERT_EQ(Run({"export", "-o", "list.ini", "a.wav"}, program).code, 0);
    struct Row
    {
        std::vector<std::string> args;
        int code;
        std::string said;
    };
    const Row rows[] = {
        {{"build", "-o", "lib.bin", "list.ini"}, 0, "1 succeeded"},
        {{"check", "list.ini"}, 0, ""},
        {{"show", "list.ini"}, 0, "0\ta.wav\n"},
        {{"info", "lib.bin"}, 0, "entries: 1\n"},
        {{"convert", "-o", "out", "a.wav"},
         2,
         "voicelib-conversion.so: the conversion module is not installed"},
        {{"speak", "-o", "out", "script.csv"},
         2,
         "voicelib-conversion.so: the conversion module is not installed"},
        {{"speak", "--voices"}, 2, "voicelib-conversion.so: the conversion module is not installed"},
        {{"speak", "-o", "out", "none.csv"}, 2, "none.csv"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0]);
        const Outcome o = Run(row.args, program);
        EXPECT_EQ(o.code, row.code) << o.err;
        EXPECT_THAT(o.out + o.err, HasSubstr(row.said));
    }
    EXPECT_FALSE(fs::exists(Path("out/a.wav")));
    EXPECT_FALSE(fs::exists(Path("out/hello.wav")));
    // The program where the build put it finds its module.
    EXPECT_EQ(Run({"convert", "-o", "out", "a.wav"}).code, 0);
    EXPECT_TRUE(fs::exists(Path("out/a.wav")));
}

TEST_F(CliTest, ListFileProblems)
{
    m_language = "zh_CN";
    Spit(Path("a.wav"), AlawWave(160));
    Spit(Path("bad.ini"), "[ZuLibItem]\nZuCount=2\nD000=a.wav\n");
    Outcome o = Run({"build", "-o", "lib.bin", "bad.ini"});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.err, StartsWith("无效的WAV文件,序号:1 名称:\n原因:"));

    o = Run({"build", "-o", "lib.bin", "missing.ini"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("missing.ini"));

    o = Run({"build", "-o", "lib.bin", "bad.ini", "a.wav"});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("给出语音列表文件时不能再给其他文件"));

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

// Hidden temporary files of writers, live or dead, in a folder.
std::vector<std::string> Temporaries(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".voicelib-") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

// What a refused write must leave alone: type, bytes and mode.
std::string Describe(const fs::path& p)
{
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0)
        return "missing";
    std::string d = std::to_string(st.st_mode) + ":";
    if (S_ISLNK(st.st_mode))
        return d + fs::read_symlink(p).string();
    if (S_ISREG(st.st_mode))
        return d + Slurp(p);
    return d;
}

TEST_F(CliTest, TargetRules)
{
    const bool root = ::geteuid() == 0;
    Spit(Path("a.wav"), AlawWave(160, 'a'));
    Spit(Path("b.wav"), AlawWave(320, 'b'));
    Spit(Path("list.ini"), "[ZuLibItem]\nZuCount=2\nD000=a.wav\nD001=b.wav\n");

    struct Case
    {
        const char* name;
        std::function<void()> setup;
        std::vector<std::string> args;
        const char* target;
        int code;
        const char* reason; // in stderr when refused
    };
    const std::vector<Case> cases = {
        {"the output name forgotten", {}, {"build", "-o", "a.wav", "b.wav"}, "a.wav", 2, "RIFF"},
        {"same as a source", {}, {"build", "--force", "-o", "b.wav", "a.wav", "b.wav"}, "b.wav", 2, "source"},
        {"hard link to a source",
         [&] { fs::create_hard_link(Path("b.wav"), Path("hard.bin")); },
         {"build", "--force", "-o", "hard.bin", "b.wav"},
         "hard.bin",
         2,
         "source"},
        {"a row of the list file", {}, {"build", "--force", "-o", "b.wav", "list.ini"}, "b.wav", 2, "source"},
        {"the list file itself", {}, {"build", "-o", "list.ini", "list.ini"}, "list.ini", 2, "source"},
        {"FIFO",
         [&] { ::mkfifo(Path("fifo.bin").c_str(), 0644); },
         {"build", "-o", "fifo.bin", "a.wav"},
         "fifo.bin",
         2,
         "FIFO"},
        {"FIFO as list file",
         [&] { ::mkfifo(Path("fifo.ini").c_str(), 0644); },
         {"export", "-o", "fifo.ini", "a.wav"},
         "fifo.ini",
         2,
         "FIFO"},
        {"device node",
         [&] { ASSERT_EQ(::mknod(Path("null.bin").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0); },
         {"build", "-o", "null.bin", "a.wav"},
         "null.bin",
         2,
         "device"},
        {"socket",
         [&] {
             int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", Path("sock.bin").c_str());
             ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
             ::close(fd);
         },
         {"export", "-o", "sock.bin", "a.wav"},
         "sock.bin",
         2,
         "socket"},
        {"folder",
         [&] { fs::create_directory(Path("dir.bin")); },
         {"build", "-o", "dir.bin", "a.wav"},
         "dir.bin",
         2,
         "it is a folder"},
        {"RIFF file as list file",
         [&] { Spit(Path("w.wav"), AlawWave(160)); },
         {"export", "-o", "w.wav", "a.wav"},
         "w.wav",
         2,
         "--force"},
        {"RIFF file, forced",
         [&] { Spit(Path("w2.wav"), AlawWave(160)); },
         {"build", "--force", "-o", "w2.wav", "a.wav"},
         "w2.wav",
         0,
         ""},
        {"symlink followed",
         [&] {
             Spit(Path("real.bin"), "old library");
             ::chmod(Path("real.bin").c_str(), 0640);
             fs::create_symlink("real.bin", Path("link.bin"));
         },
         {"build", "-o", "link.bin", "a.wav"},
         "link.bin",
         0,
         ""},
        {"dangling symlink",
         [&] { fs::create_symlink("sub/made.bin", Path("dangling.bin")); },
         {"build", "-o", "dangling.bin", "a.wav"},
         "dangling.bin",
         0,
         ""},
    };
    fs::create_directory(Path("sub"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!root && std::string(c.name) == "device node")
            continue; // mknod of a device needs root
        if (c.setup)
            c.setup();
        const std::string before = Describe(Path(c.target));
        const std::string sourceBefore = Slurp(Path("b.wav"));
        Outcome o = Run(c.args);
        EXPECT_EQ(o.code, c.code) << o.err;
        EXPECT_TRUE(Temporaries(m_dir).empty());
        EXPECT_EQ(Slurp(Path("b.wav")), sourceBefore);
        if (c.code != 0) {
            EXPECT_THAT(o.err, HasSubstr(c.target));
            EXPECT_THAT(o.err, HasSubstr(c.reason));
            EXPECT_EQ(Describe(Path(c.target)), before);
        }
    }
    // The followed links stay links; the files they name were written.
    EXPECT_TRUE(fs::is_symlink(Path("link.bin")));
    EXPECT_EQ(fs::file_size(Path("real.bin")), 168u);
    EXPECT_EQ(fs::status(Path("real.bin")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(fs::is_symlink(Path("dangling.bin")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Path("sub/made.bin"))));
    EXPECT_EQ(Slurp(Path("w2.wav")).size(), 168u);
}

TEST_F(CliTest, WriteProtectedTargetForAnOrdinaryUser)
{
    // Root may write anything; the check must give an ordinary user's verdict.
    std::string as;
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root without setpriv: no way to act as an ordinary user";
        as = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
        ASSERT_EQ(::chown(m_dir.c_str(), 65534, 65534), 0);
    }
    Spit(Path("a.wav"), AlawWave(160));
    for (const char* name : {"ro.bin", "ro.ini"}) {
        Spit(Path(name), "mine");
        if (!as.empty()) {
            ASSERT_EQ(::chown(Path(name).c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chmod(Path(name).c_str(), 0444), 0);
    }
    const std::string cd = "cd " + Quote(m_dir.string()) + " && " + as + Quote(VOICELIB_CLI);
    const std::string tail = " 2>" + Quote(Path(".err").string());
    int status = std::system((cd + " build -o ro.bin a.wav" + tail).c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_THAT(Slurp(Path(".err")), HasSubstr("write-protected"));
    status = std::system((cd + " export --force -o ro.ini a.wav" + tail).c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_THAT(Slurp(Path(".err")), HasSubstr("ro.ini"));
    EXPECT_EQ(Slurp(Path("ro.bin")), "mine");
    EXPECT_EQ(Slurp(Path("ro.ini")), "mine");
    EXPECT_TRUE(Temporaries(m_dir).empty());
}

TEST_F(CliTest, KilledBuildLeavesNoTemporaryFile)
{
    // 1024 rows of a 1 MiB source: a build long enough to be caught mid-way.
    Spit(Path("big.wav"), AlawWave(1 << 20));
    std::vector<std::string> args = {"build", "-o", "lib.bin"};
    for (int i = 0; i < 1024; ++i)
        args.push_back("big.wav");
    std::vector<char*> argv = {const_cast<char*>(VOICELIB_CLI)};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        Spit(Path("lib.bin"), "old library");
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(m_dir.c_str()) != 0)
                ::_exit(127);
            // As from a terminal: a shell's background job would ignore SIGINT.
            for (int s : {SIGINT, SIGTERM, SIGHUP})
                ::signal(s, SIG_DFL);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(VOICELIB_CLI, argv.data());
            ::_exit(127);
        }
        // Wait until the temporary file holds some audio, then strike.
        for (int i = 0; i < 20000; ++i) {
            auto temps = Temporaries(m_dir);
            std::error_code ec;
            if (!temps.empty() && fs::file_size(Path(temps[0]), ec) > 4096 && !ec)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(::kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the build ended before the signal";
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(Slurp(Path("lib.bin")), "old library");
        if (sig != SIGKILL) {
            EXPECT_TRUE(Temporaries(m_dir).empty());
            continue;
        }
        // Nothing can catch SIGKILL: the next write to the target removes the
        // dead writer's file, and never a live writer's (one holding its lock).
        ASSERT_EQ(Temporaries(m_dir).size(), 1u);
        Spit(Path(".lib.bin.voicelib-LIVE00"), "a live writer's data");
        int live = ::open(Path(".lib.bin.voicelib-LIVE00").c_str(), O_RDONLY);
        ASSERT_EQ(::flock(live, LOCK_EX), 0);
        // Killed before they wrote: the library's, the header's.
        Spit(Path(".lib.bin.voicelib-DEAD00"), "");
        Spit(Path(".fw.h.voicelib-DEAD00"), "");
        Spit(Path("a.wav"), AlawWave(160));
        Outcome o = Run({"build", "-o", "lib.bin", "--header", "fw.h", "a.wav"});
        ::close(live);
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_EQ(Temporaries(m_dir), std::vector<std::string>{".lib.bin.voicelib-LIVE00"});
        // A dead extract's staging folder goes with the next extract into its folder.
        fs::create_directories(Path("out/.voicelib-extract-DEAD00"));
        Spit(Path("out/.voicelib-extract-DEAD00/0000.wav"), std::string(1 << 20, 'x'));
        o = Run({"extract", "lib.bin", "-o", "out"});
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_FALSE(fs::exists(Path("out/.voicelib-extract-DEAD00")));
    }
}

TEST_F(CliTest, ExtractIntoAFolderThatFills)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    Spit(Path("a.wav"), AlawWave(64000, 'a'));
    ASSERT_EQ(Run({"build", "-o", "lib.bin", "a.wav", "a.wav", "a.wav"}).code, 0);
    fs::create_directory(Path("small"));
    if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    Spit(Path("small/0000.wav"), "old entry");
    Spit(Path("small/0005.wav"), "old stale entry");

    Outcome o = Run({"extract", "--force", "lib.bin", "-o", "small"});
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Path("small")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string old0 = Slurp(Path("small/0000.wav"));
    const std::string old5 = Slurp(Path("small/0005.wav"));
    ::umount(Path("small").c_str());

    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err, HasSubstr("No space left"));
    EXPECT_EQ(names, (std::vector<std::string>{"0000.wav", "0005.wav"}));
    EXPECT_EQ(old0, "old entry");
    EXPECT_EQ(old5, "old stale entry");
}

TEST_F(CliTest, RelativeRowsFollowTheListFile)
{
    m_language = "zh_CN";
    fs::create_directories(Path("proj/snd"));
    fs::create_directory(Path("out"));
    Spit(Path("proj/snd/a.wav"), AlawWave(160, 'a'));
    Spit(Path("a.wav"), AlawWave(320, 'x'));
    Spit(Path("proj/list.ini"), "[ZuLibItem]\nZuCount=2\nD000=snd/a.wav\nD001=/nowhere/b.wav\n");
    const std::string here = fs::canonical(m_dir).string();

    // Run from the folder above the list: its rows still name proj/snd/a.wav.
    Outcome o = Run({"check", "proj/list.ini"});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.out + o.err, HasSubstr("序号:1 名称:/nowhere/b.wav"));
    Spit(Path("proj/list.ini"), "[ZuLibItem]\nZuCount=1\nD000=snd/a.wav\n");
    o = Run({"build", "-o", "x.bin", "proj/list.ini"});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(Slurp(Path("x.bin")).substr(8), std::string(160, 'a'));
    o = Run({"show", "--json", "proj/list.ini"});
    EXPECT_THAT(o.out, HasSubstr("\"rows\":[\"snd/a.wav\"],\"folder\":\"" + here +
                                 "/proj\",\"resolved\":[\"" + here + "/proj/snd/a.wav\"]"));

    // Names given here are written as they are only into a list file here.
    ASSERT_EQ(Run({"export", "-o", "out/l.ini", "a.wav", "/abs.wav"}).code, 0);
    EXPECT_EQ(Slurp(Path("out/l.ini")), "[ZuLibItem]\nZuCount=2\nD000=" + here + "/a.wav\nD001=/abs.wav\n");
    ASSERT_EQ(Run({"build", "-o", "y.bin", "out/l.ini"}).code, 1) << "row 1 does not exist";
}

TEST_F(CliTest, WhatIsNotAListFileIsRefused)
{
    ASSERT_EQ(::mkfifo(Path("fifo.ini").c_str(), 0600), 0);
    Spit(Path("wave.ini"), AlawWave(160));
    Spit(Path("a.wav"), AlawWave(160));
    Spit(Path("other.ini"), "[Other]\nZuCount=1\nD000=a.wav\n");
    const std::vector<std::vector<std::string>> runs = {
        {"show", "fifo.ini"},  {"check", "fifo.ini"},  {"build", "-o", "lib.bin", "fifo.ini"},
        {"show", "wave.ini"},  {"check", "wave.ini"},  {"build", "-o", "lib.bin", "wave.ini"},
        {"show", "other.ini"}, {"check", "other.ini"}, {"build", "-o", "lib.bin", "other.ini"},
        {"show", "a.wav"},     {"show", "/dev/zero"},  {"export", "-o", "fifo.ini", "a.wav"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " " + args.back());
        Outcome o = Run(args);
        EXPECT_EQ(o.code, 2);
        EXPECT_THAT(o.err, HasSubstr(args[0] == "export" ? "fifo.ini" : args.back()));
        EXPECT_EQ(o.out, "");
    }
    EXPECT_FALSE(fs::exists(Path("lib.bin")));
    EXPECT_TRUE(fs::is_fifo(Path("fifo.ini")));
}

bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Entry sizes of a library file, from its table.
std::vector<std::uint32_t> LibrarySizes(const std::string& lib)
{
    auto le32 = [&lib](std::size_t at) {
        std::uint32_t v = 0;
        for (int k = 3; k >= 0; --k)
            v = v << 8 | static_cast<unsigned char>(lib.at(at + static_cast<std::size_t>(k)));
        return v;
    };
    std::vector<std::uint32_t> sizes(le32(0));
    for (std::size_t i = 0; i < sizes.size(); ++i)
        sizes[i] = le32(4 + 4 * i);
    return sizes;
}

TEST_F(CliTest, FirmwareHeaderCompilesAndMapListsEveryEntry)
{
    if (!HaveTool("cc") || !HaveTool("c++"))
        GTEST_SKIP() << "needs the C and C++ compilers cc and c++";
    struct File
    {
        std::string name;     // the source's file name
        std::string expected; // its C name
        std::string csv;      // its source field in the map, when quoted
    };
    struct Case
    {
        const char* prefix; // nullptr: the default
        std::string accessorPrefix;
        std::vector<File> files;
    };
    const Case cases[] = {
        {nullptr,
         "VOICE_",
         {{"welcome.wav", "VOICE_WELCOME", ""},
          {"Welcome.wav", "VOICE_WELCOME_2", ""},
          {"welcome_2.wav", "VOICE_WELCOME_2_2", ""},
          {"01 intro.wav", "VOICE_01_INTRO", ""},
          {"欢迎光临.wav", "VOICE_4", ""},
          {"count.wav", "VOICE_COUNT_2", ""},
          {"a-b  c.wav", "VOICE_A_B_C", ""},
          {"what??*.wav", "VOICE_WHAT", ""},
          {"a,\"b\".wav", "VOICE_A_B", "\"a,\"\"b\"\".wav\""},
          {"new\nline.wav", "VOICE_NEW_LINE", "\"new\nline.wav\""}}},
        {"",
         "",
         {{"int.wav", "INT", ""},
          {"size_max.wav", "SIZE_MAX_", ""},
          {"int8_c.wav", "INT8_C_", ""},
          {"count.wav", "COUNT_2", ""},
          {"9.wav", "N9", ""},
          {"_Bool.wav", "BOOL", ""},
          {"第一.wav", "N6", ""},
          {"Default.WAV", "DEFAULT", ""},
          {"NULL.wav", "NULL_", ""},
          {"eof.wav", "EOF_", ""}}},
        {"my-fw.", "my_fw_", {{"a.wav", "my_fw_A", ""}, {"b", "my_fw_B", ""}}},
        {"2nd ", "N2nd_", {{"a.wav", "N2nd_A", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accessorPrefix);
        std::vector<std::string> args = {"build", "-o", "lib.bin", "--header", "fw.h", "--map=fw.csv"};
        if (c.prefix)
            args.insert(args.end(), {"--prefix", c.prefix});
        std::string program = "#include \"fw.h\"\n#include <stdio.h>\nint main(void)\n{\n";
        std::string cxx = "#include \"fw.h\"\n";
        const std::string& p = c.accessorPrefix;
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            const File& f = c.files[i];
            Spit(Path(f.name), AlawWave(static_cast<std::uint32_t>(160 * (i + 1) + i), char('a' + i)));
            args.push_back(f.name);
            program += "    printf(\"%d %lu %lu %lu\\n\", (int)" + f.expected + ", (unsigned long)" + p +
                       "OFFSET(" + f.expected + "), (unsigned long)" + p + "SIZE(" + f.expected +
                       "), (unsigned long)" + p + "DURATION_MS(" + f.expected + "));\n";
            cxx += "static_assert(" + f.expected + " == " + std::to_string(i) + ", \"index\");\n";
        }
        program += "    printf(\"%d %lu\\n\", " + p + "COUNT, (unsigned long)" + p + "LIBRARY_BYTES);\n";
        program += "    return 0;\n}\n";
        cxx += "static_assert(" + p + "COUNT == " + std::to_string(c.files.size()) + ", \"count\");\n";
        Spit(Path("prog.c"), program);
        Spit(Path("prog.cpp"), cxx);

        Outcome o = Run(args);
        ASSERT_EQ(o.code, 0) << o.err;
        const std::string lib = Slurp(Path("lib.bin"));
        const std::vector<std::uint32_t> sizes = LibrarySizes(lib);
        ASSERT_EQ(sizes.size(), c.files.size());

        // What the program must print, and the map's lines, from the library itself.
        std::string expected;
        std::string csv = "index,name,source,offset,size,seconds\r\n";
        std::uint64_t offset = 4 + 4 * sizes.size();
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const File& f = c.files[i];
            expected += std::to_string(i) + " " + std::to_string(offset) + " " + std::to_string(sizes[i]) +
                        " " + std::to_string(sizes[i] / 8) + "\n";
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", sizes[i] / 8000.0);
            csv += std::to_string(i) + "," + f.expected + "," + (f.csv.empty() ? f.name : f.csv) + "," +
                   std::to_string(offset) + "," + std::to_string(sizes[i]) + "," + seconds + "\r\n";
            offset += sizes[i];
        }
        expected += std::to_string(sizes.size()) + " " + std::to_string(lib.size()) + "\n";
        EXPECT_EQ(Slurp(Path("fw.csv")), csv);

        const std::string dir = "cd " + Quote(m_dir.string()) + " && ";
        const std::string quiet = " >" + Quote(Path(".cc").string()) + " 2>&1";
        EXPECT_EQ(
            std::system((dir + "cc -std=c99 -Wall -Wextra -Werror -c -x c fw.h -o fw.o" + quiet).c_str()), 0)
            << Slurp(Path(".cc")) << Slurp(Path("fw.h"));
        EXPECT_EQ(std::system((dir + "c++ -Wall -Wextra -Werror -c prog.cpp -o prog-cxx.o" + quiet).c_str()),
                  0)
            << Slurp(Path(".cc")) << Slurp(Path("fw.h"));
        ASSERT_EQ(std::system((dir + "cc -std=c99 -Wall -Wextra -Werror prog.c -o prog" + quiet).c_str()), 0)
            << Slurp(Path(".cc")) << Slurp(Path("fw.h"));
        ASSERT_EQ(std::system((dir + "./prog >" + Quote(Path(".prog").string())).c_str()), 0);
        EXPECT_EQ(Slurp(Path(".prog")), expected) << Slurp(Path("fw.h"));
        for (const File& f : c.files)
            fs::remove(Path(f.name));
    }
}

TEST_F(CliTest, FirmwareHeaderAndMapOnlyBesideAWrittenLibrary)
{
    Spit(Path("a.wav"), AlawWave(320));
    Spit(Path("riff.h"), AlawWave(160));
    Spit(Path("old.h"), "old header");
    Spit(Path("pcm.wav"), "RIFF\x10\0\0\0WAVEfmt \x10\0\0\0\x01\0" + std::string(60, '\0'));
    struct Case
    {
        std::vector<std::string> args;
        int code;
        const char* err;
    };
    const Case cases[] = {
        {{"--header", "lib.bin"}, 2, "names the library itself"},
        {{"--header", "./x.h", "--map", "x.h"}, 2, "name the same file"},
        {{"--header", "a.wav"}, 2, "a.wav"},
        {{"--map", "riff.h"}, 2, "--force"},
        {{"--header="}, 2, "needs a file name"},
        {{"--header", "old.h", "pcm.wav"}, 1, ""},
        {{"--header", "old.h", "--map", "dir/x.csv"}, 2, "dir/x.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        std::vector<std::string> args = {"build", "-o", "lib.bin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("a.wav");
        Outcome o = Run(args);
        EXPECT_EQ(o.code, c.code);
        EXPECT_THAT(o.err, HasSubstr(c.err));
        EXPECT_FALSE(fs::exists(Path("lib.bin")));
        EXPECT_FALSE(fs::exists(Path("x.h")));
        EXPECT_EQ(Slurp(Path("old.h")), "old header");
        EXPECT_EQ(Slurp(Path("a.wav")), AlawWave(320));
        EXPECT_EQ(Slurp(Path("riff.h")), AlawWave(160));
    }
    // Another name of the library, and a pipe reached through /proc (as /dev/stdout is).
    Spit(Path("lib.bin"), "old library");
    fs::create_hard_link(Path("lib.bin"), Path("link.csv"));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    fs::create_symlink("/proc/self/fd/" + std::to_string(pipeFds[1]), Path("stdout.csv"));
    for (auto [map, says] : {std::pair{"link.csv", "names the library itself"}, {"stdout.csv", "FIFO"}}) {
        Outcome o = Run({"build", "-o", "lib.bin", "--map", map, "a.wav"});
        EXPECT_EQ(o.code, 2);
        EXPECT_THAT(o.err, HasSubstr(says));
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(Slurp(Path("lib.bin")), "old library");
    // --force lets the map replace a RIFF file, as it does the library.
    EXPECT_EQ(Run({"build", "--force", "-o", "lib.bin", "--map", "riff.h", "a.wav"}).code, 0);
    EXPECT_THAT(Slurp(Path("riff.h")), StartsWith("index,name,source"));
    // The summary names what it wrote; the map names a list's row as the list has it.
    Spit(Path("list.ini"), "[ZuLibItem]\nZuCount=1\nD000=a.wav\n");
    m_language = "zh_CN";
    const Outcome o =
        Run({"build", "-o", "lib.bin", "--header", "x.h", "--map", "x.csv", Path("list.ini").string()});
    EXPECT_THAT(o.out, HasSubstr("C头文件: x.h\n映射表: x.csv\n"));
    EXPECT_THAT(Slurp(Path("x.csv")), HasSubstr("\r\n0,VOICE_A,a.wav,"));
}

TEST_F(CliTest, WarningsForWhatTheDevicePlaysWrongly)
{
    m_language = "zh_CN";
    if (!HaveTool("sox"))
        GTEST_SKIP() << "needs sox to make the sources";
    struct Source
    {
        const char* name;
        const char* sox; // the output options
        const char* kind;
        int value;
    };
    const Source sources[] = {
        {"canonical.wav", "-r 8000 -c 1 -e a-law", nullptr, 0},
        {"16k.wav", "-r 16000 -c 1 -e a-law", "sample_rate", 16000},
        {"stereo.wav", "-r 8000 -c 2 -e a-law", "channels", 2},
        {"odd.wav", "-r 8000 -c 1 -e a-law", "partial_block", 80},
        {"short.wav", "-r 8000 -c 1 -e a-law", "no_whole_block", 79},
    };
    std::vector<std::string> files;
    std::string expected = "[";
    for (std::size_t i = 0; i < std::size(sources); ++i) {
        const Source& s = sources[i];
        // 0.5 s is 25 whole blocks; odd.wav gets another 10 ms.
        const char* length = s.value == 80 ? "0.51" : s.value == 79 ? "0.009875" : "0.5";
        const std::string cmd = "sox -n " + std::string(s.sox) + " " + Quote(Path(s.name).string()) +
                                " synth " + length + " sine 440";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        files.push_back(s.name);
        if (s.kind) {
            expected += std::string(expected.size() > 1 ? "," : "") + "{\"index\":" + std::to_string(i) +
                        ",\"path\":\"" + s.name + "\",\"kind\":\"" + s.kind +
                        "\",\"value\":" + std::to_string(s.value);
        }
    }

    for (const char* command : {"check", "build"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, "--json"};
        if (std::string(command) == "build")
            args.insert(args.end(), {"-o", "lib.bin"});
        args.insert(args.end(), files.begin(), files.end());
        Outcome o = Run(args);
        EXPECT_EQ(o.code, 0) << o.err;
        // Each warning's fields, in order; the messages are checked in text mode below.
        std::string got = o.out.substr(o.out.find("\"warnings\":") + 11);
        std::string fields = "[";
        for (std::size_t at = got.find("{\"index\""); at != std::string::npos;
             at = got.find("{\"index\"", at + 1))
            fields += std::string(fields.size() > 1 ? "," : "") +
                      got.substr(at, got.find(",\"", got.find("\"value\"", at)) - at);
        EXPECT_EQ(fields, expected) << o.out;
        EXPECT_THAT(o.out, HasSubstr("\"milliseconds\":10.000"));

        args.erase(args.begin() + 1);
        o = Run(args);
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_THAT(o.err, HasSubstr("警告,序号:1 名称:16k.wav\n    采样率为16000Hz,设备按8000Hz播放\n"));
        EXPECT_THAT(o.err, HasSubstr("警告,序号:2 名称:stereo.wav\n    2个声道,设备按单声道播放\n"));
        EXPECT_THAT(o.err, HasSubstr("警告,序号:3 名称:odd.wav\n    末尾80字节(10毫秒)不足一个160字节的块"));
        EXPECT_THAT(o.err, HasSubstr("警告,序号:4 名称:short.wav\n    音频只有79字节,不足一个160字节的块"));
        // The cut is counted apart from what changes the sound.
        EXPECT_THAT(o.err,
                    HasSubstr("有2个文件在设备上不能原样播放(不是8kHz单声道8位).\n有2个文件末尾不足20毫秒"));
        EXPECT_THAT(o.err, Not(HasSubstr("canonical.wav")));
    }
    EXPECT_EQ(Run({"check", "canonical.wav"}).err, "");
}

} // namespace
