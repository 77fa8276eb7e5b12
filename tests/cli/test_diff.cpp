// voicelib diff on pairs of libraries and voice list files, the libraries
// made by the build itself.

#include "clirun.h"
#include "core/list_file.h"
#include "language.h"
#include "tempfolder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using voicelib::test::AlawWave;
using voicelib::test::RunCli;
using voicelib::test::Spit;

struct DiffCase
{
    const char* name;
    std::vector<std::string> args; // files by name in the test's folder
    int code;
    std::string out; // "{}" stands for the folder
    std::string err; // a part of stderr; "" for none at all
    friend void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }
};

class DiffTest : public voicelib::test::TempFolderTest, public ::testing::WithParamInterface<DiffCase>
{
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        Spit(m_dir / "x.wav", AlawWave(330, 'x')); // 320 stored
        Spit(m_dir / "y.wav", AlawWave(160, 'y'));
        Spit(m_dir / "w.wav", AlawWave(160, 'w'));
        Spit(m_dir / "z.wav", AlawWave(480, 'z'));
        Spit(m_dir / "pcm.wav", "RIFF\x10\0\0\0WAVEfmt \x10\0\0\0\x01\0" + std::string(60, '\0'));
        for (const std::string name : {"xyz", "xwz", "yxz", "xy", "xyx", "xp"})
            List(name + ".ini", name);
        List("many.ini", std::string(1025, 'x'));
        for (const std::string name : {"xyz", "xwz", "yxz", "xy", "many"})
            ASSERT_EQ(RunCli({"build", "-o", Path(name + ".bin"), Path(name + ".ini")}).code, 0) << name;
        ASSERT_EQ(RunCli({"build", "-o", Path("copy.bin"), Path("x.wav"), Path("y.wav"), Path("z.wav")}).code,
                  0);
    }

    // A list file with one row per letter: x.wav, y.wav, ... ("p" for pcm.wav).
    void List(const std::string& name, const std::string& letters)
    {
        std::string text = "[ZuLibItem]\nZuCount=" + std::to_string(letters.size()) + "\n";
        for (std::size_t i = 0; i < letters.size(); ++i) {
            text += voicelib::ListKey(static_cast<int>(i)) + "=" +
                    (letters[i] == 'p' ? std::string("pcm") : std::string(1, letters[i])) + ".wav\n";
        }
        Spit(m_dir / name, text);
    }
};

TEST_P(DiffTest, ListsWhatDiffers)
{
    const voicelib::test::ScopedLanguage chinese("zh_CN");
    const DiffCase& c = GetParam();
    std::vector<std::string> args = {"diff"};
    for (const std::string& a : c.args)
        args.push_back(a.rfind("--", 0) == 0 ? a : Path(a));
    std::string out = c.out;
    for (std::size_t at; (at = out.find("{}")) != std::string::npos;)
        out.replace(at, 2, m_dir.string());

    const voicelib::test::Outcome o = RunCli(args);
    EXPECT_EQ(o.code, c.code) << o.err;
    EXPECT_EQ(o.out, out);
    if (c.err.empty())
        EXPECT_EQ(o.err, "");
    else
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
}

std::string Differs(int changed, int moved, int added, int removed, int identical)
{
    return "两者不同:改变" + std::to_string(changed) + "个,移动" + std::to_string(moved) + "个,新增" +
           std::to_string(added) + "个,删除" + std::to_string(removed) + "个,相同" +
           std::to_string(identical) + "个.\n";
}

INSTANTIATE_TEST_SUITE_P(
    Diff, DiffTest,
    ::testing::Values(
        DiffCase{"Identical", {"xyz.bin", "copy.bin"}, 0, "两者相同,共计3个条目.\n", ""},
        DiffCase{"OneChanged",
                 {"xyz.bin", "xwz.bin"},
                 1,
                 "1\t改变\t160\t0.020\t160\t0.020\n" + Differs(1, 0, 0, 0, 2),
                 ""},
        // A copy of an entry that stayed where it was is added, not moved.
        DiffCase{"Added",
                 {"xy.bin", "xyx.ini"},
                 1,
                 "2\t新增\t-\t-\t320\t0.040\t{}/x.wav\n" + Differs(0, 0, 1, 0, 2),
                 ""},
        DiffCase{
            "Removed", {"xyz.bin", "xy.bin"}, 1, "2\t删除\t480\t0.060\t-\t-\n" + Differs(0, 0, 0, 1, 2), ""},
        DiffCase{"Swapped",
                 {"xyz.bin", "yxz.bin"},
                 1,
                 "0\t从1移来\t320\t0.040\t160\t0.020\n1\t从0移来\t160\t0.020\t320\t0.040\n" +
                     Differs(0, 2, 0, 0, 1),
                 ""},
        DiffCase{"ListAgainstItsLibrary",
                 {"--all", "xyz.ini", "xyz.bin"},
                 0,
                 "0\t相同\t320\t0.040\t320\t0.040\t{}/x.wav\n1\t相同\t160\t0.020\t160\t0.020\t{}/y.wav\n"
                 "2\t相同\t480\t0.060\t480\t0.060\t{}/z.wav\n两者相同,共计3个条目.\n",
                 ""},
        DiffCase{"ListBeyondTheLimit", {"many.ini", "many.bin"}, 0, "两者相同,共计1024个条目.\n", ""},
        DiffCase{
            "ListAgainstAnotherJson",
            {"--json", "xyz.ini", "xwz.ini"},
            1,
            "{\"identical\":false,\"entries\":[{\"index\":1,\"status\":\"changed\",\"a\":{\"size\":160,"
            "\"seconds\":0.020,\"path\":\"{}/y.wav\"},\"b\":{\"size\":160,\"seconds\":0.020,\"path\":\"{}/"
            "w.wav\"}}]}\n",
            ""},
        DiffCase{"NeitherLibraryNorList", {"x.wav", "xyz.bin"}, 2, "", "既不是语音库也不是语音列表文件"},
        DiffCase{"RejectedSource", {"xyz.bin", "xp.ini"}, 2, "", "无效的WAV文件,序号:1 名称:"},
        DiffCase{"Unreadable", {"xyz.bin", "gone.bin"}, 2, "", "gone.bin"},
        DiffCase{"OneSide", {"xyz.bin"}, 2, "", "应给出两个"}),
    [](const auto& info) { return info.param.name; });

} // namespace
