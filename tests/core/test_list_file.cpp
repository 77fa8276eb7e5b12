#include "core/list_file.h"
#include "core/voice_list.h"
#include "iofault.h"
#include "tempfolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace voicelib {
namespace {

using namespace std::string_literals;
using Paths = std::vector<std::string>;
namespace fs = std::filesystem;

class ListFileTest : public test::TempFolderTest
{
protected:
    static void WriteBytes(const std::string& path, const std::string& bytes) { test::Spit(path, bytes); }
    static std::string ReadBytes(const std::string& path) { return test::Slurp(path); }
    // Relative rows are relative to the test's folder, where the list files go.
    VoiceList ListOf(const Paths& paths) const
    {
        VoiceList list;
        list.Assign(paths, m_dir.string());
        return list;
    }
    std::vector<std::string> DirEntries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(ListKey, PadsToThreeDigitsOnly)
{
    EXPECT_EQ(ListKey(0), "D000");
    EXPECT_EQ(ListKey(7), "D007");
    EXPECT_EQ(ListKey(999), "D999");
    EXPECT_EQ(ListKey(1000), "D1000");
    EXPECT_EQ(ListKey(123456), "D123456");
}

TEST_F(ListFileTest, ThreeRowsRoundTrip)
{
    const Paths paths = {"/v/a.wav", "/v/b b.wav", "/v/语音.wav"};
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf(paths)).ok());
    EXPECT_EQ(ReadBytes(Path("l.ini")),
              "[ZuLibItem]\nZuCount=3\nD000=/v/a.wav\nD001=/v/b b.wav\nD002=/v/语音.wav\n");

    VoiceList list;
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), paths);
}

TEST_F(ListFileTest, TwoRowsOverFiveKeepTheStaleKeys)
{
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf({"a", "b", "c", "d", "e"})).ok());
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf({"x", "y"})).ok());
    EXPECT_EQ(ReadBytes(Path("l.ini")), "[ZuLibItem]\nZuCount=2\nD000=x\nD001=y\nD002=c\nD003=d\nD004=e\n");

    VoiceList list;
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), (Paths{"x", "y"}));
}

TEST_F(ListFileTest, RowsBeyond1000UseFourDigitKeys)
{
    Paths paths;
    for (int i = 0; i < 1001; ++i)
        paths.push_back("/v/" + std::to_string(i) + ".wav");
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf(paths)).ok());
    std::string bytes = ReadBytes(Path("l.ini"));
    EXPECT_NE(bytes.find("\nD999=/v/999.wav\nD1000=/v/1000.wav\n"), std::string::npos);

    VoiceList list;
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), paths);
}

TEST_F(ListFileTest, LoadReplacesAndClearsTheSelection)
{
    VoiceList list = ListOf({"old0", "old1", "old2", "old3"});
    list.SetSelected(2);
    WriteBytes(Path("l.ini"), "[ZuLibItem]\nZuCount=2\nD000=n0\nD001=n1\n");
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), (Paths{"n0", "n1"}));
    EXPECT_EQ(list.GetSelected(), -1);
}

TEST_F(ListFileTest, ExportKeepsForeignSectionsAndComments)
{
    const std::string before = "; made by hand\r\n[Other]\r\nD000=keep\r\n\r\n[ZuLibItem]\r\n; rows\r\n"
                               "ZuCount=1\r\nExtra=1\r\nD000=old\r\n\r\n[Tail]\r\nx=y\r\n";
    WriteBytes(Path("l.ini"), before);
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf({"new0", "new1"})).ok());
    EXPECT_EQ(ReadBytes(Path("l.ini")),
              "; made by hand\r\n[Other]\r\nD000=keep\r\n\r\n[ZuLibItem]\r\n; rows\r\n"
              "ZuCount=2\r\nExtra=1\r\nD000=new0\r\nD001=new1\r\n\r\n[Tail]\r\nx=y\r\n");
}

TEST_F(ListFileTest, EmptyListWritesNothing)
{
    ASSERT_TRUE(ExportListFile(Path("l.ini"), VoiceList{}).ok());
    EXPECT_FALSE(fs::exists(Path("l.ini")));
}

TEST_F(ListFileTest, PathsSurviveWhatReadingWouldStrip)
{
    const Paths paths = {std::string(600, 'p') + ".wav",
                         " lead.wav",
                         "trail.wav ",
                         "\"quoted\"",
                         "'single'",
                         "\"",
                         "a=b;c.wav",
                         ""};
    ASSERT_TRUE(ExportListFile(Path("l.ini"), ListOf(paths)).ok());
    VoiceList list;
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), paths);
}

