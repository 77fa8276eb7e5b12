#include "core/library.h"
#include "core/messages.h"
#include "core/wave.h"
#include "language.h"
#include "tempfolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace voicelib {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// A canonical 8 kHz A-law header for 80 audio bytes, as sox writes it.
const Bytes kSoxHeader80 = {
    'R',  'I', 'F',  'F', 0x82, 0,    0,    0, 'W',  'A',  'V', 'E', 'f',  'm', 't',  ' ', 0x12, 0, 0,   0,
    0x06, 0,   0x01, 0,   0x40, 0x1f, 0,    0, 0x40, 0x1f, 0,   0,   0x01, 0,   0x08, 0,   0,    0, 'f', 'a',
    'c',  't', 4,    0,   0,    0,    0x50, 0, 0,    0,    'd', 'a', 't',  'a', 0x50, 0,   0,    0};

class WaveFiles : public test::TempFolderTest
{
protected:
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        return test::Spit(m_dir / name,
                          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
};

Bytes Canonical(std::uint32_t audio)
{
    Bytes b = MakeCanonicalWaveHeader(audio);
    b.resize(b.size() + audio, 0xd5);
    return b;
}

Bytes With(Bytes b, std::size_t at, std::initializer_list<unsigned char> bytes)
{
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

TEST(CanonicalHeader, MatchesSoxOutput)
{
    EXPECT_EQ(MakeCanonicalWaveHeader(80), kSoxHeader80);
    EXPECT_EQ(MakeCanonicalWaveHeader(0).size(), WAVE_HEADER_PROBE_SIZE);
    // The RIFF size saturates instead of wrapping for the largest entries.
    Bytes big = MakeCanonicalWaveHeader(UINT32_MAX - 10);
    EXPECT_EQ(Bytes(big.begin() + 4, big.begin() + 8), (Bytes{0xff, 0xff, 0xff, 0xff}));
}

struct ProbeCase
{
    const char* name;
    Bytes probe;
    bool accepted;
    friend void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeTest : public ::testing::TestWithParam<ProbeCase>
{
};

TEST_P(ProbeTest, HeaderRules)
{
    const ProbeCase& c = GetParam();
    EXPECT_EQ(IsAcceptedWaveHeader(c.probe.data(), c.probe.size()), c.accepted);
}

// A canonical PCM header: fmt 16, tag 1, data straight after it.
Bytes PcmHeader()
{
    Bytes b = kSoxHeader80;
    b = With(b, 16, {16, 0, 0, 0, 1, 0});
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Wave, ProbeTest,
    ::testing::Values(ProbeCase{"Canonical", kSoxHeader80, true},
                      ProbeCase{"WrongRiffSize", With(kSoxHeader80, 4, {1, 2, 3, 4}), true},
                      ProbeCase{"OddRiffSize", With(kSoxHeader80, 4, {0x83, 0, 0, 0}), true},
                      ProbeCase{"StereoAt44k", With(kSoxHeader80, 22, {2, 0, 0x44, 0xac}), true},
                      ProbeCase{"TrailingBytesNotChecked", With(kSoxHeader80, 38, {'x', 'x', 'x', 'x'}),
                                true},
                      ProbeCase{"Pcm16", PcmHeader(), false},
                      ProbeCase{"PcmTagFmt18", With(kSoxHeader80, 20, {1, 0}), false},
                      ProbeCase{"MuLawTag", With(kSoxHeader80, 20, {7, 0}), false},
                      ProbeCase{"TagHighByteSet", With(kSoxHeader80, 20, {6, 1}), false},
                      ProbeCase{"AlawFmt16", With(kSoxHeader80, 16, {16}), false},
                      ProbeCase{"AlawFmt20", With(kSoxHeader80, 16, {20}), false},
                      ProbeCase{"FmtSizeHighByte", With(kSoxHeader80, 16, {18, 0, 0, 1}), false},
                      ProbeCase{"Rifx", With(kSoxHeader80, 0, {'R', 'I', 'F', 'X'}), false},
                      ProbeCase{"Rf64", With(kSoxHeader80, 0, {'R', 'F', '6', '4'}), false},
                      ProbeCase{"NotWave", With(kSoxHeader80, 8, {'A', 'V', 'I', ' '}), false},
                      ProbeCase{"FactInsteadOfFmt", With(kSoxHeader80, 12, {'f', 'a', 'c', 't'}), false},
                      ProbeCase{"FmtWithoutSpace", With(kSoxHeader80, 15, {0}), false},
                      ProbeCase{"UpperCaseFmt", With(kSoxHeader80, 12, {'F', 'M', 'T'}), false},
                      ProbeCase{"Only57Bytes", Bytes(kSoxHeader80.begin(), kSoxHeader80.end() - 1), false},
                      ProbeCase{"Empty", Bytes{}, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(WaveFiles, ProbeReadsTheFile)
{
    EXPECT_TRUE(IsAcceptedWave(Write("58.wav", kSoxHeader80)));
    EXPECT_TRUE(IsAcceptedWave(Write("long.wav", Canonical(5000))));
    EXPECT_FALSE(IsAcceptedWave(Write("57.wav", Bytes(kSoxHeader80.begin(), kSoxHeader80.end() - 1))));
    EXPECT_FALSE(IsAcceptedWave(Write("empty.wav", {})));
    EXPECT_FALSE(IsAcceptedWave((m_dir / "missing.wav").string()));
    EXPECT_FALSE(IsAcceptedWave(""));
    EXPECT_FALSE(IsAcceptedWave(m_dir.string()));
}

TEST_F(WaveFiles, PipeIsRejectedWithoutBlocking)
{
    const std::string fifo = (m_dir / "fifo.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(FileExists(fifo));
    EXPECT_FALSE(IsAcceptedWave(fifo)); // would hang here if the open blocked
    Result<FileHandle> opened = OpenSource(fifo);
    EXPECT_FALSE(opened.ok());
    EXPECT_EQ(opened.code().value(), EINVAL);
}

TEST_F(WaveFiles, FolderExistsButFails)
{
    EXPECT_TRUE(FileExists(m_dir.string()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists((m_dir / "nope").string()));
    Result<FileHandle> opened = OpenSource(m_dir.string());
    EXPECT_FALSE(opened.ok());
    EXPECT_EQ(opened.code().value(), EISDIR);
}

// The index FindFirstInvalidSource gives, or -1.
int FirstInvalid(const std::vector<std::string>& paths)
{
    const std::optional<RejectedSource> first = FindFirstInvalidSource(paths);
    return first ? first->index : -1;
}

TEST_F(WaveFiles, FirstInvalidSource)
{
    const std::string good = Write("good.wav", Canonical(160));
    const std::string bad = Write("bad.wav", PcmHeader());
    const std::string missing = (m_dir / "missing.wav").string();

    EXPECT_EQ(FirstInvalid({}), -1);
    EXPECT_EQ(FirstInvalid({good, good}), -1);
    EXPECT_EQ(FirstInvalid({good, good, good, bad, good, bad}), 3);
    EXPECT_EQ(FirstInvalid({good, missing}), 1);
    EXPECT_EQ(FirstInvalid({good, good, ""}), 2);
    EXPECT_EQ(FirstInvalid({m_dir.string(), good}), 0);

    // Only the rows that go into a library are examined.
    std::vector<std::string> rows(1030, good);
    rows[1027] = bad;
    EXPECT_EQ(FirstInvalid(rows), -1);
    rows[1023] = missing;
    EXPECT_EQ(FirstInvalid(rows), 1023);
}

// Root reads every file, so a permission problem is probed by a child that
// has become nobody (uid/gid 65534). Sets *skip when that is impossible.
SourceVerdict ProbeAsNobody(const std::string& path, std::string* skip)
{
    if (::geteuid() != 0)
        return ProbeSource(path);
    int fds[2];
    if (::pipe(fds) != 0) {
        *skip = "no pipe";
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        SourceVerdict v;
        v.code.assign(-1, std::generic_category()); // stays -1 when the child cannot drop its rights
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0)
            v = ProbeSource(path);
        const bool sent = ::write(fds[1], &v, sizeof v) == static_cast<ssize_t>(sizeof v);
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    SourceVerdict v;
    const bool got = pid > 0 && ::read(fds[0], &v, sizeof v) == static_cast<ssize_t>(sizeof v);
    ::close(fds[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    if (!got || v.code.value() == -1)
        *skip = "cannot run a probe as uid 65534";
    return v;
}

struct ReasonCase
{
    const char* name;
    std::function<std::string(const fs::path& dir)> make; // returns the path to probe
    SourceProblem problem;
    const char* text; // a piece of the reason the user reads
    int err = 0;      // the errno kept, where there is one
    bool asNobody = false;
    friend void PrintTo(const ReasonCase& c, std::ostream* os) { *os << c.name; }
};

class ReasonTest : public WaveFiles, public ::testing::WithParamInterface<ReasonCase>
{
protected:
    const test::ScopedLanguage m_chinese{"zh_CN"};
};

TEST_P(ReasonTest, SaysWhy)
{
    const ReasonCase& c = GetParam();
    const std::string path = c.make(m_dir);
    std::string skip;
    const SourceVerdict v = c.asNobody ? ProbeAsNobody(path, &skip) : ProbeSource(path);
    if (!skip.empty())
        GTEST_SKIP() << skip;
    EXPECT_EQ(v.problem, c.problem) << SourceProblemCode(v.problem);
    if (c.err) {
        EXPECT_EQ(v.code.value(), c.err);
    }
    const std::string reason = SourceProblemText(v);
    EXPECT_NE(reason.find(c.text), std::string::npos) << reason;
    // The verdict is the acceptance test's: same files accepted, same first failure.
    if (!c.asNobody) {
        EXPECT_EQ(IsAcceptedWave(path), c.problem == SourceProblem::None);
        const std::optional<RejectedSource> first = FindFirstInvalidSource({path});
        EXPECT_EQ(first ? first->index : -1, c.problem == SourceProblem::None ? -1 : 0);
        EXPECT_EQ(first ? first->verdict.problem : SourceProblem::None, c.problem);
    }
}

std::function<std::string(const fs::path&)> FileOf(Bytes bytes)
{
    return [bytes](const fs::path& dir) {
        const std::string path = (dir / "src.wav").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    };
}

INSTANTIATE_TEST_SUITE_P(
    Wave, ReasonTest,
    ::testing::Values(
        ReasonCase{"Valid", FileOf(Canonical(320)), SourceProblem::None, ""},
        ReasonCase{"Exactly58", FileOf(kSoxHeader80), SourceProblem::None, ""},
        ReasonCase{"NoPath", [](const fs::path&) { return std::string(); }, SourceProblem::NoPath,
                   "没有指定"},
        ReasonCase{"Missing", [](const fs::path& d) { return (d / "gone.wav").string(); },
                   SourceProblem::Missing, "不存在", ENOENT},
        ReasonCase{"UnderAFile", [](const fs::path& d) { return FileOf(kSoxHeader80)(d) + "/x.wav"; },
                   SourceProblem::Missing, "不是文件夹", ENOTDIR},
        ReasonCase{"PermissionDenied",
                   [](const fs::path& d) {
                       const std::string path = FileOf(Canonical(160))(d);
                       fs::permissions(d, fs::perms::owner_all | fs::perms::others_exec);
                       fs::permissions(path, fs::perms::none);
                       return path;
                   },
                   SourceProblem::Unreadable, "没有读取权限", EACCES, true},
        ReasonCase{"Folder",
                   [](const fs::path& d) {
                       fs::create_directory(d / "sub.wav");
                       return (d / "sub.wav").string();
                   },
                   SourceProblem::IsFolder, "文件夹"},
        ReasonCase{"Fifo",
                   [](const fs::path& d) {
                       const std::string path = (d / "fifo.wav").string();
                       EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
                       return path;
                   },
                   SourceProblem::NotRegular, "不是普通文件"},
        ReasonCase{"Only57Bytes", FileOf(Bytes(kSoxHeader80.begin(), kSoxHeader80.end() - 1)),
                   SourceProblem::TooShort, "57字节"},
        ReasonCase{"Empty", FileOf({}), SourceProblem::TooShort, "0字节"},
        ReasonCase{"Rifx", FileOf(With(kSoxHeader80, 0, {'R', 'I', 'F', 'X'})), SourceProblem::NotRiff,
                   "RIFX"},
        ReasonCase{"Text", FileOf(Bytes(100, 'x')), SourceProblem::NotRiff, "不是WAV文件"},
        ReasonCase{"Avi", FileOf(With(kSoxHeader80, 8, {'A', 'V', 'I', ' '})), SourceProblem::NotWave, "AVI"},
        ReasonCase{"ListBeforeFmt", FileOf(With(kSoxHeader80, 12, {'L', 'I', 'S', 'T'})),
                   SourceProblem::FmtNotFirst, "LIST"},
        ReasonCase{"Pcm", FileOf(PcmHeader()), SourceProblem::FmtSize, "16字节"},
        ReasonCase{"AlawFmt20", FileOf(With(kSoxHeader80, 16, {20})), SourceProblem::FmtSize, "20字节"},
        ReasonCase{"PcmFmt18", FileOf(With(kSoxHeader80, 20, {1, 0})), SourceProblem::NotAlaw, "(PCM)"},
        ReasonCase{"MuLaw", FileOf(With(kSoxHeader80, 20, {7, 0})), SourceProblem::NotAlaw, "μ-law"}),
    [](const auto& info) { return info.param.name; });

TEST_F(WaveFiles, EveryInvalidSourceAmongTheFirst1024)
{
    const std::string good = Write("good.wav", Canonical(160));
    const std::string pcm = Write("pcm.wav", PcmHeader());
    std::vector<std::string> rows(1030, good);
    rows[2] = pcm;
    rows[5] = "";
    rows[1023] = (m_dir / "missing.wav").string();
    rows[1027] = pcm; // beyond the library: not examined
    std::vector<int> indices;
    for (const RejectedSource& r : FindInvalidSources(rows))
        indices.push_back(r.index);
    EXPECT_EQ(indices, (std::vector<int>{2, 5, 1023}));
    EXPECT_TRUE(FindInvalidSources({good, good}).empty());
}

// Appends a chunk; odd payloads get their pad byte.
void Chunk(Bytes& b, const char* id, std::uint32_t declared, std::size_t actual, unsigned char fill)
{
    b.insert(b.end(), id, id + 4);
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(declared >> (8 * i)));
    b.insert(b.end(), actual, fill);
    if (actual % 2)
        b.push_back(0);
}

Bytes FmtOnly()
{
    return Bytes(kSoxHeader80.begin(), kSoxHeader80.begin() + 38);
}

struct LocateCase
{
    const char* name;
    std::function<Bytes()> make;
    std::uint64_t offset;
    std::uint64_t length;
    friend void PrintTo(const LocateCase& c, std::ostream* os) { *os << c.name; }
};

class LocateTest : public WaveFiles, public ::testing::WithParamInterface<LocateCase>
{
};

TEST_P(LocateTest, FindsAudio)
{
    const LocateCase& c = GetParam();
    const Bytes bytes = c.make();
    const std::string path = Write("src.wav", bytes);
    Result<FileHandle> f = OpenSource(path);
    ASSERT_TRUE(f.ok());
    Result<AudioSpan> located = LocateAudio(f->fd(), bytes.size());
    ASSERT_TRUE(located.ok());
    const AudioSpan& span = *located;
    EXPECT_EQ(span.offset, c.offset);
    EXPECT_EQ(span.length, c.length);
    EXPECT_LE(span.offset + span.length, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Wave, LocateTest,
                         ::testing::Values(LocateCase{"Canonical", [] { return Canonical(400); }, 58, 400},
                                           LocateCase{"CanonicalEmpty", [] { return Canonical(0); }, 58, 0},
                                           LocateCase{"ListBeforeData",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "fact", 4, 4, 0);
                                                          Chunk(b, "LIST", 26, 26, 'L');
                                                          Chunk(b, "data", 320, 320, 0xd5);
                                                          return b;
                                                      },
                                                      92, 320},
                                           LocateCase{"OddChunkIsPadded",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "junk", 3, 3, 'j');
                                                          Chunk(b, "data", 160, 160, 0xd5);
                                                          return b;
                                                      },
                                                      58, 160},
                                           LocateCase{"TrailingChunkNotAudio",
                                                      [] {
                                                          Bytes b = Canonical(320);
                                                          Chunk(b, "LIST", 100, 100, 'L');
                                                          return b;
                                                      },
                                                      58, 320},
                                           LocateCase{"DataSizeZeroMeansToEnd",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "fact", 4, 4, 0);
                                                          Chunk(b, "data", 0, 500, 0xd5);
                                                          return b;
                                                      },
                                                      58, 500},
                                           LocateCase{"DataPastEndMeansToEnd",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "fact", 4, 4, 0);
                                                          Chunk(b, "data", 0xfffffff0, 300, 0xd5);
                                                          return b;
                                                      },
                                                      58, 300},
                                           LocateCase{"NoDataChunk",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "fact", 4, 4, 0);
                                                          Chunk(b, "junk", 200, 200, 0);
                                                          return b;
                                                      },
                                                      58, 200},
                                           LocateCase{"ChunkSizePastEnd",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          Chunk(b, "junk", 0xffffffff, 100, 0);
                                                          return b;
                                                      },
                                                      58, 88},
                                           LocateCase{"HalfAChunkHeaderAtEnd",
                                                      [] {
                                                          Bytes b = Canonical(0);
                                                          b.resize(50 + 4); // "data" without its size
                                                          return b;
                                                      },
                                                      54, 0},
                                           LocateCase{"ManyEmptyChunks",
                                                      [] {
                                                          Bytes b = FmtOnly();
                                                          for (int i = 0; i < 5000; ++i)
                                                              Chunk(b, "pad ", 0, 0, 0);
                                                          Chunk(b, "data", 160, 160, 0xd5);
                                                          return b;
                                                      },
                                                      58, 38 + 5000 * 8 + 8 + 160 - 58}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace voicelib
