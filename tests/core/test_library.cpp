#include "core/library.h"
#include "core/messages.h"
#include "core/tempfiles.h"
#include "core/wave.h"
#include "iofault.h"
#include "language.h"
#include "tempfolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace voicelib {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// Audio bytes that differ between sources and along each source, so a byte
// taken from the wrong place shows.
Bytes Audio(std::size_t n, int seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 7 + static_cast<std::size_t>(seed) * 31) % 251);
    return b;
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Le32(std::uint32_t v)
{
    return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

class LibraryTest : public test::TempFolderTest
{
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        target = (m_dir / "out.bin").string();
    }

    std::string Write(const std::string& name, const Bytes& bytes)
    {
        return test::Spit(m_dir / name,
                          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // A canonical source whose file holds `audio` bytes after the header.
    std::string Source(const std::string& name, std::size_t audio, int seed = 1)
    {
        return Write(name,
                     Cat(MakeCanonicalWaveHeader(static_cast<std::uint32_t>(audio)), Audio(audio, seed)));
    }
    static Bytes Read(const std::string& path)
    {
        const std::string bytes = test::Slurp(path);
        return Bytes(bytes.begin(), bytes.end());
    }
    // Files of the folder other than the ones the test made: leftovers.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir))
            if (e.path().filename().string().find(".voicelib-") != std::string::npos)
                names.push_back(e.path().filename().string());
        return names;
    }

    std::string target;
};

struct SizeCase
{
    const char* name;
    std::size_t fileBytes;
    std::uint32_t entry;
    friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }
};

class EntrySizeTest : public LibraryTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(EntrySizeTest, WholeBlocksOnly)
{
    const SizeCase& c = GetParam();
    const std::string src = Source("a.wav", c.fileBytes - 58);
    WriteResult r = WriteLibrary(target, {src});
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_EQ(r.summary.entries, 1);
    EXPECT_EQ(r.summary.ok, 1);
    EXPECT_EQ(r.summary.failed, 0);
    EXPECT_EQ(r.summary.sizes[0], c.entry);
    EXPECT_EQ(r.summary.bytes, 8 + c.entry);
    const Bytes audio = Audio(c.fileBytes - 58, 1);
    EXPECT_EQ(Read(target), Cat(Cat(Le32(1), Le32(c.entry)), Bytes(audio.begin(), audio.begin() + c.entry)));
}

INSTANTIATE_TEST_SUITE_P(Library, EntrySizeTest,
                         ::testing::Values(SizeCase{"HeaderOnly", 58, 0},
                                           SizeCase{"OneShortOfABlock", 58 + 159, 0},
                                           SizeCase{"OneBlock", 58 + 160, 160},
                                           SizeCase{"TailDropped", 58 + 330, 320}),
                         [](const auto& info) { return info.param.name; });

TEST_F(LibraryTest, EntriesBackToBack)
{
    const std::string a = Source("a.wav", 320, 1);
    const std::string b = Source("b.wav", 100, 2);
    const std::string c = Source("c.wav", 170, 3);
    WriteResult r = WriteLibrary(target, {a, b, c});
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    const Bytes lib = Read(target);
    ASSERT_EQ(lib.size(), 496u);
    EXPECT_EQ(r.summary.bytes, 496u);
    EXPECT_EQ(Bytes(lib.begin(), lib.begin() + 16), Cat(Cat(Le32(3), Le32(320)), Cat(Le32(0), Le32(160))));
    EXPECT_EQ(Bytes(lib.begin() + 16, lib.begin() + 336), Audio(320, 1));
    const Bytes third = Audio(170, 3);
    EXPECT_EQ(Bytes(lib.begin() + 336, lib.end()), Bytes(third.begin(), third.begin() + 160));

    Result<LibraryIndex> read = ReadLibraryIndex(target);
    ASSERT_TRUE(read.ok());
    const LibraryIndex& index = *read;
    EXPECT_EQ(index.sizes, (std::vector<std::uint32_t>{320, 0, 160}));
    EXPECT_EQ(index.offsets, (std::vector<std::uint64_t>{16, 336, 336}));
}