TEST_F(ListFileTest, LineBreakInAPathIsRefusedAndTheFileKept)
{
    WriteBytes(Path("l.ini"), "[ZuLibItem]\nZuCount=0\n");
    IoStatus s = ExportListFile(Path("l.ini"), ListOf({"ok.wav", "bad\n[ZuLibItem].wav"}));
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.path(), Path("l.ini"));
    EXPECT_NE(s.reason().find("row 1"), std::string::npos) << s.reason();
    EXPECT_EQ(ReadBytes(Path("l.ini")), "[ZuLibItem]\nZuCount=0\n");
}

TEST_F(ListFileTest, ExportOverGbkFileKeepsItsBytes)
{
    const std::string gbk =
        "[\xD3\xEF\xD2\xF4]\nname=\xBB\xB6\xD3\xAD\n[ZuLibItem]\nZuCount=1\nD000=C:\\\xD6\xD0.wav\n";
    WriteBytes(Path("l.ini"), gbk);
    VoiceList list;
    ASSERT_TRUE(LoadListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(list.GetPaths(), (Paths{"C:\\中.wav"}));
    ASSERT_TRUE(ExportListFile(Path("l.ini"), list).ok());
    EXPECT_EQ(ReadBytes(Path("l.ini")), gbk);
}

// --- Encoding ----------------------------------------------------------------

TEST_F(ListFileTest, ExportKeepsTheEncodingAndEveryUntouchedLine)
{
    // "; 语音" and a row "/v/中.wav" in GBK; \xFF is no GBK byte.
    const std::string gbk = "; \xD3\xEF\xD2\xF4\r\n[ZuLibItem]\r\nZuCount=1\r\nD000=/v/\xD6\xD0.wav\r\n";
    const std::string stray = "; \xD3\xEF\xFF\r\n[ZuLibItem]\r\nZuCount=1\r\nD000=/v/\xD6\xD0.wav\r\n";
    const std::string utf8 = "[ZuLibItem]\nZuCount = 1\nD000 = \"/v/语音.wav\"\n";
    struct Case
    {
        const char* name;
        std::string before;
        Paths rows;
        std::string after; // "": refused, and the file kept
        std::string reason;
    };
    const Case cases[] = {
        {"GBK, rows as they were", gbk, {"/v/中.wav"}, gbk, ""},
        {"GBK, a stray byte stays as it was", stray, {"/v/中.wav"}, stray, ""},
        {"GBK, a new row GBK can hold",
         gbk,
         {"/v/中.wav", "/v/语音.wav"},
         "; "
         "\xD3\xEF\xD2\xF4\r\n[ZuLibItem]\r\nZuCount=2\r\nD000=/v/\xD6\xD0.wav\r\nD001=/v/"
         "\xD3\xEF\xD2\xF4.wav\r\n",
         ""},
        {"GBK, a row GBK cannot hold makes it UTF-8",
         gbk,
         {"/v/中.wav", "/v/♪🎵.wav"},
         "; 语音\r\n[ZuLibItem]\r\nZuCount=2\r\nD000=/v/中.wav\r\nD001=/v/♪🎵.wav\r\n",
         ""},
        {"GBK with a stray byte cannot become UTF-8", stray, {"/v/🎵.wav"}, "", "line 1 is not valid GBK"},
        {"UTF-8, rows as they were", utf8, {"/v/语音.wav"}, utf8, ""},
        {"path not UTF-8",
         utf8,
         {"/v/a.wav", "/v/\xD6\xD0.wav"},
         "",
         "row 1: a path that is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(Path("l.ini"), c.before);
        IoStatus s = WriteListFile(Path("l.ini"), c.rows);
        if (c.after.empty()) {
            EXPECT_FALSE(s.ok());
            EXPECT_NE(s.reason().find(c.reason), std::string::npos) << s.reason();
            EXPECT_EQ(ReadBytes(Path("l.ini")), c.before);
            continue;
        }
        ASSERT_TRUE(s.ok()) << s.message();
        EXPECT_EQ(ReadBytes(Path("l.ini")), c.after);
        Result<Paths> read = ReadListFile(Path("l.ini"));
        ASSERT_TRUE(read.ok());
        const Paths& back = *read;
        EXPECT_EQ(back, c.rows);
    }
}

TEST_F(ListFileTest, ExportRefusesWhatLoadWouldRefuse)
{
    const std::string previous = "[ZuLibItem]\nZuCount=1\nD000=/old\n";
    WriteBytes(Path("l.ini"), previous);
    ASSERT_EQ(::mkfifo(Path("fifo.ini").c_str(), 0600), 0);

    IoStatus s = WriteListFile(Path("l.ini"), Paths(MAX_LIST_ROWS + 1));
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.reason().find("1000001 rows"), std::string::npos) << s.reason();
    EXPECT_EQ(ReadBytes(Path("l.ini")), previous);

    s = WriteListFile(Path("fifo.ini"), {"/a.wav"}); // must not wait for a writer
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.reason().find("FIFO"), std::string::npos) << s.reason();
    EXPECT_TRUE(fs::is_fifo(Path("fifo.ini")));
}

