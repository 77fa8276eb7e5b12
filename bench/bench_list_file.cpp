// Load and export of a 100,000-row list file against a plain read and write
// of a file of the same size, measured in the same run. Target: each at most
// three times the plain file I/O.

#include "bench/timing.h"
#include "core/list_file.h"
#include "core/voice_list.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace voicelib;
using namespace voicelib::bench;

constexpr int kRows = 100000;
constexpr int kRuns = 9;

double MedianMs(const std::function<void()>& fn)
{
    fn(); // warm the page cache and the allocator
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i)
        ms.push_back(TimeMs(fn));
    return Median(ms);
}

void Require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_list_file: %s failed\n", what);
        std::exit(1);
    }
}

std::string PlainRead(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    Require(fd >= 0, "open");
    struct stat st;
    Require(::fstat(fd, &st) == 0, "fstat");
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        ssize_t r = ::read(fd, bytes.data() + have, bytes.size() - have);
        Require(r > 0, "read");
        have += static_cast<std::size_t>(r);
    }
    ::close(fd);
    return bytes;
}

void PlainWrite(const std::string& path, const std::string& bytes, bool sync)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Require(fd >= 0, "open for writing");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        Require(w > 0, "write");
        done += static_cast<std::size_t>(w);
    }
    if (sync)
        Require(::fsync(fd) == 0, "fsync");
    ::close(fd);
}

void Report(const char* what, double ms, double baseMs)
{
    double ratio = ms / baseMs;
    std::printf("%-44s %9.2f ms  %5.2fx %s\n", what, ms, ratio, ratio <= 3.0 ? "(within 3x)" : "(OVER 3x)");
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string tmpl = (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) / "bench-list-XXXXXX";
    Require(::mkdtemp(tmpl.data()) != nullptr, "mkdtemp");
    const fs::path dir = tmpl;
    const std::string listPath = (dir / "list.ini").string();
    const std::string freshPath = (dir / "fresh.ini").string();
    const std::string plainPath = (dir / "plain.bin").string();

    std::vector<std::string> paths;
    paths.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "/home/voice/prompts/set_%02d/prompt_%06d.wav", i % 37, i);
        paths.emplace_back(buf);
    }
    VoiceList list;
    list.Assign(paths);
    Require(ExportListFile(listPath, list).ok(), "first export");
    const std::string content = PlainRead(listPath);
    PlainWrite(plainPath, content, true);

    const double readMs =
        MedianMs([&] { Require(PlainRead(plainPath).size() == content.size(), "plain read"); });
    const double writeSyncMs = MedianMs([&] { PlainWrite(plainPath, content, true); });
    const double writeMs = MedianMs([&] { PlainWrite(plainPath, content, false); });

    VoiceList loaded;
    const double loadMs = MedianMs(
        [&] { Require(LoadListFile(listPath, loaded).ok() && loaded.GetItemCount() == kRows, "load"); });
    Require(loaded.GetPaths() == paths, "loaded rows");
    const double exportOverMs = MedianMs([&] { Require(ExportListFile(listPath, list).ok(), "export"); });
    const double exportNewMs = MedianMs([&] {
        fs::remove(freshPath);
        Require(ExportListFile(freshPath, list).ok(), "export to a new file");
    });
    Require(PlainRead(listPath) == content, "exported bytes");

    std::printf("list of %d rows, %zu bytes; median of %d runs\n", kRows, content.size(), kRuns);
    std::printf("%-44s %9.2f ms\n", "plain read", readMs);
    std::printf("%-44s %9.2f ms\n", "plain write + fsync", writeSyncMs);
    std::printf("%-44s %9.2f ms\n", "plain write, no fsync (for reference)", writeMs);
    Report("load vs plain read", loadMs, readMs);
    Report("export over the same list vs write + fsync", exportOverMs, writeSyncMs);
    Report("export to a new file vs write + fsync", exportNewMs, writeSyncMs);

    fs::remove_all(dir);
    return 0;
}