TEST_F(LibraryTest, SameSourceTwice)
{
    const std::string a = Source("a.wav", 480);
    WriteResult r = WriteLibrary(target, {a, a});
    ASSERT_TRUE(r.status.ok());
    EXPECT_EQ(r.summary.ok, 2);
    EXPECT_EQ(r.summary.sizes[0], 480u);
    EXPECT_EQ(r.summary.sizes[1], 480u);
    EXPECT_EQ(Read(target), Cat(Cat(Cat(Le32(2), Le32(480)), Cat(Le32(480), Audio(480, 1))), Audio(480, 1)));
}

TEST_F(LibraryTest, RowsBeyondCapacityAreLeftOut)
{
    const std::string a = Source("a.wav", 160, 1);
    std::vector<std::string> rows(1100, a);
    rows[1050] = (m_dir / "missing.wav").string(); // never opened
    WriteResult r = WriteLibrary(target, rows);
    ASSERT_TRUE(r.status.ok());
    EXPECT_EQ(r.summary.entries, 1024);
    EXPECT_EQ(r.summary.ok, 1024);
    EXPECT_EQ(r.summary.failed, 0);
    EXPECT_EQ(r.summary.leftOut, 76);
    EXPECT_EQ(fs::file_size(target), 4u + 4 * 1024 + 1024 * 160);
    EXPECT_TRUE(ReadLibraryIndex(target).ok());
}

TEST_F(LibraryTest, UnopenableSourcesGiveEmptyEntries)
{
    const std::string a = Source("a.wav", 160, 1);
    const std::string gone = Source("gone.wav", 320, 2);
    ASSERT_FALSE(FindFirstInvalidSource({a, gone}));
    fs::remove(gone); // between validation and the write
    const std::string folder = (m_dir / "sub.wav").string();
    fs::create_directory(folder);

    std::vector<int> progress;
    WriteResult r = WriteLibrary(target, {gone, a, folder, ""}, [&](int done, int total) {
        progress.push_back(done);
        EXPECT_EQ(total, 4);
        return true;
    });
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_EQ(r.summary.ok, 1);
    EXPECT_EQ(r.summary.failed, 3);
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Read(target),
              Cat(Cat(Cat(Le32(4), Le32(0)), Cat(Le32(160), Le32(0))), Cat(Le32(0), Audio(160, 1))));
    ASSERT_EQ(r.summary.failures.size(), 3u);
    EXPECT_EQ(r.summary.failures[0].index, 0);
    EXPECT_EQ(r.summary.failures[0].verdict.problem, SourceProblem::Missing);
    EXPECT_EQ(r.summary.failures[1].index, 2);
    EXPECT_EQ(r.summary.failures[1].verdict.problem, SourceProblem::IsFolder);
    EXPECT_EQ(r.summary.failures[2].verdict.problem, SourceProblem::NoPath);
}

TEST_F(LibraryTest, SourcesChangedAfterValidationAreFailedNotCopied)
{
    const std::string a = Source("a.wav", 160, 1);
    const std::string cut = Source("cut.wav", 320, 2);
    const std::string pcm = Source("pcm.wav", 160, 3);
    const std::string d = Source("d.wav", 480, 4);
    ASSERT_FALSE(FindFirstInvalidSource({a, cut, pcm, d}));

    WriteResult r = WriteLibrary(target, {a, cut, pcm, d}, [&](int done, int) {
        if (done == 1) { // between the check and the copy of the next rows
            EXPECT_EQ(::truncate(cut.c_str(), 30), 0);
            Bytes header = MakeCanonicalWaveHeader(160);
            header[16] = 16; // fmt 16, tag 1: a PCM file
            header[20] = 1;
            Write("pcm.wav", Cat(header, Audio(160, 3)));
        }
        return true;
    });
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_EQ(r.summary.ok, 2);
    EXPECT_EQ(r.summary.failed, 2);
    EXPECT_EQ(Read(target), Cat(Cat(Cat(Le32(4), Le32(160)), Cat(Le32(0), Le32(0))),
                                Cat(Cat(Le32(480), Audio(160, 1)), Audio(480, 4))));
    ASSERT_EQ(r.summary.failures.size(), 2u);
    EXPECT_EQ(r.summary.failures[0].index, 1);
    EXPECT_EQ(r.summary.failures[0].path, cut);
    EXPECT_EQ(r.summary.failures[0].verdict.problem, SourceProblem::TooShort);
    EXPECT_EQ(r.summary.failures[0].verdict.bytes, 30u);
    EXPECT_EQ(r.summary.failures[1].index, 2);
    EXPECT_EQ(r.summary.failures[1].verdict.problem, SourceProblem::FmtSize);
}

