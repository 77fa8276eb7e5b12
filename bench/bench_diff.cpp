// Times `voicelib diff` on two libraries of 1024 entries of 64 KiB that
// differ only in the last entry, against `cmp` on the same two files in the
// same run (both as programs, from the page cache). Prints medians and the
// ratio; the program's start-up and the in-process comparison are printed
// beside them, so a slow start is told apart from a slow comparison.
//
// Usage: bench_diff [folder]   (default: $TMPDIR or /tmp)

#include "bench/timing.h"
#include "core/byteorder.h"
#include "core/fileio.h"
#include "core/library_diff.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace voicelib;
using namespace voicelib::bench;
namespace fs = std::filesystem;

constexpr int ENTRIES = 1024;
constexpr std::uint32_t ENTRY_BYTES = 64 * 1024 / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE;
constexpr int RUNS = 7;

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "bench_diff: %s\n", what.c_str());
    std::exit(1);
}

// A library whose last entry's audio depends on last.
void WriteLibraryFile(const std::string& path, int last)
{
    std::vector<unsigned char> header(4 + 4 * ENTRIES);
    PutLe32(header.data(), ENTRIES);
    for (int i = 0; i < ENTRIES; ++i)
        PutLe32(header.data() + 4 + 4 * i, ENTRY_BYTES);
    FileHandle f(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!f.valid() || WriteAll(f.fd(), header.data(), header.size()))
        Die("cannot write " + path);
    std::vector<unsigned char> audio(ENTRY_BYTES);
    for (int i = 0; i < ENTRIES; ++i) {
        const int seed = i == ENTRIES - 1 ? last : i;
        for (std::size_t k = 0; k < audio.size(); ++k)
            audio[k] = static_cast<unsigned char>((k * 13 + static_cast<std::size_t>(seed)) % 251);
        if (WriteAll(f.fd(), audio.data(), audio.size()))
            Die("cannot write " + path);
    }
}

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::string tmpl = base + "/bench-diff-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        Die("cannot create a folder in " + base + ": " + std::strerror(errno));
    const fs::path dir = tmpl;
    const std::string a = (dir / "a.bin").string();
    const std::string b = (dir / "b.bin").string();
    WriteLibraryFile(a, 1);
    WriteLibraryFile(b, 2);

    const std::string files = " '" + a + "' '" + b + "' >/dev/null";
    const std::string diffCommand = std::string("'") + VOICELIB_CLI + "' diff" + files;
    const std::string cmpCommand = "cmp" + files;
    const std::string cmpQuietCommand = "cmp -s" + files;
    // Everything is read once before timing, so every run reads from the page cache.
    if (Shell(cmpCommand) != 1 || Shell(diffCommand) != 1)
        Die("the libraries were expected to differ");

    const std::string startCommand = std::string("'") + VOICELIB_CLI + "' --help >/dev/null";
    std::vector<double> diff, cmp, cmpQuiet, inProcess, start;
    for (int run = 0; run < RUNS; ++run) {
        diff.push_back(TimeMs([&] {
            if (Shell(diffCommand) != 1)
                Die("voicelib diff failed");
        }));
        cmp.push_back(TimeMs([&] {
            if (Shell(cmpCommand) != 1)
                Die("cmp failed");
        }));
        cmpQuiet.push_back(TimeMs([&] {
            if (Shell(cmpQuietCommand) != 1)
                Die("cmp -s failed");
        }));
        start.push_back(TimeMs([&] {
            if (Shell(startCommand) != 0)
                Die("voicelib --help failed");
        }));
        inProcess.push_back(TimeMs([&] {
            Result<DiffSide> sa = DiffSide::Open(a);
            Result<DiffSide> sb = DiffSide::Open(b);
            if (!sa || !sb)
                Die("cannot open the libraries");
            Result<LibraryDiff> d = LibraryDiff::Compare(*sa, *sb);
            if (!d || d->IsIdentical() || !d->Report([](const DiffEntry&) {}))
                Die("the comparison failed");
        }));
    }

    const double d = Median(diff), c = Median(cmp), cq = Median(cmpQuiet), in = Median(inProcess),
                 st = Median(start);
    std::printf("libraries: %d entries x %u bytes, differing in the last, median of %d runs\n", ENTRIES,
                ENTRY_BYTES, RUNS);
    std::printf("voicelib diff       %9.2f ms\n", d);
    std::printf("cmp                 %9.2f ms\n", c);
    std::printf("cmp -s              %9.2f ms\n", cq);
    std::printf("voicelib --help     %9.2f ms (the program's start-up)\n", st);
    std::printf("LibraryDiff         %9.2f ms (in process)\n", in);
    std::printf("diff / cmp          %9.2f  (target <= 1.5)\n", d / c);
    std::printf("diff / cmp -s       %9.2f\n", d / cq);
    std::printf("LibraryDiff / cmp   %9.2f  (without the start-up)\n", in / c);

    fs::remove_all(dir);
    return 0;
}