// --- Relative rows -----------------------------------------------------------

class InFolder
{
public:
    explicit InFolder(const fs::path& dir) : m_saved(fs::current_path()) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(m_saved); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path m_saved;
};

TEST_F(ListFileTest, RelativeRowsNameTheSameFilesFromAnyFolder)
{
    fs::create_directories(m_dir / "proj" / "sub");
    fs::create_directory(m_dir / "elsewhere");
    fs::create_directory_symlink(m_dir / "proj", m_dir / "link");
    WriteBytes(Path("proj/list.ini"),
               "[ZuLibItem]\nZuCount=4\nD000=a.wav\nD001=sub/b.wav\nD002=/abs/c.wav\nD003=\n");
    const std::string proj = (m_dir / "proj").string();
    const Paths rows = {"a.wav", "sub/b.wav", "/abs/c.wav", ""};
    const Paths files = {proj + "/a.wav", proj + "/sub/b.wav", "/abs/c.wav", ""};

    InFolder here(m_dir);
    VoiceList list;
    ASSERT_TRUE(LoadListFile("proj/list.ini", list).ok());
    EXPECT_EQ(list.GetPaths(), rows);
    EXPECT_EQ(list.GetBaseFolder(), proj);
    EXPECT_EQ(list.GetResolvedPaths(), files);
    EXPECT_EQ(list.GetResolvedPath(1), files[1]);

    struct Case
    {
        const char* name;
        std::string target;
        Paths written;
    };
    const Case cases[] = {
        {"same folder", "proj/again.ini", rows},
        {"same folder through a link", "link/linked.ini", rows},
        {"same folder spelled otherwise", "./proj/./dotted.ini", rows},
        {"another folder", "elsewhere/moved.ini", files},
        {"another folder, absolute", Path("top.ini"), files},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ExportListFile(c.target, list).ok());
        Result<Paths> read = ReadListFile(c.target);
        ASSERT_TRUE(read.ok());
        const Paths& stored = *read;
        EXPECT_EQ(stored, c.written);
        // Loaded from where it went, every row names the file it named before.
        VoiceList back;
        ASSERT_TRUE(LoadListFile(c.target, back).ok());
        for (int i = 0; i < back.GetItemCount(); ++i) {
            const fs::path a = back.GetResolvedPath(i), b = files[static_cast<std::size_t>(i)];
            EXPECT_EQ(a.empty() ? a : fs::weakly_canonical(a), b.empty() ? b : fs::weakly_canonical(b)) << i;
        }
    }
}

// --- Real-world files --------------------------------------------------------

struct LoadCase
{
    const char* name;
    std::string file;
    Paths rows;
    friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
};

class ListFileLoad : public ListFileTest, public ::testing::WithParamInterface<LoadCase>
{
};

TEST_P(ListFileLoad, ReadsTheRows)
{
    const LoadCase& c = GetParam();
    WriteBytes(Path("l.ini"), c.file);
    VoiceList list = ListOf({"previous"});
    IoStatus s = LoadListFile(Path("l.ini"), list);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(list.GetPaths(), c.rows);
}