// Sources opened once for the check and the copy give the library the
// paths give, also past what the process may hold open, and the file that
// was checked is the one copied.
TEST_F(LibraryTest, OpenedSourcesWriteWhatThePathsWrite)
{
    std::vector<std::string> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back(
            Source("s" + std::to_string(i) + ".wav", 160 * static_cast<std::size_t>(i % 3) + 70, i));
    rows[5] = (m_dir / "missing.wav").string();
    rows[9] = m_dir.string();
    const std::string byPaths = (m_dir / "paths.bin").string();
    ASSERT_TRUE(WriteLibrary(byPaths, rows).status.ok());

    struct Case
    {
        const char* name;
        rlim_t heldAtMost; // RLIM_INFINITY: no limit set
    };
    for (const Case& c : {Case{"all held", RLIM_INFINITY}, Case{"ten held", 10}, Case{"none held", 0}}) {
        SCOPED_TRACE(c.name);
        const auto buildUnderTheLimit = [&] {
            if (c.heldAtMost != RLIM_INFINITY) {
                const auto inUse = static_cast<rlim_t>(
                    std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
                const rlimit limit{inUse + 128 + c.heldAtMost, inUse + 128 + c.heldAtMost};
                if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
                    std::exit(3);
            }
            const BuildSources sources(rows);
            const std::optional<RejectedSource> first = sources.FirstInvalid();
            const bool found = first && first->index == 5 && sources.Invalid().size() == 2 &&
                               sources.Warnings().size() == 300 - 2;
            const WriteResult r = WriteLibrary(target, sources);
            std::exit(found && r.status.ok() && r.summary.failed == 2 && Read(target) == Read(byPaths) ? 0
                                                                                                       : 1);
        };
        // The limit goes in a child, which may lower its hard limit for good.
        EXPECT_EXIT(buildUnderTheLimit(), ::testing::ExitedWithCode(0), "");
    }

    // Renamed over after the check: the checked file is the one copied.
    const std::vector<std::string> two = {rows[0], rows[1]};
    const BuildSources sources(two);
    Source("other.wav", 800, 99);
    fs::rename(m_dir / "other.wav", rows[1]);
    ASSERT_TRUE(WriteLibrary(target, sources).status.ok());
    const Bytes audio = Audio(230, 1);
    EXPECT_EQ(Read(target),
              Cat(Cat(Cat(Le32(2), Le32(0)), Le32(160)), Bytes(audio.begin(), audio.begin() + 160)));
}

TEST(BuildReport, ListsTheFirstFailedRowsAfterTheDesignedLine)
{
    const test::ScopedLanguage chinese("zh_CN");
    for (int failed : {0, 1, 10, 11, 25}) {
        SCOPED_TRACE(failed);
        BuildSummary s;
        s.entries = 30;
        s.ok = 30 - failed;
        s.failed = failed;
        s.leftOut = 2;
        for (int i = 0; i < failed; ++i)
            s.failures.push_back(
                {i,
                 "f" + std::to_string(i) + ".wav",
                 {SourceProblem::Missing, std::make_error_code(std::errc::no_such_file_or_directory)}});
        const std::string text = BuildReportMessage(s);
        std::vector<std::string> lines;
        for (std::size_t at = 0, next; at <= text.size(); at = next + 1) {
            next = std::min(text.find('\n', at), text.size());
            lines.push_back(text.substr(at, next - at));
        }
        const std::size_t listed = static_cast<std::size_t>(std::min(failed, 10));
        ASSERT_EQ(lines.size(), 1 + listed + (failed > 10 ? 1 : 0) + 1) << text;
        EXPECT_EQ(lines[0], "语音库合成结束,共计30个文件,成功:" + std::to_string(30 - failed) + "个,失败" +
                                std::to_string(failed) + "个.");
        for (std::size_t i = 0; i < listed; ++i)
            EXPECT_EQ(lines[1 + i], FailedSourceLine(s.failures[i]));
        if (failed > 10) {
            EXPECT_EQ(lines[1 + listed], "...等" + std::to_string(failed) + "个");
        }
        EXPECT_EQ(lines.back(), LeftOutMessage(2));
    }
}

TEST_F(LibraryTest, MetadataBeforeDataIsNotCopied)
{
    // The layout ffmpeg writes: fmt, fact, LIST, then data.
    Bytes src = MakeCanonicalWaveHeader(0);
    src.resize(50);
    const Bytes list = {'L', 'I', 'S', 'T', 26,  0,   0,   0,   'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 14,
                        0,   0,   0,   'L', 'a', 'v', 'f', '5', '9', '.', '2', '7', '.', '1', '0', '0', 0};
    src = Cat(Cat(Cat(src, list), Cat(Bytes{'d', 'a', 't', 'a'}, Le32(330))), Audio(330, 4));
    WriteResult r = WriteLibrary(target, {Write("ff.wav", src)});
    ASSERT_TRUE(r.status.ok());
    const Bytes audio = Audio(330, 4);
    EXPECT_EQ(Read(target), Cat(Cat(Le32(1), Le32(320)), Bytes(audio.begin(), audio.begin() + 320)));
}

TEST_F(LibraryTest, EmptyListWritesNothing)
{
    WriteResult r = WriteLibrary(target, {});
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.status.path(), target);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(LibraryTest, SecondBuildReplacesTheFirst)
{
    const std::string a = Source("a.wav", 1600, 1);
    const std::string b = Source("b.wav", 160, 2);
    ASSERT_TRUE(WriteLibrary(target, {a, a, b}).status.ok());
    ASSERT_EQ(fs::file_size(target), 16u + 3360);
    WriteResult r = WriteLibrary(target, {b});
    ASSERT_TRUE(r.status.ok());
    EXPECT_EQ(r.summary.sizes[1], 0u); // nothing of the first build's table survives
    EXPECT_EQ(Read(target), Cat(Cat(Le32(1), Le32(160)), Audio(160, 2)));
    EXPECT_TRUE(Leftovers().empty());
}

// Failures of every kind leave the previous library exactly as it was.
class FailedBuildTest : public LibraryTest
{
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        a = Source("a.wav", 1600, 1);
        b = Source("b.wav", 800, 2);
        old = Cat(Cat(Le32(1), Le32(160)), Audio(160, 9));
        Write("out.bin", old);
    }
    void ExpectOldTargetKept()
    {
        EXPECT_EQ(Read(target), old);
        EXPECT_TRUE(Leftovers().empty());
    }

    std::string a, b;
    Bytes old;
};

