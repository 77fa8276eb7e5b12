// Times a library build of 1024 sources of 64 KiB each against two
// baselines measured in the same run: `cat` of the same sources into one
// file, and the one-160-byte-read-and-write-per-block copy. The build is the
// command line's: each source opened once for its check, its warnings and its
// copy. Also times the window's write, which opens each source again after
// its own earlier validation, and that validation. Prints medians and ratios.
//
// Usage: bench_build [folder]   (default: $TMPDIR or /tmp)

#include "bench/timing.h"
#include "core/fileio.h"
#include "core/library.h"
#include "core/wave.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace voicelib;
using namespace voicelib::bench;
namespace fs = std::filesystem;

constexpr int SOURCES = 1024;
constexpr std::size_t SOURCE_BYTES = 64 * 1024;
constexpr int RUNS = 11;

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "bench_build: %s\n", what.c_str());
    std::exit(1);
}

void WriteSource(const std::string& path, int seed)
{
    std::vector<unsigned char> bytes = MakeCanonicalWaveHeader(SOURCE_BYTES - WAVE_HEADER_PROBE_SIZE);
    bytes.resize(SOURCE_BYTES);
    for (std::size_t i = WAVE_HEADER_PROBE_SIZE; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 13 + static_cast<std::size_t>(seed)) % 251);
    FileHandle f(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!f.valid() || WriteAll(f.fd(), bytes.data(), bytes.size()))
        Die("cannot write " + path);
}

// The copy pattern of the old builder: a 160-byte read and a 160-byte write
// per block, straight on the files, then the size table over the placeholders.
void NaiveBuild(const std::string& target, const std::vector<std::string>& paths)
{
    FileHandle out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.valid())
        Die("cannot create " + target);
    const auto n = static_cast<std::uint32_t>(paths.size());
    std::vector<std::uint32_t> sizes(n, 0); // little-endian host assumed, as Linux on x86/ARM is
    if (WriteAll(out.fd(), &n, 4) || WriteAll(out.fd(), sizes.data(), 4 * n))
        Die("write failed");
    for (std::uint32_t i = 0; i < n; ++i) {
        FileHandle src(::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC));
        if (!src.valid())
            continue;
        unsigned char block[AUDIO_BLOCK_SIZE];
        off_t pos = WAVE_HEADER_PROBE_SIZE;
        ssize_t r;
        while ((r = ::pread(src.fd(), block, sizeof block, pos)) > 0) {
            pos += r;
            if (r == AUDIO_BLOCK_SIZE) {
                if (::write(out.fd(), block, AUDIO_BLOCK_SIZE) != AUDIO_BLOCK_SIZE)
                    Die("write failed");
                sizes[i] += AUDIO_BLOCK_SIZE;
            }
        }
    }
    if (WriteAllAt(out.fd(), sizes.data(), 4 * n, 4))
        Die("write failed");
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::string tmpl = base + "/bench-build-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        Die("cannot create a folder in " + base + ": " + std::strerror(errno));
    const fs::path dir = tmpl;

    std::vector<std::string> paths;
    std::string catCommand = "cd '" + dir.string() + "' && cat";
    for (int i = 0; i < SOURCES; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%04d.wav", i);
        paths.push_back((dir / name).string());
        WriteSource(paths.back(), i);
        catCommand += std::string(" ") + name;
    }
    catCommand += " > cat.out";
    // The build flushes its file before the rename; this baseline does the same.
    const std::string catSyncCommand = catCommand + " && sync cat.out";
    const std::string libPath = (dir / "lib.bin").string();
    const std::string naivePath = (dir / "naive.bin").string();

    std::vector<double> build, write, cat, catSync, naive, validate;
    std::size_t warnings = 0; // the build reads them as the command line does
    for (int run = 0; run < RUNS; ++run) {
        fs::remove(libPath);
        fs::remove(dir / "cat.out");
        fs::remove(naivePath);
        validate.push_back(TimeMs([&] {
            if (FindFirstInvalidSource(paths))
                Die("validation failed");
        }));
        build.push_back(TimeMs([&] {
            const BuildSources sources(paths);
            if (sources.FirstInvalid())
                Die("validation failed");
            warnings = sources.Warnings().size();
            WriteResult r = WriteLibrary(libPath, sources);
            if (!r.status.ok())
                Die(r.status.message());
        }));
        write.push_back(TimeMs([&] {
            WriteResult r = WriteLibrary(libPath, paths);
            if (!r.status.ok())
                Die(r.status.message());
        }));
        cat.push_back(TimeMs([&] {
            if (std::system(catCommand.c_str()) != 0)
                Die("cat failed");
        }));
        fs::remove(dir / "cat.out");
        catSync.push_back(TimeMs([&] {
            if (std::system(catSyncCommand.c_str()) != 0)
                Die("cat failed");
        }));
        naive.push_back(TimeMs([&] { NaiveBuild(naivePath, paths); }));
    }

    // Both builders must have written the same library.
    const auto libSize = fs::file_size(libPath);
    if (std::system(("cmp -s '" + libPath + "' '" + naivePath + "'").c_str()) != 0)
        Die("the naive build wrote a different library");

    const double b = Median(build), w = Median(write), c = Median(cat), cs = Median(catSync), nv = Median(naive),
                 v = Median(validate);
    std::printf("sources: %d x %zu bytes (%zu with warnings), library %ju bytes, median of %d runs\n", SOURCES,
                SOURCE_BYTES, warnings, static_cast<std::uintmax_t>(libSize), RUNS);
    std::printf("build (check + copy)  %9.2f ms\n", b);
    std::printf("WriteLibrary of paths %9.2f ms\n", w);
    std::printf("cat                   %9.2f ms\n", c);
    std::printf("cat + sync            %9.2f ms\n", cs);
    std::printf("160-byte read/write   %9.2f ms\n", nv);
    std::printf("FindFirstInvalidSource%9.2f ms (%.1f us per file)\n", v, v * 1000.0 / SOURCES);
    // Each run's own ratio, so that a slow moment of the machine falls on both sides of it.
    const auto paired = [](const std::vector<double>& x, const std::vector<double>& y) {
        std::vector<double> r;
        for (std::size_t i = 0; i < x.size(); ++i)
            r.push_back(x[i] / y[i]);
        return Median(r);
    };
    std::printf("build / cat           %9.2f\n", paired(build, cat));
    std::printf("build / (cat + sync)  %9.2f  (target <= 1.1)\n", paired(build, catSync));
    std::printf("write / (cat + sync)  %9.2f\n", paired(write, catSync));
    std::printf("build / 160-byte copy %9.3f\n", b / nv);

    fs::remove_all(dir);
    return 0;
}