std::string BinaryFile()
{
    // A WAVE header and some A-law bytes: NULs, high bytes, stray '[' and '='.
    std::string bytes = "RIFF\x24\x10\0\0WAVEfmt \x12\0\0\0\x06\0\x01\0"s;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ListFileLoad,
    ::testing::Values(
        LoadCase{"CrLf",
                 "[ZuLibItem]\r\nZuCount=2\r\nD000=C:\\v\\a.wav\r\nD001=C:\\v\\b.wav\r\n",
                 {"C:\\v\\a.wav", "C:\\v\\b.wav"}},
        LoadCase{"CrOnly", "[ZuLibItem]\rZuCount=1\rD000=/a.wav\r", {"/a.wav"}},
        LoadCase{"GbkChineseNames",
                 "[ZuLibItem]\r\nZuCount=2\r\nD000=D:\\\xD3\xEF\xD2\xF4\\\xBB\xB6\xD3\xAD.wav\r\n"
                 "D001=D:\\\xD3\xEF\xD2\xF4\\\xD6\xD0\xCE\xC4.wav\r\n",
                 {"D:\\语音\\欢迎.wav", "D:\\语音\\中文.wav"}},
        LoadCase{"Utf8ChineseNames", "[ZuLibItem]\nZuCount=1\nD000=/语音/欢迎.wav\n", {"/语音/欢迎.wav"}},
        LoadCase{"MixedCaseNames", "[zulibitem]\nZUCOUNT=2\nd000=/a\nD001=/b\n", {"/a", "/b"}},
        LoadCase{"SpacedHeaderAndEquals",
                 "[ ZuLibItem ]\n ZuCount = 2 \n D000 = /a b \n\tD001\t=\t/c\n",
                 {"/a b", "/c"}},
        LoadCase{"QuotedValues",
                 "[ZuLibItem]\nZuCount=\"2\"\nD000=\"/a b.wav\"\nD001='/c.wav'\n",
                 {"/a b.wav", "/c.wav"}},
        LoadCase{"DuplicateKeysFirstWins",
                 "[ZuLibItem]\nZuCount=1\nZuCount=5\nD000=/first\nD000=/second\n",
                 {"/first"}},
        LoadCase{"DuplicateSectionFirstWins",
                 "[ZuLibItem]\nZuCount=1\n[ZuLibItem]\nZuCount=2\nD000=/x\n D001=/y\n",
                 {""}},
        LoadCase{"Bom", "\xEF\xBB\xBF[ZuLibItem]\nZuCount=1\nD000=/a\n", {"/a"}},
        LoadCase{"NoNewlineAtEnd", "[ZuLibItem]\nZuCount=1\nD000=/a", {"/a"}},
        LoadCase{"CountBeforeRowsNotRequired", "[ZuLibItem]\nD001=/b\nD000=/a\nZuCount=2\n", {"/a", "/b"}},
        LoadCase{"MissingRowIsEmpty", "[ZuLibItem]\nZuCount=3\nD000=/a\nD002=/c\n", {"/a", "", "/c"}},
        LoadCase{"RowsPastCountIgnored", "[ZuLibItem]\nZuCount=1\nD000=/a\nD001=/b\n", {"/a"}},
        LoadCase{"UnpaddedOrOverpaddedKeysAreOtherKeys",
                 "[ZuLibItem]\nZuCount=2\nD0=/x\nD0001=/y\nD001=/b\n",
                 {"", "/b"}},
        LoadCase{"HexCount", "[ZuLibItem]\nZuCount=0x2\nD000=/a\nD001=/b\n", {"/a", "/b"}},
        LoadCase{"CountWithTrailingText", "[ZuLibItem]\nZuCount=1 rows\nD000=/a\n", {"/a"}},
        LoadCase{"NegativeCount", "[ZuLibItem]\nZuCount=-1\nD000=/a\n", {}},
        LoadCase{"CountWrapsToMinusOne", "[ZuLibItem]\nZuCount=4294967295\nD000=/a\n", {}},
        LoadCase{"CountNotANumber", "[ZuLibItem]\nZuCount=many\nD000=/a\n", {}},
        LoadCase{"EmptyCount", "[ZuLibItem]\nZuCount=\nD000=/a\n", {}},
        LoadCase{"SectionWithoutCount", "[ZuLibItem]\nD000=/a\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Failures ----------------------------------------------------------------

TEST_F(ListFileTest, UnreadableFilesKeepTheListAndSayWhy)
{
    struct Case
    {
        const char* name;
        std::string path;
        std::string reason;
    };
    fs::create_directory(Path("folder.ini"));
    WriteBytes(Path("huge.ini"), "[ZuLibItem]\nZuCount=1000001\nD000=/a\n");
    WriteBytes(Path("wrapped.ini"), "[ZuLibItem]\nZuCount=2147483647\n");
    WriteBytes(Path("file"), "x");
    ASSERT_EQ(::mkfifo(Path("fifo.ini").c_str(), 0600), 0);
    WriteBytes(Path("other.ini"), "[Other]\nZuCount=1\nD000=/a\n");
    WriteBytes(Path("empty.ini"), "");
    WriteBytes(Path("wave.ini"), BinaryFile());
    std::string utf16 = "\xFF\xFE";
    for (char c : "[ZuLibItem]\r\nZuCount=1\r\nD000=/a.wav\r\n"s)
        utf16 += {c, '\0'};
    WriteBytes(Path("utf16.ini"), utf16);
    const std::string notAList = "not a voice list file";
    const Case cases[] = {
        {"missing", Path("none.ini"), std::strerror(ENOENT)},
        {"folder", Path("folder.ini"), "it is a folder"},
        {"parent is a file", Path("file") + "/l.ini", std::strerror(ENOTDIR)},
        {"count over limit", Path("huge.ini"), "invalid list file"},
        {"largest count", Path("wrapped.ini"), "invalid list file"},
        {"FIFO", Path("fifo.ini"), "it is a FIFO (named pipe)"},
        {"device", "/dev/zero", "it is a character device"},
        {"no ZuLibItem section", Path("other.ini"), notAList},
        {"empty file", Path("empty.ini"), notAList},
        {"WAVE file", Path("wave.ini"), notAList},
        {"UTF-16 file", Path("utf16.ini"), notAList},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!fs::exists(c.path) && c.path.rfind("/dev/", 0) == 0)
            continue; // not on this system
        VoiceList list = ListOf({"keep0", "keep1"});
        list.SetSelected(1);
        IoStatus s = LoadListFile(c.path, list);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.path(), c.path);
        EXPECT_NE(s.reason().find(c.reason), std::string::npos) << s.reason();
        EXPECT_NE(s.message().find(c.path), std::string::npos);
        EXPECT_EQ(list.GetPaths(), (Paths{"keep0", "keep1"}));
        EXPECT_EQ(list.GetSelected(), 1);
    }
}

TEST_F(ListFileTest, CountAtTheLimitLoads)
{
    WriteBytes(Path("l.ini"), "[ZuLibItem]\nZuCount=1000000\nD999999=/last\n");
    Result<std::vector<std::string>> read = ReadListFile(Path("l.ini"));
    ASSERT_TRUE(read.ok());
    const std::vector<std::string>& rows = *read;
    ASSERT_EQ(rows.size(), 1000000u);
    EXPECT_EQ(rows.back(), "/last");
    EXPECT_EQ(rows.front(), "");
}

TEST_F(ListFileTest, FileWithoutReadPermission)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    WriteBytes(Path("l.ini"), "[ZuLibItem]\nZuCount=1\nD000=/a\n");
    fs::permissions(Path("l.ini"), fs::perms::none);
    VoiceList list = ListOf({"keep"});
    IoStatus s = LoadListFile(Path("l.ini"), list);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.reason(), std::strerror(EACCES));
    EXPECT_EQ(list.GetPaths(), Paths{"keep"});
}