TEST_F(FailedBuildTest, WriteFailsPartWay)
{
    // Inside the count, the placeholders, the first and second source's audio, the table.
    for (std::uint64_t budget : {0, 3, 10, 12, 500, 1611, 1612, 2000, 2411, 2412, 2415, 2419}) {
        SCOPED_TRACE(budget);
        ScopedIoFault fault;
        IoFault::FailWritesAfter(budget, ENOSPC);
        WriteResult r = WriteLibrary(target, {a, b});
        IoFault::Reset();
        ASSERT_FALSE(r.status.ok());
        EXPECT_EQ(r.status.path(), target);
        EXPECT_NE(r.status.reason().find("space"), std::string::npos) << r.status.reason();
        ExpectOldTargetKept();
    }
    // The budget above reached the last byte: one more and the build goes through.
    ScopedIoFault fault;
    IoFault::FailWritesAfter(2420, ENOSPC);
    EXPECT_TRUE(WriteLibrary(target, {a, b}).status.ok());
}

TEST_F(FailedBuildTest, ReadFailsInSecondSource)
{
    // a's 58-byte header check, chunk headers (one read of up to 512 bytes)
    // and audio; then within b's header check, or half of b's audio.
    for (std::uint64_t budget : {58 + 512 + 1600 + 20, 58 + 512 + 1600 + 58 + 512 + 400}) {
        SCOPED_TRACE(budget);
        ScopedIoFault fault;
        IoFault::FailReadsAfter(budget, EIO);
        WriteResult r = WriteLibrary(target, {a, b});
        ASSERT_FALSE(r.status.ok());
        EXPECT_EQ(r.status.path(), b);
        ExpectOldTargetKept();
    }
}

