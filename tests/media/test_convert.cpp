// Conversion to 8 kHz mono A-law, through the command line and the engine,
// on inputs made here by espeak-ng, sox and ffmpeg.

#include "clirun.h"
#include "core/alaw.h"
#include "core/wave.h"
#include "media/convert.h"
#include "tempfolder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using voicelib::test::Quote;
using voicelib::test::Slurp;

bool Sh(const std::string& cmd)
{
    return std::system(("(" + cmd + ") >/dev/null 2>&1 </dev/null").c_str()) == 0;
}

bool HaveTools()
{
    return Sh("command -v ffmpeg") && Sh("command -v sox") && Sh("command -v espeak-ng");
}

using voicelib::test::Outcome;

Outcome Convert(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"convert"};
    all.insert(all.end(), args.begin(), args.end());
    return voicelib::test::RunCli(all);
}

// The audio of a converted file as linear samples; fails unless accepted.
std::vector<double> AlawSamples(const fs::path& p)
{
    static const auto table = voicelib::MakeAlawTable();
    std::string bytes = Slurp(p);
    EXPECT_TRUE(voicelib::IsAcceptedWave(p.string())) << p;
    EXPECT_EQ(
        bytes.substr(0, voicelib::WAVE_DATA_OFFSET),
        std::string(
            reinterpret_cast<const char*>(
                voicelib::MakeCanonicalWaveHeader(static_cast<std::uint32_t>(bytes.size() - 58)).data()),
            58));
    std::vector<double> x;
    for (std::size_t i = voicelib::WAVE_DATA_OFFSET; i < bytes.size(); ++i)
        x.push_back(table[static_cast<unsigned char>(bytes[i])] / 32768.0);
    return x;
}

// A file as ffmpeg resamples it to 8 kHz mono: the reference.
std::vector<double> Reference(const fs::path& src, const fs::path& tmp)
{
    fs::path raw = tmp / "ref.raw";
    EXPECT_TRUE(Sh("ffmpeg -y -i " + Quote(src) + " -ar 8000 -ac 1 -f s16le " + Quote(raw)));
    std::string bytes = Slurp(raw);
    std::vector<double> x(bytes.size() / 2);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8) /
               32768.0;
    return x;
}

// Best normalised correlation within a few samples of lag.
double Correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double best = -1;
    for (int lag = -8; lag <= 8; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(b.size()))
                continue;
            ab += a[i] * b[static_cast<std::size_t>(j)];
            aa += a[i] * a[i];
            bb += b[static_cast<std::size_t>(j)] * b[static_cast<std::size_t>(j)];
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

// Integrated loudness measured by ffmpeg's R128 meter.
double Loudness(const fs::path& p)
{
    std::string cmd = "ffmpeg -nostats -i " + Quote(p) + " -af ebur128 -f null - 2>&1 | grep -E '^ +I:'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return NAN;
    char line[256] = {};
    double value = NAN;
    if (std::fgets(line, sizeof line, pipe))
        std::sscanf(line, " I: %lf", &value);
    ::pclose(pipe);
    return value;
}

class ConvertTest : public voicelib::test::TempFolderTest
{
protected:
    void SetUp() override
    {
        if (!HaveTools())
            GTEST_SKIP() << "ffmpeg, sox and espeak-ng are needed to make the inputs";
        TempFolderTest::SetUp();
        ASSERT_TRUE(
            Sh("espeak-ng -w " + Quote(Path("speech.wav")) + " 'one two three, testing the converter'"));
    }
    // Runs a shell line with $S for the speech file and $D for the folder.
    void Make(const std::string& line) const
    {
        std::string cmd = "S=" + Quote(Path("speech.wav")) + " D=" + Quote(m_dir.string()) + "; " + line;
        ASSERT_TRUE(Sh(cmd)) << line;
    }
};