TEST_F(ListFileTest, FailedExportsLeaveThePreviousFile)
{
    const std::string previous = "[ZuLibItem]\nZuCount=1\nD000=/old\n";
    WriteBytes(Path("l.ini"), previous);
    WriteBytes(Path("file"), "x");
    fs::create_directory(Path("folder.ini"));
    const VoiceList list = ListOf({"/new0", "/new1"});

    struct Case
    {
        const char* name;
        std::string path;
        std::uint64_t writeBudget;
        int err;
        const char* reason = nullptr; // where it is not the system's text for err
    };
    const Case cases[] = {
        {"parent is a file", Path("file") + "/l.ini", IoFault::kNever, ENOTDIR},
        {"target is a folder", Path("folder.ini"), IoFault::kNever, EISDIR, "it is a folder"},
        {"disk full at once", Path("l.ini"), 0, ENOSPC},
        {"disk full midway", Path("l.ini"), 20, ENOSPC},
        {"read-only file system", Path("l.ini"), 0, EROFS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedIoFault fault;
        if (c.writeBudget != IoFault::kNever)
            IoFault::FailWritesAfter(c.writeBudget, c.err);
        IoStatus s = ExportListFile(c.path, list);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.path(), c.path);
        EXPECT_EQ(s.code().value(), c.err);
        EXPECT_EQ(s.reason(), c.reason ? c.reason : std::strerror(c.err));
        EXPECT_EQ(ReadBytes(Path("l.ini")), previous);
        EXPECT_EQ(DirEntries(),
                  (std::vector<std::string>{"file", "folder.ini", "l.ini"})); // no temporary left
    }
}

TEST_F(ListFileTest, ReadOnlyFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    const std::string previous = "[ZuLibItem]\nZuCount=1\nD000=/old\n";
    WriteBytes(Path("l.ini"), previous);
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    IoStatus s = ExportListFile(Path("l.ini"), ListOf({"/new"}));
    fs::permissions(m_dir, fs::perms::owner_all);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.reason(), std::strerror(EACCES));
    EXPECT_EQ(ReadBytes(Path("l.ini")), previous);
}

} // namespace
} // namespace voicelib
