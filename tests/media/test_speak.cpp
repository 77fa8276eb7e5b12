// `voicelib speak`: a prompt script to spoken placeholders and recordings, a
// voice list file of them, and that list again as recordings arrive.

#include "clirun.h"
#include "core/alaw.h"
#include "core/list_file.h"
#include "core/wave.h"
#include "tempfolder.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using voicelib::test::Outcome;
using voicelib::test::Quote;
using voicelib::test::RunCli;
using voicelib::test::Slurp;
using voicelib::test::Spit;

namespace {

const char* const SCRIPT = "\xEF\xBB\xBFname,text,file\r\nwelcome,欢迎使用语音库,\r\n"
                           "busy,\"The line is busy, please call again\",rec/busy.wav\r\n"
                           "bye,再见,rec/bye.wav\r\n";

class SpeakTest : public voicelib::test::TempFolderTest
{
protected:
    void SetUp() override
    {
        if (std::system("command -v sox >/dev/null 2>&1 && command -v espeak-ng >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "sox and espeak-ng are needed to make the recordings";
        TempFolderTest::SetUp();
        fs::create_directory(m_dir / "rec");
        Spit(Path("script.csv"), SCRIPT);
        Sh("espeak-ng -w $D/speech.wav 'goodbye and thank you' && sox $D/speech.wav -r 16000 $D/rec/bye.wav");
    }
    void Sh(const std::string& line) const
    {
        ASSERT_EQ(std::system(("D=" + Quote(m_dir.string()) + "; " + line + " >/dev/null 2>&1").c_str()), 0)
            << line;
    }
    Outcome Speak(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "speak");
        args.insert(args.end(), {"-o", Path("alaw"), "--list", Path("prompts.ini"), Path("script.csv")});
        return RunCli(args);
    }
};

// Seconds of audio and its RMS level, of an accepted A-law file.
std::pair<double, double> Audio(const std::string& path)
{
    static const auto table = voicelib::MakeAlawTable();
    const std::string bytes = Slurp(path);
    EXPECT_TRUE(voicelib::IsAcceptedWave(path)) << path;
    EXPECT_EQ((bytes.size() - voicelib::WAVE_DATA_OFFSET) % 160, 0u) << path;
    double sum = 0;
    for (std::size_t i = voicelib::WAVE_DATA_OFFSET; i < bytes.size(); ++i)
        sum += std::pow(table[static_cast<unsigned char>(bytes[i])] / 32768.0, 2);
    const double n = static_cast<double>(bytes.size() - voicelib::WAVE_DATA_OFFSET);
    return {n / 8000, std::sqrt(sum / n)};
}

TEST_F(SpeakTest, PlaceholdersAndARecordingThenTheListFollowsNewRecordings)
{
    Outcome o = Speak({"--json"});
    ASSERT_EQ(o.code, 0) << o.err;
    const auto rows = nlohmann::json::parse(o.out)["rows"];
    ASSERT_EQ(rows.size(), 3u);
    const bool recorded[] = {false, false, true};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string name = rows[i]["name"];
        SCOPED_TRACE(name);
        EXPECT_EQ(rows[i]["output"], Path("alaw/" + name + ".wav"));
        EXPECT_EQ(rows[i]["recorded"], recorded[i]);
        const auto [seconds, rms] = Audio(Path("alaw/" + name + ".wav"));
        EXPECT_NEAR(rows[i]["seconds"].get<double>(), seconds, 0.001);
        EXPECT_GT(seconds, 0.5); // speech, not a click
        EXPECT_LT(seconds, 6.0);
        EXPECT_GT(rms, 0.01); // not silence
    }
    EXPECT_EQ(*voicelib::ReadListFile(Path("prompts.ini")),
              (std::vector<std::string>{"alaw/welcome.wav", "alaw/busy.wav", "alaw/bye.wav"}));

    // The busy recording arrives; the user's own lines, and rows naming the same files, stay byte for byte.
    std::string edited = "; ours\r\n" + Slurp(Path("prompts.ini"));
    edited.replace(edited.find("alaw/welcome.wav"), 16, Path("alaw/welcome.wav"));
    Spit(Path("prompts.ini"), edited);
    const std::string before = Slurp(Path("prompts.ini"));
    Sh("sox $D/speech.wav -r 8000 -e a-law $D/rec/busy.wav");
    o = Speak({});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("3 rows: 2 recorded, 1 placeholders"));
    std::string want = before;
    want.replace(want.find("alaw/busy.wav"), 13, "rec/busy.wav");
    EXPECT_EQ(Slurp(Path("prompts.ini")), want);

    o = RunCli({"build", "-o", Path("p.bin"), "--header", Path("p.h"), Path("prompts.ini")});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_THAT(Slurp(Path("p.h")), HasSubstr("VOICE_BUSY = 1,"));
}

TEST_F(SpeakTest, RefusedBeforeAnythingIsWritten)
{
    Sh("cp $D/rec/bye.wav $D/riff.ini");
    struct Case
    {
        std::string script;
        std::vector<std::string> options;
        std::string says;
    };
    const Case cases[] = {
        {"name,text\na,x\na,y\n", {}, "script.csv: line 3: the name 'a' is already used on line 2"},
        {"", {"--voice", "xx-nonesuch"}, "no voice 'xx-nonesuch' ('voicelib speak --voices' lists them)"},
        {"", {"--list", Path("riff.ini")}, "WAVE (RIFF) file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        Spit(Path("script.csv"), c.script.empty() ? SCRIPT : c.script);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", Path("alaw"), Path("script.csv")});
        args.insert(args.begin(), "speak");
        Outcome o = RunCli(args);
        EXPECT_EQ(o.code, 2);
        EXPECT_THAT(o.err, HasSubstr(c.says));
        EXPECT_FALSE(fs::exists(Path("alaw")));
    }
}

TEST_F(SpeakTest, FailedRowsAreNamedAndTheOthersGo)
{
    // take3.wav: accepted under another stem; alaw/kept.wav: the user's PCM file; alaw/self.wav: not yet
    // there.
    Sh("mkdir $D/alaw && sox $D/speech.wav -r 8000 -e a-law $D/rec/take3.wav && cp $D/speech.wav "
       "$D/alaw/kept.wav");
    Spit(Path("script.csv"),
         "name,text,file\ncopied,x,rec/take3.wav\nkept,Kept,\nself,Self,alaw/self.wav\nspoken,Spoken,\n");
    const std::string kept = Slurp(Path("alaw/kept.wav"));
    Outcome o = Speak({});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.err,
                HasSubstr("kept: " + Path("alaw/kept.wav") + ": refused: it is not an A-law WAVE file"));
    EXPECT_THAT(o.err,
                HasSubstr("self: its recording alaw/self.wav is where its placeholder would be written"));
    EXPECT_THAT(o.out, HasSubstr("4 rows: 1 recorded, 1 placeholders, 2 failed"));
    EXPECT_EQ(Slurp(Path("alaw/kept.wav")), kept);
    EXPECT_EQ(Slurp(Path("alaw/copied.wav")), Slurp(Path("rec/take3.wav")));
    EXPECT_FALSE(fs::exists(Path("alaw/self.wav")));
    EXPECT_TRUE(voicelib::IsAcceptedWave(Path("alaw/spoken.wav")));
    EXPECT_EQ(voicelib::ReadListFile(Path("prompts.ini"))->size(), 4u);
}

} // namespace
