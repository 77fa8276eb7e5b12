// Converting many MP3 recordings: `voicelib convert` (files in parallel, one
// per core) against a shell loop of `ffmpeg -i F -ar 8000 -ac 1 -c:a pcm_alaw`,
// one file after another, on the same files in the same run. Also the peak
// memory of converting a short and a long file, which should not grow with
// the length. Inputs are made by ffmpeg once and cached in the build folder.
//
// usage: bench_convert [FILES (100)] [MINUTES_LONG (30)] [JOBS (2)]

#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using voicelib::bench::Spawn;
using Run = voicelib::bench::ProcessRun;

namespace {

bool Shell(const std::string& cmd)
{
    return std::system(cmd.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 100;
    const int longMinutes = argc > 2 ? std::atoi(argv[2]) : 30;
    const std::string jobs = argc > 3 ? argv[3] : "2";
    if (files < 1 || longMinutes < 1) {
        std::fprintf(stderr, "usage: bench_convert [FILES] [MINUTES_LONG] [JOBS]\n");
        return 2;
    }
    if (!Shell("command -v ffmpeg >/dev/null")) {
        std::printf("bench_convert: skipped, ffmpeg is not installed\n");
        return 0;
    }

    const fs::path data = fs::path(VOICELIB_BENCH_DATA) / "convert";
    fs::create_directories(data);
    // One minute of 44.1 kHz stereo: pink noise left, a tone right, 128 kbit/s.
    const fs::path minute = data / "minute.mp3";
    if (!fs::exists(minute)) {
        std::printf("making the inputs in %s ...\n", data.c_str());
        std::fflush(stdout);
        if (!Shell(
                "ffmpeg -nostdin -loglevel error -y -f lavfi -i anoisesrc=c=pink:r=44100:a=0.2:d=60 -f lavfi "
                "-i sine=f=330:r=44100:d=60 -filter_complex amerge=inputs=2 -c:a libmp3lame -b:a 128k '" +
                (data / "tmp.mp3").string() + "'"))
            return 2;
        fs::rename(data / "tmp.mp3", minute);
    }
    std::vector<std::string> inputs;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "in%03d.mp3", i);
        fs::path p = data / name;
        if (!fs::exists(p))
            fs::copy_file(minute, p);
        inputs.push_back(p.string());
    }
    char longName[32];
    std::snprintf(longName, sizeof longName, "long%d.mp3", longMinutes);
    const fs::path longFile = data / longName;
    if (!fs::exists(longFile)) {
        std::string list = "concat:" + minute.string();
        for (int i = 1; i < longMinutes; ++i)
            list += "|" + minute.string();
        if (!Shell("ffmpeg -nostdin -loglevel error -y -i '" + list + "' -c copy '" + longFile.string() +
                   "'"))
            return 2;
    }
    const fs::path shortFile = data / "short.mp3";
    if (!fs::exists(shortFile) && !Shell("ffmpeg -nostdin -loglevel error -y -i '" + minute.string() +
                                         "' -t 5 -c copy '" + shortFile.string() + "'"))
        return 2;

    const fs::path outBase = data / "out-ffmpeg";
    const fs::path outOurs = data / "out-voicelib";
    fs::remove_all(outBase);
    fs::remove_all(outOurs);
    fs::create_directories(outBase);
    fs::create_directories(outOurs);

    // The baseline: a user's shell loop over the files.
    Run base;
    base.ok = true;
    for (const auto& in : inputs) {
        Run r = Spawn({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", in, "-ar", "8000", "-ac", "1",
                       "-c:a", "pcm_alaw",
                       (outBase / fs::path(in).filename()).replace_extension(".wav").string()});
        base.ok = base.ok && r.ok;
        base.ms += r.ms;
        base.maxRssKb = std::max(base.maxRssKb, r.maxRssKb);
    }
    std::vector<std::string> cmd = {VOICELIB_CLI, "convert", "-j", jobs, "-o", outOurs.string()};
    cmd.insert(cmd.end(), inputs.begin(), inputs.end());
    Run ours = Spawn(cmd);
    if (!base.ok || !ours.ok) {
        std::printf("bench_convert: a conversion failed (ffmpeg %s, voicelib %s)\n",
                    base.ok ? "ok" : "failed", ours.ok ? "ok" : "failed");
        return 1;
    }
    std::printf("%d one-minute 44.1 kHz stereo MP3 files to 8 kHz mono A-law WAVE\n", files);
    std::printf("  baseline: ffmpeg -i F -ar 8000 -ac 1 -c:a pcm_alaw, once per file, one after another\n");
    std::printf("  ffmpeg loop        %8.2f s\n", base.ms / 1e3);
    std::printf("  voicelib convert   %8.2f s  (-j %s)\n", ours.ms / 1e3, jobs.c_str());
    std::printf("  ratio voicelib/ffmpeg: %.2f (target <= 1.0)\n", ours.ms / 1e3 / base.ms / 1e3);

    fs::remove_all(outOurs);
    fs::create_directories(outOurs);
    Run small = Spawn({VOICELIB_CLI, "convert", "-o", outOurs.string(), shortFile.string()});
    Run large = Spawn({VOICELIB_CLI, "convert", "-o", outOurs.string(), longFile.string()});
    Run ffLarge = Spawn({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", longFile.string(), "-ar",
                         "8000", "-ac", "1", "-c:a", "pcm_alaw", (outBase / "long.wav").string()});
    std::printf("peak memory (max RSS) of one conversion:\n");
    std::printf("  voicelib, 5 s file       %7ld KiB (%s)\n", small.maxRssKb, small.ok ? "ok" : "failed");
    std::printf("  voicelib, %d min file   %7ld KiB (%s, %.2f s)\n", longMinutes, large.maxRssKb,
                large.ok ? "ok" : "failed", large.ms / 1e3);
    std::printf("  ffmpeg,   %d min file   %7ld KiB (%.2f s)\n", longMinutes, ffLarge.maxRssKb,
                ffLarge.ms / 1e3);
    std::printf("  growth long/short: %.2f (flat: about 1)\n",
                small.maxRssKb > 0 ? static_cast<double>(large.maxRssKb) / small.maxRssKb : 0.0);
    fs::remove_all(outOurs);
    fs::remove_all(outBase);
    return small.ok && large.ok ? 0 : 1;
}