TEST_F(ConvertTest, EachFormatBecomesAnAcceptedFileThatSoundsLikeItsSource)
{
    struct Case
    {
        const char* file;
        const char* make;
    };
    const Case cases[] = {
        {"mp3.mp3", "ffmpeg -i $S -ar 44100 -ac 2 -c:a libmp3lame -b:a 128k $D/mp3.mp3"},
        {"pcm.wav", "sox $S -r 44100 -c 2 -b 16 $D/pcm.wav"},
        {"flac.flac", "ffmpeg -i $S -ar 48000 -c:a flac $D/flac.flac"},
        {"alaw16k.wav", "sox $S -r 16000 -c 1 -e a-law $D/alaw16k.wav"},
        {"opus.ogg", "ffmpeg -i $S -c:a libopus $D/opus.ogg"},
        {"vorbis.oga", "ffmpeg -i $S -ac 2 -c:a libvorbis $D/vorbis.oga"},
        {"aac.m4a", "ffmpeg -i $S -ar 44100 -c:a aac $D/aac.m4a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Make(c.make);
        Outcome o = Convert({"-o", Path("out"), Path(c.file)});
        ASSERT_EQ(o.code, 0) << o.err;
        fs::path result = m_dir / "out" / (fs::path(c.file).stem().string() + ".wav");
        std::vector<double> got = AlawSamples(result);
        std::vector<double> want = Reference(Path(c.file), m_dir);
        EXPECT_EQ(got.size() % 160, 0u);
        EXPECT_GE(got.size() + 1, want.size()); // padded, never cut
        EXPECT_LT(got.size(), want.size() + 160);
        EXPECT_GT(Correlation(got, want), 0.9);
    }
}

TEST_F(ConvertTest, TrimAndNormalizeAreMeasuredOnTheResult)
{
    // Speech between 0.6 s and 0.8 s of faint noise (about -70 dBFS).
    Make(
        "sox $S $D/noisy.wav pad 0.6 0.8 && sox -n -r 22050 -c 1 -b 16 $D/floor.wav synth 2.0 whitenoise vol "
        "0.0003 && sox -m $D/noisy.wav $D/floor.wav $D/quiet.wav");
    const double speech = static_cast<double>(Reference(Path("speech.wav"), m_dir).size());
    struct Case
    {
        std::vector<std::string> options;
        bool trimmed;
        double lufs; // NAN: loudness left alone
    };
    const Case cases[] = {
        {{"--trim"}, true, NAN},
        {{"--trim-threshold=-40dB"}, true, NAN},
        {{"--normalize"}, false, voicelib::DEFAULT_LOUDNESS_LUFS},
        {{"--normalize=-16"}, false, -16.0},
        {{"--trim", "--normalize=-30LUFS", "--no-pad"}, true, -30.0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", Path("out"), Path("quiet.wav")});
        SCOPED_TRACE(args[0] + (args.size() > 4 ? " " + args[1] : ""));
        Outcome o = Convert(args);
        ASSERT_EQ(o.code, 0) << o.err;
        std::vector<double> x = AlawSamples(m_dir / "out" / "quiet.wav");
        ASSERT_FALSE(x.empty());
        // Where the speech starts and ends: the first and last sample above -45 dBFS of the loudest.
        double peak = 0;
        for (double v : x)
            peak = std::max(peak, std::fabs(v));
        auto loud = [&](double v) { return std::fabs(v) > peak * 0.0056; };
        std::size_t lead = static_cast<std::size_t>(std::find_if(x.begin(), x.end(), loud) - x.begin());
        std::size_t tail = static_cast<std::size_t>(std::find_if(x.rbegin(), x.rend(), loud) - x.rbegin());
        if (c.trimmed) {
            EXPECT_LT(lead, 160u);
            EXPECT_LT(tail, 160u + 120u); // the padding, the 5 ms kept, the rest of a 10 ms window
            EXPECT_LT(static_cast<double>(x.size()), speech + 160);
        } else {
            EXPECT_GT(lead, 0.6 * 8000);
            EXPECT_GT(static_cast<double>(x.size()), speech + 1.3 * 8000);
        }
        const double want = std::isnan(c.lufs) ? Loudness(Path("quiet.wav")) : c.lufs;
        EXPECT_NEAR(Loudness(m_dir / "out" / "quiet.wav"), want, 1.0);
    }
}

TEST_F(ConvertTest, UndecodableFilesAreNamedAndTheOthersConvert)
{
    Make("ffmpeg -i $S $D/good.mp3 && echo 'not audio' > $D/text.txt && echo 'not audio' > $D/bad.mp3 && "
         "mkdir $D/folder.wav && mkfifo $D/pipe.wav");
    Outcome o = Convert({"--json", "-o", Path("out"), Path("text.txt"), Path("good.mp3"),
                         Path("missing.flac"), Path("bad.mp3"), Path("folder.wav"), Path("pipe.wav")});
    EXPECT_EQ(o.code, 1);
    EXPECT_THAT(o.err,
                HasSubstr(Path("text.txt") + ": cannot decode: Invalid data found when processing input"));
    EXPECT_THAT(o.err, HasSubstr(Path("bad.mp3") + ": cannot decode: "));
    EXPECT_THAT(o.err, HasSubstr(Path("missing.flac") + ": No such file or directory"));
    EXPECT_THAT(o.err, HasSubstr(Path("folder.wav") + ": it is a folder"));
    EXPECT_THAT(o.err, HasSubstr(Path("pipe.wav") + ": it is a FIFO (named pipe)"));
    EXPECT_THAT(o.out, HasSubstr("{\"converted\":1,\"failed\":5,"));
    EXPECT_THAT(o.out, HasSubstr("\"error\":\"cannot decode: Invalid data found when processing input\""));
    EXPECT_TRUE(voicelib::IsAcceptedWave(Path("out/good.wav")));
    for (const char* name : {"out/text.wav", "out/missing.wav", "out/folder.wav", "out/pipe.wav"})
        EXPECT_FALSE(fs::exists(Path(name))) << name;
}

TEST_F(ConvertTest, SourcesAndFilesTheUserMadeAreNeverOverwritten)
{
    Make("mkdir $D/out && sox $S $D/out/pcm.wav && cp $D/out/pcm.wav $D/b.wav && ln $D/b.wav $D/out/b.wav && "
         "ffmpeg -i $S $D/c.mp3 && cp $D/out/pcm.wav $D/out/c.wav && ffmpeg -i $S $D/d.flac && mkdir $D/e && "
         "ffmpeg -i $S $D/e/d.mp3 && ffmpeg -i $S $D/g.mp3 && cp $D/b.wav $D/outside.wav && ln -s "
         "../outside.wav "
         "$D/out/g.wav && sox $S $D/h.wav && ln -s ../h.wav $D/out/h.wav");
    struct Case
    {
        std::vector<std::string> args;
        std::string kept;       // a file that must come through unchanged
        std::string refusedFor; // in the message
        int code;
    };
    const Case cases[] = {
        {{"-o", Path("out"), Path("out/pcm.wav")}, "out/pcm.wav", "same file as the source", 1},
        {{"-o", Path("out"), Path("b.wav")}, "b.wav", "same file as the source", 1},
        {{"-o", Path("out"), Path("c.mp3")}, "out/c.wav", "--force", 1},
        {{"-o", Path("out"), Path("d.flac"), Path("e/d.mp3")}, "", "also the target of " + Path("d.flac"), 1},
        {{"--force", "-o", Path("out"), Path("c.mp3")}, "", "", 0},
        {{"--force", "-o", Path("out"), Path("g.mp3")}, "outside.wav", "", 0}, // the link goes, not its file
        {{"--force", "-o", Path("out"), Path("h.wav")}, "h.wav", "same file as the source", 1}, // in place
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::string before = c.kept.empty() ? "" : Slurp(Path(c.kept));
        Outcome o = Convert(c.args);
        EXPECT_EQ(o.code, c.code) << o.err;
        if (!c.kept.empty()) {
            EXPECT_EQ(Slurp(Path(c.kept)), before);
        }
        if (!c.refusedFor.empty()) {
            EXPECT_THAT(o.err, HasSubstr(c.refusedFor));
        }
    }
    EXPECT_TRUE(voicelib::IsAcceptedWave(Path("out/c.wav"))); // replaced with --force
    EXPECT_TRUE(voicelib::IsAcceptedWave(Path("out/d.wav"))); // the first of two same-named sources
    EXPECT_FALSE(fs::is_symlink(Path("out/g.wav")));
    EXPECT_TRUE(voicelib::IsAcceptedWave(Path("out/g.wav")));
    EXPECT_TRUE(fs::is_symlink(Path("out/h.wav")));
    for (const auto& entry : fs::directory_iterator(m_dir / "out"))
        EXPECT_NE(entry.path().filename().string().front(), '.') << "left behind: " << entry.path();
}

TEST_F(ConvertTest, BatchReportsProgressAndCancelsWithoutLeavingFiles)
{
    Make("for i in 1 2 3 4 5 6; do sox $S $D/s$i.wav repeat 3; done");
    struct Case
    {
        int cancelAfterCalls; // -1: never
        bool normalize;       // a cancel in the measuring pass
    };
    for (Case c : {Case{-1, false}, Case{0, false}, Case{3, false}, Case{3, true}}) {
        SCOPED_TRACE(c.cancelAfterCalls);
        fs::path out = m_dir / ("out" + std::to_string(c.cancelAfterCalls + 1) + (c.normalize ? "n" : ""));
        fs::create_directories(out);
        std::vector<voicelib::ConvertJob> jobs;
        for (int i = 1; i <= 6; ++i)
            jobs.push_back({Path("s" + std::to_string(i) + ".wav"),
                            (out / ("s" + std::to_string(i) + ".wav")).string()});
        int calls = 0;
        double last = 0;
        bool monotone = true;
        auto progress = [&](double f, std::size_t done, std::size_t total) {
            monotone = monotone && f >= last - 1e-9 && f <= 1.0 + 1e-9 && done <= total;
            last = f;
            return c.cancelAfterCalls < 0 || calls++ < c.cancelAfterCalls;
        };
        voicelib::ConvertOptions options;
        options.normalize = c.normalize;
        auto results = voicelib::ConvertFiles(jobs, options, progress, 2);
        ASSERT_EQ(results.size(), jobs.size());
        EXPECT_TRUE(monotone);
        std::size_t ok = 0;
        for (std::size_t i = 0; i < results.size(); ++i) {
            EXPECT_EQ(results[i].input, jobs[i].input);
            EXPECT_EQ(results[i].ok, fs::exists(jobs[i].output));
            EXPECT_EQ(results[i].ok, !results[i].cancelled) << results[i].error;
            EXPECT_EQ(results[i].cancelled, results[i].code == voicelib::ConvertCode::Cancelled);
            ok += results[i].ok ? 1 : 0;
        }
        if (c.cancelAfterCalls < 0) {
            EXPECT_EQ(ok, jobs.size());
            EXPECT_NEAR(last, 1.0, 1e-9);
        } else {
            EXPECT_LT(ok, jobs.size());
        }
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out))
            ++files;
        EXPECT_EQ(files, ok); // no temporary files left
    }
}