TEST_F(LibraryTest, DataSizePastEndCopiesToEnd)
{
    // A cut-short file still declares its full data size.
    const std::string src = Source("cut.wav", 400, 5);
    ASSERT_EQ(::truncate(src.c_str(), 58 + 330), 0);
    WriteResult r = WriteLibrary(target, {src});
    ASSERT_TRUE(r.status.ok());
    const Bytes audio = Audio(400, 5);
    EXPECT_EQ(Read(target), Cat(Cat(Le32(1), Le32(320)), Bytes(audio.begin(), audio.begin() + 320)));
}

TEST_F(FailedBuildTest, Cancelled)
{
    int calls = 0;
    WriteResult r = WriteLibrary(target, {a, b, a}, [&](int done, int) {
        ++calls;
        return done < 2;
    });
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(calls, 2);
    EXPECT_NE(r.status.reason().find("cancel"), std::string::npos);
    ExpectOldTargetKept();
}

TEST_F(FailedBuildTest, TargetIsAFolder)
{
    const std::string folder = (m_dir / "lib.bin").string();
    fs::create_directory(folder);
    WriteResult r = WriteLibrary(folder, {a});
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.status.path(), folder);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    ExpectOldTargetKept();
}

TEST_F(FailedBuildTest, FolderNotWritable)
{
    // Root writes into any ordinary folder; /proc takes no files from anyone.
    const bool root = ::geteuid() == 0;
    const std::string path = root ? "/proc/voicelib-test.bin" : target;
    if (!root)
        fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    WriteResult r = WriteLibrary(path, {a});
    fs::permissions(m_dir, fs::perms::owner_all);
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.status.path(), path);
    EXPECT_FALSE(r.status.reason().empty());
    ExpectOldTargetKept();
}

TEST_F(FailedBuildTest, FolderMissing)
{
    const std::string nowhere = (m_dir / "no" / "out.bin").string();
    WriteResult r = WriteLibrary(nowhere, {a});
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.status.path(), nowhere);
    EXPECT_FALSE(r.status.reason().empty());
}

struct BadLibrary
{
    const char* name;
    Bytes bytes;
    const char* mentions;
    friend void PrintTo(const BadLibrary& c, std::ostream* os) { *os << c.name; }
};

class ReadIndexTest : public LibraryTest, public ::testing::WithParamInterface<BadLibrary>
{
};

TEST_P(ReadIndexTest, Rejected)
{
    const BadLibrary& c = GetParam();
    const std::string path = Write("bad.bin", c.bytes);
    LibraryIndex index;
    index.sizes = {7};
    Result<LibraryIndex> s = ReadLibraryIndex(path);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.path(), path);
    EXPECT_NE(s.reason().find(c.mentions), std::string::npos) << s.reason();
    EXPECT_EQ(index.sizes, std::vector<std::uint32_t>{7}); // untouched on failure
}

Bytes Table(std::initializer_list<std::uint32_t> words)
{
    Bytes b;
    for (std::uint32_t w : words)
        b = Cat(b, Le32(w));
    return b;
}

