// Whole commands as processes, each against its floor measured in the same
// run, the two alternated so that a slow moment of the machine falls on both:
// - `voicelib info` of a one-entry library against a plain C++ program that
//   reads the same file: start-up, with the libraries the program loads;
// - `voicelib show --json` of a list of ROWS rows against plain `show`: time
//   and peak memory of writing the rows as JSON.
// Prints medians (wall time, processor time, peak memory) and their ratios;
// asserts nothing.
//
// usage: bench_commands [RUNS (21)] [ROWS (1000000)]

#include "timing.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using voicelib::bench::Median;
using voicelib::bench::Spawn;
using Run = voicelib::bench::ProcessRun;

namespace {

struct Pair
{
    std::vector<double> ms[2];
    std::vector<double> cpuMs[2];
    std::vector<double> mib[2];
};

// runs pairs of the floor and ours, alternated; false when one failed.
bool Alternate(int runs, const std::vector<std::string>& floor, const std::vector<std::string>& ours,
               Pair* pair)
{
    for (int i = 0; i < runs; ++i) {
        for (int j = 0; j < 2; ++j) {
            const int k = (i + j) % 2; // each goes first in every other pair
            const Run r = Spawn(k == 0 ? floor : ours);
            if (!r.ok) {
                std::fprintf(stderr, "bench_commands: %s failed\n", (k == 0 ? floor : ours)[0].c_str());
                return false;
            }
            pair->ms[k].push_back(r.ms);
            pair->cpuMs[k].push_back(r.cpuMs);
            pair->mib[k].push_back(static_cast<double>(r.maxRssKb) / 1024.0);
        }
    }
    return true;
}

void Print(const char* what, const char* floorName, const Pair& p)
{
    const double ms[2] = {Median(p.ms[0]), Median(p.ms[1])};
    const double cpu[2] = {Median(p.cpuMs[0]), Median(p.cpuMs[1])};
    const double mib[2] = {Median(p.mib[0]), Median(p.mib[1])};
    std::printf("%-12s %7.1f ms (cpu %6.1f) %6.1f MiB | %-12s %7.1f ms (cpu %6.1f) %6.1f MiB | "
                "time %.2fx, cpu %.2fx, memory %.2fx\n",
                what, ms[1], cpu[1], mib[1], floorName, ms[0], cpu[0], mib[0], ms[1] / ms[0], cpu[1] / cpu[0],
                mib[1] / mib[0]);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 21;
    const long rows = argc > 2 ? std::atol(argv[2]) : 1000000;
    if (runs < 1 || rows < 1 || rows > 1000000) {
        std::fprintf(stderr, "usage: bench_commands [RUNS] [ROWS (at most 1000000)]\n");
        return 2;
    }
    const fs::path data = fs::path(VOICELIB_BENCH_DATA) / "commands";
    fs::create_directories(data);

    // A library of one 160-byte entry.
    const fs::path library = data / "one.bin";
    {
        std::string bytes("\x01\0\0\0\xa0\0\0\0", 8);
        bytes += std::string(160, '\xd5');
        std::ofstream(library, std::ios::binary) << bytes;
    }
    Pair info;
    if (!Alternate(runs, {VOICELIB_FLOOR, library.string()}, {VOICELIB_CLI, "info", library.string()}, &info))
        return 1;
    Print("info", "plain reader", info);

    const fs::path list = data / ("rows" + std::to_string(rows) + ".ini");
    if (!fs::exists(list)) {
        std::ofstream out(list, std::ios::binary);
        out << "[ZuLibItem]\nZuCount=" << rows << "\n";
        char line[64];
        for (long i = 0; i < rows; ++i) {
            std::snprintf(line, sizeof line, "D%03ld=prompts/prompt%07ld.wav\n", i, i);
            out << line;
        }
    }
    Pair show;
    const int showRuns = std::max(3, runs / 4);
    if (!Alternate(showRuns, {VOICELIB_CLI, "show", list.string()},
                   {VOICELIB_CLI, "show", "--json", list.string()}, &show))
        return 1;
    Print("show --json", "show", show);
    return 0;
}