TEST_F(ConvertTest, DamagedAndEdgeInputsFailWithTheirReasonOrConvertWhole)
{
    Make("ffmpeg -i $S -c:a flac $D/full.flac && head -c $(( $(stat -c%s $D/full.flac) / 3 )) $D/full.flac "
         "> $D/cut.flac && ffmpeg -i $S -c:a libmp3lame -b:a 64k $D/hole.mp3 && dd if=/dev/zero "
         "of=$D/hole.mp3 "
         "bs=1 seek=$(( $(stat -c%s $D/hole.mp3) / 2 )) count=3000 conv=notrunc && ffmpeg -i $S $D/full.mp3 "
         "&& "
         "head -c $(( $(stat -c%s $D/full.mp3) / 2 )) $D/full.mp3 > $D/half.mp3 && : > $D/empty.mp3 && "
         "sox -n -r 8000 -c 32 -b 16 $D/ch32.wav synth 0.5 sine 440 && sox -n -r 8000 -c 1 $D/tiny.wav synth "
         "0.01 sine 440 && sox -n -r 8000 -c 1 $D/quiet.wav trim 0 1");
    struct Case
    {
        std::vector<std::string> options;
        const char* file;
        int code;
        const char* says; // on stderr
    };
    const Case cases[] = {
        {{}, "cut.flac", 1, "damaged after "},
        {{}, "half.mp3", 1, "cut short: "},
        {{}, "hole.mp3", 1, "damaged after "},
        {{"--keep-damaged"}, "hole.mp3", 0, "kept what decoded of a damaged file: damaged after "},
        {{}, "empty.mp3", 1, "the file is empty"},
        {{"--no-pad"}, "tiny.wav", 1, "shorter than one 160-byte block"},
        {{"--trim"}, "quiet.wav", 1, "no audio left"},
        {{}, "ch32.wav", 0, ""}, // mixed down
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.options.empty() ? "" : " " + c.options[0]));
        fs::remove_all(Path("out"));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", Path("out"), Path(c.file)});
        Outcome o = Convert(args);
        EXPECT_EQ(o.code, c.code) << o.err;
        EXPECT_THAT(o.err, HasSubstr(c.says));
        const fs::path written = m_dir / "out" / (fs::path(c.file).stem().string() + ".wav");
        EXPECT_EQ(fs::exists(written), c.code == 0);
        if (c.code != 0) {
            EXPECT_FALSE(fs::exists(Path("out"))) << "a folder made for nothing";
        }
    }
    EXPECT_EQ(AlawSamples(m_dir / "out" / "ch32.wav").size(), 4000u);
}