Bytes HugeSizes()
{
    Bytes b = Le32(1024);
    for (int i = 0; i < 1024; ++i)
        b = Cat(b, Le32(0xFFFFFFA0u)); // a multiple of 160; the sum overflows 32 bits
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Library, ReadIndexTest,
    ::testing::Values(BadLibrary{"Empty", {}, "too short"}, BadLibrary{"ThreeBytes", {1, 0, 0}, "too short"},
                      BadLibrary{"CountZero", Table({0}), "count is 0"},
                      BadLibrary{"CountOver1024", Table({1025}), "over 1024"},
                      BadLibrary{"CountHuge", Table({0xFFFFFFFF}), "over 1024"},
                      BadLibrary{"TableCut", Table({3, 0, 0}), "truncated"},
                      BadLibrary{"SizeNotWholeBlocks", Cat(Table({1, 100}), Bytes(100)), "multiple of 160"},
                      BadLibrary{"AudioCut", Cat(Table({2, 160, 160}), Bytes(300)), "truncated"},
                      BadLibrary{"TrailingBytes", Cat(Table({1, 160}), Bytes(161)), "damaged"},
                      BadLibrary{"SizesOverflow32Bits", HugeSizes(), "truncated"}),
    [](const auto& info) { return info.param.name; });

TEST_F(LibraryTest, ReadIndexOfFolderOrMissing)
{
    EXPECT_FALSE(ReadLibraryIndex(m_dir.string()).ok());
    EXPECT_FALSE(ReadLibraryIndex((m_dir / "none.bin").string()).ok());
}

TEST_F(LibraryTest, ExtractedEntriesRebuildTheSameLibrary)
{
    std::vector<std::string> rows = {Source("a.wav", 3300, 1), Source("b.wav", 100, 2),
                                     Source("c.wav", 160, 3), (m_dir / "missing.wav").string()};
    ASSERT_TRUE(WriteLibrary(target, rows).status.ok());
    Result<LibraryIndex> read = ReadLibraryIndex(target);
    ASSERT_TRUE(read.ok());
    const LibraryIndex& index = *read;
    ASSERT_EQ(index.sizes.size(), 4u);

    std::vector<std::string> extracted;
    for (int i = 0; i < 4; ++i) {
        std::string name = "x";
        name += std::to_string(i) + ".wav";
        extracted.push_back((m_dir / name).string());
        IoStatus s = ExtractEntry(target, index, i, extracted.back());
        ASSERT_TRUE(s.ok()) << s.message();
    }
    EXPECT_EQ(Read(extracted[2]), Read(rows[2]));
    EXPECT_FALSE(FindFirstInvalidSource(extracted));

    const std::string again = (m_dir / "again.bin").string();
    ASSERT_TRUE(WriteLibrary(again, extracted).status.ok());
    EXPECT_EQ(Read(again), Read(target));
}

TEST_F(LibraryTest, ExtractRejectsBadRequests)
{
    ASSERT_TRUE(WriteLibrary(target, {Source("a.wav", 320)}).status.ok());
    Result<LibraryIndex> read = ReadLibraryIndex(target);
    ASSERT_TRUE(read.ok());
    const LibraryIndex& index = *read;
    const std::string out = (m_dir / "x.wav").string();
    EXPECT_FALSE(ExtractEntry(target, index, 1, out).ok());
    EXPECT_FALSE(ExtractEntry(target, index, -1, out).ok());

    {
        ScopedIoFault fault;
        IoFault::FailWritesAfter(100, EIO);
        IoStatus s = ExtractEntry(target, index, 0, out);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.path(), out);
    }
    EXPECT_FALSE(fs::exists(out));

    // A library that changed after its table was read is not trusted.
    ASSERT_EQ(::truncate(target.c_str(), 100), 0);
    IoStatus s = ExtractEntry(target, index, 0, out);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.path(), target);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(Leftovers().empty());
}

// Every name in a folder with its bytes, or "->target" for a symlink, or
// "/" for a folder: what a failed extract must leave as it found it.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (e.is_symlink())
            out[name] = "->" + fs::read_symlink(e.path()).string();
        else if (e.is_directory())
            out[name] = "/";
        else {
            std::ifstream in(e.path(), std::ios::binary);
            out[name] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return out;
}

