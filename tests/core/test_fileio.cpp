#include "core/fileio.h"
#include "iofault.h"
#include "tempfolder.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace voicelib {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public test::TempFolderTest
{
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        target = (m_dir / "target.dat").string();
    }

    std::string Write(const std::string& name, const std::string& text)
    {
        return test::Spit(m_dir / name, text);
    }
    static std::string Read(const std::string& path) { return test::Slurp(path); }
    std::size_t FilesInDir() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }

    std::string target;
};

TEST_F(FileIoTest, CommitReplacesAndKeepsMode)
{
    Write("target.dat", "old contents");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    AtomicFile f(target);
    ASSERT_TRUE(f.Open().ok());
    ASSERT_TRUE(f.Write("new ", 4).ok());
    ASSERT_TRUE(f.Write("data", 4).ok());
    ASSERT_TRUE(f.WriteAt("N", 1, 0).ok());
    EXPECT_EQ(Read(target), "old contents"); // untouched until the commit
    ASSERT_TRUE(f.Commit().ok());
    EXPECT_EQ(Read(target), "New data");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(FileIoTest, UncommittedFileLeavesNoTrace)
{
    Write("target.dat", "old");
    {
        AtomicFile f(target);
        ASSERT_TRUE(f.Open().ok());
        ASSERT_TRUE(f.Write("abandoned", 9).ok());
        EXPECT_EQ(FilesInDir(), 2u);
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(FileIoTest, NewFilesGetTheUmaskWhileOthersAreOpenedAtOnce)
{
    const mode_t old = ::umask(022);
    std::atomic<int> wrongModes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                AtomicFile f((m_dir / ("t" + std::to_string(t) + "_" + std::to_string(i))).string());
                struct stat st;
                if (f.Open().ok() && ::fstat(f.fd(), &st) == 0 && (st.st_mode & 0777) != 0644)
                    ++wrongModes;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    ::umask(old);
    EXPECT_EQ(wrongModes, 0);
}

TEST_F(FileIoTest, SymlinkTargetReplacesTheFileItNames)
{
    const std::string real = Write("real.dat", "old");
    const std::string link = (m_dir / "link.dat").string();
    fs::create_symlink(real, link);
    AtomicFile f(link);
    ASSERT_TRUE(f.Open().ok());
    ASSERT_TRUE(f.Write("new", 3).ok());
    ASSERT_TRUE(f.Commit().ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(real), "new");
}

TEST_F(FileIoTest, WriteFaultAfterEveryBudget)
{
    const std::string payload = "0123456789abcdef";
    for (std::uint64_t budget = 0; budget < payload.size(); ++budget) {
        SCOPED_TRACE(budget);
        Write("target.dat", "previous");
        ScopedIoFault fault;
        IoFault::FailWritesAfter(budget, EIO);
        AtomicFile f(target);
        ASSERT_TRUE(f.Open().ok());
        IoStatus s = f.Write(payload.data(), 10);
        if (s.ok())
            s = f.Write(payload.data() + 10, payload.size() - 10);
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.path(), target);
        f.Discard();
        EXPECT_EQ(Read(target), "previous");
        EXPECT_EQ(FilesInDir(), 1u);
    }
}

TEST_F(FileIoTest, OpenFailuresNameTheTarget)
{
    struct Case
    {
        const char* name;
        std::string path;
    };
    fs::create_directory(m_dir / "sub");
    for (const Case& c : {Case{"empty", ""}, Case{"folder", (m_dir / "sub").string()},
                          Case{"missing folder", (m_dir / "none" / "x.dat").string()}}) {
        SCOPED_TRACE(c.name);
        AtomicFile f(c.path);
        IoStatus s = f.Open();
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.path(), c.path);
        EXPECT_FALSE(s.reason().empty());
    }
    EXPECT_TRUE(fs::is_empty(m_dir / "sub"));
}

struct CopyCase
{
    const char* name;
    bool armReads;
    std::uint64_t budget;
    std::uint64_t offset;
    std::uint64_t len;
    bool ok;
    CopyFailure where;
    int err;
    friend void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }
};

class CopyRangeTest : public FileIoTest, public ::testing::WithParamInterface<CopyCase>
{
};

TEST_P(CopyRangeTest, CopiesOrSaysWhichSideFailed)
{
    const CopyCase& c = GetParam();
    std::string text(1000, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    Result<FileHandle> opened = FileHandle::OpenRead(Write("src", text));
    ASSERT_TRUE(opened.ok());
    FileHandle src = std::move(*opened);
    FileHandle dst(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(dst.valid());
    ASSERT_EQ(::write(dst.fd(), "hdr", 3), 3);

    ScopedIoFault fault;
    if (c.armReads)
        IoFault::FailReadsAfter(c.budget, EIO);
    else if (c.budget != IoFault::kNever)
        IoFault::FailWritesAfter(c.budget, ENOSPC);
    const CopyOutcome copy = CopyRange(src.fd(), c.offset, dst.fd(), c.len);
    EXPECT_EQ(copy.ok(), c.ok);
    EXPECT_EQ(copy.where, c.where);
    if (c.ok)
        EXPECT_EQ(Read(target), "hdr" + text.substr(c.offset, c.len));
    else
        EXPECT_EQ(copy.code.value(), c.err);
}

constexpr auto kNever = IoFault::kNever;

INSTANTIATE_TEST_SUITE_P(
    FileIo, CopyRangeTest,
    ::testing::Values(CopyCase{"KernelCopy", false, kNever, 58, 900, true, CopyFailure::None, 0},
                      CopyCase{"NothingToCopy", false, kNever, 1000, 0, true, CopyFailure::None, 0},
                      CopyCase{"SourceTooShort", false, kNever, 500, 600, false, CopyFailure::Read, ENODATA},
                      CopyCase{"BufferedCopyUnderFault", false, 10000, 58, 900, true, CopyFailure::None, 0},
                      CopyCase{"ReadFails", true, 100, 0, 900, false, CopyFailure::Read, EIO},
                      CopyCase{"WriteFails", false, 100, 0, 900, false, CopyFailure::Write, ENOSPC}),
    [](const auto& info) { return info.param.name; });

TEST_F(FileIoTest, ReadBudgetCountsOnlyBytesRead)
{
    Result<FileHandle> small = FileHandle::OpenRead(Write("small", "0123456789"));
    ASSERT_TRUE(small.ok());
    ScopedIoFault fault;
    IoFault::FailReadsAfter(15, EIO);
    char buf[64];
    // A short read at the end of the file uses 10 bytes of the budget, not 64.
    EXPECT_EQ(ReadAt(small->fd(), buf, sizeof buf, 0).value_or(99), 10u);
    EXPECT_EQ(ReadAt(small->fd(), buf, 5, 0).value_or(99), 5u);
    Result<std::size_t> spent = ReadAt(small->fd(), buf, 1, 0);
    EXPECT_FALSE(spent.ok());
    EXPECT_EQ(spent.code().value(), EIO);
}

} // namespace
} // namespace voicelib
