// Times keeping a list's capacity current while it is edited: a list of
// 100,000 rows over 1024 distinct sources, against the baseline of the edit
// itself (inserting a row at the top of the same list, measured in the same
// run). Prints medians and ratios: the warm update after an edit, a refresh
// (a stat per remembered path), the first look at a list (1024 probes) and
// the same without a cache.
//
// Usage: bench_capacity [folder]   (default: $TMPDIR or /tmp)

#include "bench/timing.h"
#include "core/source_info.h"
#include "core/voice_list.h"
#include "core/wave.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace voicelib;
using namespace voicelib::bench;
namespace fs = std::filesystem;

constexpr int kSources = 1024;
constexpr int kRows = 100000;
constexpr int kRuns = 15;

double MedianMs(const std::function<void()>& prepare, const std::function<void()>& fn)
{
    std::vector<double> t;
    for (int r = 0; r < kRuns; ++r) {
        prepare();
        t.push_back(TimeMs(fn));
    }
    return Median(t);
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::path(tmp ? tmp : "/tmp");
    std::string tmpl = (base / "bench-capacity-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("bench_capacity: mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;

    std::vector<std::string> sources;
    for (int i = 0; i < kSources; ++i) {
        const std::uint32_t audio = 160u * static_cast<std::uint32_t>(1 + i % 50) + 7;
        std::vector<unsigned char> bytes = MakeCanonicalWaveHeader(audio);
        bytes.resize(bytes.size() + audio, 0xd5);
        sources.push_back((dir / ("s" + std::to_string(i) + ".wav")).string());
        std::ofstream(sources.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> rows;
    for (int i = 0; i < kRows; ++i)
        rows.push_back(sources[static_cast<std::size_t>(i % kSources)]);

    VoiceList list;
    list.Assign(rows);
    CapacityCache cache;
    Capacity c{};

    const double edit = MedianMs([&] { list.SetSelected(0); },
                                 [&] {
                                     list.Insert(sources[7]);
                                     list.SetSelected(0);
                                     list.DeleteSelected();
                                 }) /
                        2;
    cache.Update(list.GetPaths());
    const double warm = MedianMs([&] {}, [&] { c = cache.Update(list.GetPaths()); });
    const double refresh = MedianMs([&] {}, [&] { cache.Refresh(); });
    const double cold = MedianMs([&] { cache.Clear(); }, [&] { c = cache.Update(list.GetPaths()); });
    const double direct = MedianMs([&] {}, [&] { c = ComputeCapacity(list.GetPaths()); });

    std::printf("list of %d rows over %d sources: %d rows, %.1f s, %llu bytes, %d over the limit\n", kRows,
                kSources, c.rows, c.Seconds(), static_cast<unsigned long long>(c.libraryBytes), c.overLimit);
    std::printf("baseline: one edit (insert or delete at the top)    %8.3f ms\n", edit);
    std::printf("update after an edit (cache warm)                   %8.3f ms  %6.2fx the edit\n", warm,
                warm / edit);
    std::printf("refresh (a stat per remembered path)                %8.3f ms  %6.2fx the edit\n", refresh,
                refresh / edit);
    std::printf("first look (1024 probes)                            %8.3f ms  %6.2fx the edit\n", cold,
                cold / edit);
    std::printf("without a cache (1024 probes)                       %8.3f ms  %6.2fx the edit\n", direct,
                direct / edit);
    fs::remove_all(dir);
    return 0;
}