TEST_F(LibraryTest, ExtractIntoWhatIsNotAFolderSaysWhatItIs)
{
    ASSERT_TRUE(WriteLibrary(target, {Source("a.wav", 320)}).status.ok());
    Result<LibraryIndex> read = ReadLibraryIndex(target);
    ASSERT_TRUE(read.ok());
    const std::string file = (m_dir / "file").string(), fifo = (m_dir / "fifo").string();
    std::ofstream(file) << "x";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct
    {
        std::string folder;
        const char* reason;
    } cases[] = {
        {file, "refused: it is a regular file, not a folder"},
        {fifo, "refused: it is a FIFO (named pipe), not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        IoStatus s = ExtractLibrary(target, *read, c.folder);
        EXPECT_EQ(s.path(), c.folder);
        EXPECT_EQ(s.reason(), c.reason);
    }
    EXPECT_EQ(test::Slurp(file), "x");
}

TEST_F(LibraryTest, ExtractIsAllOrNothing)
{
    const std::vector<std::string> rows = {Source("a.wav", 3200, 1), Source("b.wav", 1600, 2),
                                           Source("c.wav", 320, 3)};
    ASSERT_TRUE(WriteLibrary(target, rows).status.ok());
    Result<LibraryIndex> read = ReadLibraryIndex(target);
    ASSERT_TRUE(read.ok());
    const LibraryIndex& index = *read;
    const fs::path out = m_dir / "out";
    const std::string outside = Write("outside.wav", Bytes{'k', 'e', 'e', 'p'});

    struct Case
    {
        const char* name;
        std::uint64_t writeBudget; // IoFault::kNever: no fault
        bool folderInTheWay;
        bool force;
        bool ok;
    };
    const Case cases[] = {
        {"not empty, no force", IoFault::kNever, false, false, false},
        {"write fails in the first entry", 30, false, true, false},
        {"write fails in the last entry", 58 + 3200 + 58 + 1600 + 100, false, true, false},
        {"a folder in the way", IoFault::kNever, true, true, false},
        {"forced", IoFault::kNever, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        fs::create_directory(out);
        std::ofstream(out / "0000.wav") << "old entry";
        ASSERT_EQ(::chmod((out / "0000.wav").c_str(), 0640), 0);
        std::ofstream(out / "0007.wav") << "stale entry";
        std::ofstream(out / "notes.txt") << "mine";
        fs::create_symlink(outside, out / "0001.wav");
        if (c.folderInTheWay)
            fs::create_directory(out / "0002.wav");
        const auto before = Snapshot(out);

        WriteOptions options;
        options.force = c.force;
        IoStatus s;
        {
            ScopedIoFault fault;
            if (c.writeBudget != IoFault::kNever)
                IoFault::FailWritesAfter(c.writeBudget, ENOSPC);
            s = ExtractLibrary(target, index, out.string(), options);
        }
        EXPECT_EQ(Read(outside), (Bytes{'k', 'e', 'e', 'p'}));
        if (!c.ok) {
            EXPECT_FALSE(s.ok());
            EXPECT_EQ(s.forceable(), !c.force);
            EXPECT_EQ(Snapshot(out), before);
            continue;
        }
        ASSERT_TRUE(s.ok()) << s.message();
        const auto after = Snapshot(out);
        EXPECT_EQ(after.count("0007.wav"), 0u) << "entries beyond the count go with force";
        EXPECT_EQ(after.at("notes.txt"), "mine");
        EXPECT_FALSE(fs::is_symlink(out / "0001.wav")) << "the link is replaced, not followed";
        EXPECT_EQ(fs::status(out / "0000.wav").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        EXPECT_EQ(after.size(), 4u);
        std::vector<std::string> extracted;
        for (int i = 0; i < 3; ++i)
            extracted.push_back((out / EntryFileName(i)).string());
        const std::string again = (m_dir / "again.bin").string();
        ASSERT_TRUE(WriteLibrary(again, extracted).status.ok());
        EXPECT_EQ(Read(again), Read(target));
    }

    // A new folder, made by the extract, goes again when it fails.
    const fs::path fresh = m_dir / "new" / "deeper";
    {
        ScopedIoFault fault;
        IoFault::FailWritesAfter(100, EIO);
        EXPECT_FALSE(ExtractLibrary(target, index, fresh.string()).ok());
    }
    EXPECT_FALSE(fs::exists(m_dir / "new"));
}

} // namespace
} // namespace voicelib