// The level of a converted file's loudest sample, in dBFS.
double PeakDb(const fs::path& p)
{
    double peak = 0;
    for (double v : AlawSamples(p))
        peak = std::max(peak, std::fabs(v));
    return 20 * std::log10(peak);
}

TEST_F(ConvertTest, ShortPromptsAreNormalisedLikeLongOnes)
{
    // The same tone, 2 s long and as a 0.15 s beep 16 dB quieter.
    Make("sox -n -r 8000 -c 1 $D/long.wav synth 2 sine 1000 vol 0.3 && sox -n -r 8000 -c 1 $D/beep.wav synth "
         "0.15 sine 1000 vol 0.0475");
    Outcome o = Convert({"--normalize", "-o", Path("out"), Path("long.wav"), Path("beep.wav")});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_THAT(o.err, Not(HasSubstr("silent")));
    EXPECT_NEAR(PeakDb(m_dir / "out" / "beep.wav"), PeakDb(m_dir / "out" / "long.wav"), 0.5);
}

TEST_F(ConvertTest, ALowerTrimThresholdNeverTrimsMore)
{
    // A tone at -3 dBFS alone, and one with silence and a faint floor around it.
    Make("sox -n -r 8000 -c 1 $D/tone.wav synth 0.5 sine 440 vol 0.708 && sox -n -r 8000 -c 1 $D/floor.wav "
         "synth 1.1 whitenoise vol 0.00001 && sox $D/tone.wav $D/padded.wav pad 0.3 0.3 && sox -m -v 1 "
         "$D/padded.wav -v 1 "
         "$D/floor.wav $D/around.wav");
    for (const char* file : {"tone.wav", "around.wav"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(Convert({"-o", Path("whole"), Path(file)}).code, 0);
        const std::vector<double> whole = AlawSamples(m_dir / "whole" / file);
        std::size_t last = 0;
        for (int db = -4; db >= -119; db -= 5) {
            SCOPED_TRACE(db);
            Outcome o =
                Convert({"--trim-threshold=" + std::to_string(db) + "dB", "-o", Path("out"), Path(file)});
            ASSERT_EQ(o.code, 0) << o.err;
            const std::vector<double> x = AlawSamples(m_dir / "out" / file);
            EXPECT_GE(x.size(), last);
            EXPECT_GE(x.size(), 4000u); // the tone is kept whole
            last = x.size();
            if (std::string(file) == "tone.wav") {
                EXPECT_EQ(x, whole); // nothing to trim, not even its first sample
            }
        }
    }
}

} // namespace
