// Speaking a prompt script: `voicelib speak` on 100 short prompts (half
// Mandarin, half English) against the espeak-ng command line writing the same
// 100 WAVE files, one after another, plus their conversion by
// `voicelib convert`, in the same run.
//
// usage: bench_speak [PROMPTS (100)]

#include "timing.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A program's wall time in seconds, or -1 when it failed.
double Spawn(const std::vector<std::string>& args)
{
    const voicelib::bench::ProcessRun run = voicelib::bench::Spawn(args);
    return run.ok ? run.ms / 1e3 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int prompts = argc > 1 ? std::atoi(argv[1]) : 100;
    if (prompts < 1) {
        std::fprintf(stderr, "usage: bench_speak [PROMPTS]\n");
        return 2;
    }
    if (std::system("command -v espeak-ng >/dev/null") != 0) {
        std::printf("bench_speak: skipped, the espeak-ng command line is not installed\n");
        return 0;
    }
    const fs::path data = fs::path(VOICELIB_BENCH_DATA) / "speak";
    fs::remove_all(data);
    fs::create_directories(data / "espeak");
    std::ofstream script(data / "script.csv");
    script << "name,text\n";
    std::vector<std::string> texts;
    for (int i = 0; i < prompts; ++i) {
        texts.push_back(i % 2 ? "Prompt " + std::to_string(i) + ", please hold the line"
                              : "欢迎致电第" + std::to_string(i) + "号服务台");
        script << "p" << i << ",\"" << texts.back() << "\"\n";
    }
    script.close();

    // The baseline: a user's shell loop over the texts, then one conversion run.
    double spoken = 0;
    std::vector<std::string> wavs;
    for (int i = 0; i < prompts; ++i) {
        wavs.push_back((data / "espeak" / ("p" + std::to_string(i) + ".wav")).string());
        const double t = Spawn({"espeak-ng", "-v", i % 2 ? "en" : "cmn", "-w", wavs.back(), texts[i]});
        if (t < 0) {
            std::printf("bench_speak: espeak-ng failed\n");
            return 1;
        }
        spoken += t;
    }
    std::vector<std::string> convert = {VOICELIB_CLI, "convert", "-o", (data / "converted").string()};
    convert.insert(convert.end(), wavs.begin(), wavs.end());
    const double converted = Spawn(convert);
    const double ours =
        Spawn({VOICELIB_CLI, "speak", "-o", (data / "ours").string(), (data / "script.csv").string()});
    if (converted < 0 || ours < 0) {
        std::printf("bench_speak: %s failed\n", converted < 0 ? "voicelib convert" : "voicelib speak");
        return 1;
    }
    const double base = spoken + converted;
    std::printf("%d short prompts to 8 kHz mono A-law WAVE files\n", prompts);
    std::printf("  baseline: espeak-ng -w F TEXT once per prompt (%.2f s), then voicelib convert (%.2f s)\n",
                spoken, converted);
    std::printf("  baseline           %8.2f s\n", base);
    std::printf("  voicelib speak     %8.2f s\n", ours);
    std::printf("  ratio voicelib/baseline: %.2f (target <= 1.0)\n", ours / base);
    fs::remove_all(data);
    return 0;
}
