#include "core/encoding.h"
#include "core/profile.h"
#include "tempfolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace voicelib {
namespace {

using namespace std::string_literals;

// --- Reading -----------------------------------------------------------------

struct ReadCase
{
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::optional<std::string> expected; // nullopt: reads as missing
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

class ProfileRead : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(ProfileRead, FindsWhatTheProfileFunctionsWouldRead)
{
    const ReadCase& c = GetParam();
    ProfileDocument doc = ProfileDocument::Parse(c.file);
    auto value = doc.Find(c.section, c.key);
    ASSERT_EQ(value.has_value(), c.expected.has_value());
    if (value) {
        EXPECT_EQ(std::string(*value), *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileRead,
    ::testing::Values(
        ReadCase{"Lf", "[s]\nk=v\n", "s", "k", "v"}, ReadCase{"CrLf", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "w"},
        ReadCase{"CrOnly", "[s]\rk=v\rj=w\r", "s", "j", "w"},
        ReadCase{"MixedEndings", "[s]\r\nk=v\rj=w\n\n\r\nl=x", "s", "l", "x"},
        ReadCase{"NoFinalNewline", "[s]\nk=v", "s", "k", "v"},
        ReadCase{"SpacedHeader", "  [ ZuLibItem ]  \nk=v\n", "ZuLibItem", "k", "v"},
        ReadCase{"HeaderToLastBracket", "[a]b] trailing\nk=v\n", "a]b", "k", "v"},
        ReadCase{"HeaderWithoutBracketIsNoSection", "[t]\n[s\nk=v\n", "t", "k", "v"},
        ReadCase{"SectionNameCase", "[zulibitem]\nk=v\n", "ZuLibItem", "k", "v"},
        ReadCase{"KeyNameCase", "[s]\nzUcOuNt=3\n", "s", "ZuCount", "3"},
        ReadCase{"SpacesAroundEquals", "[s]\n\t D000 \t=  /a b.wav \t\n", "s", "D000", "/a b.wav"},
        ReadCase{"SplitAtFirstEquals", "[s]\nk=a=b\n", "s", "k", "a=b"},
        ReadCase{"DoubleQuotes", "[s]\nk=\"  x  \"\n", "s", "k", "  x  "},
        ReadCase{"SingleQuotes", "[s]\nk='x'\n", "s", "k", "x"},
        ReadCase{"OnlyOnePairOfQuotes", "[s]\nk=\"\"x\"\"\n", "s", "k", "\"x\""},
        ReadCase{"MismatchedQuotesStay", "[s]\nk=\"x'\n", "s", "k", "\"x'"},
        ReadCase{"LoneQuoteStays", "[s]\nk=\"\n", "s", "k", "\""},
        ReadCase{"EmptyQuotes", "[s]\nk=\"\"\n", "s", "k", ""},
        ReadCase{"SemicolonAfterValueIsText", "[s]\nk=v ;x\n", "s", "k", "v ;x"},
        ReadCase{"EmptyValueIsPresent", "[s]\nk=\n", "s", "k", ""},
        ReadCase{"CommentLineHasNoValue", "[s]\n;k=v\n", "s", ";k", std::nullopt},
        ReadCase{"LineWithoutEqualsHasNoValue", "[s]\nk\n", "s", "k", std::nullopt},
        ReadCase{"LineWithoutEqualsHidesNothing", "[s]\nk\nk=v\n", "s", "k", "v"},
        ReadCase{"FirstDuplicateKeyWins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        ReadCase{"FirstDuplicateSectionWins", "[s]\nk=1\n[S]\nk=2\nj=3\n", "s", "j", std::nullopt},
        ReadCase{"KeyOfAnotherSection", "[s]\nk=1\n[t]\nj=2\n", "s", "j", std::nullopt},
        ReadCase{"KeyBeforeAnySection", "k=1\n[s]\n", "s", "k", std::nullopt},
        ReadCase{"MissingSection", "[s]\nk=1\n", "t", "k", std::nullopt},
        ReadCase{"Bom", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
        ReadCase{"NulEndsValue", "[s]\nk=ab\0cd\n"s, "s", "k", "ab"},
        ReadCase{"Utf8Name", "[s]\nD000=/语音/欢迎.wav\n", "s", "D000", "/语音/欢迎.wav"},
        ReadCase{"GbkName", "[s]\nD000=C:\\\xD3\xEF\xD2\xF4\\\xBB\xB6\xD3\xAD.wav\n", "s", "D000",
                 "C:\\语音\\欢迎.wav"},
        ReadCase{"EmptyFile", "", "s", "k", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct IntCase
{
    const char* name;
    std::string value;
    std::int32_t expected;
    friend void PrintTo(const IntCase& c, std::ostream* os) { *os << c.name; }
};

class ProfileInt : public ::testing::TestWithParam<IntCase>
{
};

TEST_P(ProfileInt, ReadsLikeTheProfileIntegerReader)
{
    EXPECT_EQ(ParseProfileInt(GetParam().value, 7), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileInt,
    ::testing::Values(IntCase{"Plain", "42", 42}, IntCase{"Plus", "+1", 1}, IntCase{"Minus", "-1", -1},
                      IntCase{"WrapsToZero", "4294967296", 0}, IntCase{"WrapsToOne", "4294967297", 1},
                      IntCase{"NegativeWraps", "-4294967297", -1},
                      IntCase{"StopsAtLetter", "42A94967297", 42}, IntCase{"LeadingLetter", "B4294967297", 0},
                      IntCase{"Hex", "0x1F", 31}, IntCase{"HexUpperDigits", "0xfF", 255},
                      IntCase{"BareHexPrefix", "0x", 0}, IntCase{"UpperXIsNoPrefix", "0X1F", 0},
                      IntCase{"LoneSign", "-", 0}, IntCase{"EmptyGivesDefault", "", 7},
                      IntCase{"LargestInt", "2147483647", 2147483647},
                      IntCase{"PastLargestIntIsNegative", "2147483648", INT32_MIN}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileDocument, GetIntReadsTheValueAsSeen)
{
    ProfileDocument doc = ProfileDocument::Parse("[s]\nq=\"12\"\ne=\nsp = 5 \n");
    EXPECT_EQ(doc.GetInt("s", "q", 9), 12);
    EXPECT_EQ(doc.GetInt("s", "e", 9), 9);
    EXPECT_EQ(doc.GetInt("s", "sp", 9), 5);
    EXPECT_EQ(doc.GetInt("s", "missing", 9), 9);
    EXPECT_EQ(doc.GetString("t", "q", "def"), "def");
}

TEST(ProfileDocument, ForEachEntrySeesOnlyTheFirstSectionInOrder)
{
    ProfileDocument doc =
        ProfileDocument::Parse("[s]\nb=1\n;c=x\nnovalue\na=\"2\"\nb=3\n[t]\nz=9\n[s]\ny=4\n");
    std::vector<std::string> seen;
    EXPECT_TRUE(doc.ForEachEntry("S", [&](std::string_view k, std::string_view v) {
        seen.push_back(std::string(k) + "=" + std::string(v));
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"b=1", "a=2", "b=3"}));
    EXPECT_FALSE(doc.ForEachEntry("u", [](std::string_view, std::string_view) {}));
}

// --- Encoding ----------------------------------------------------------------

struct Utf8Case
{
    const char* name;
    std::string bytes;
    bool valid;
    friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
};

class Utf8Check : public ::testing::TestWithParam<Utf8Case>
{
};

TEST_P(Utf8Check, Validates)
{
    EXPECT_EQ(IsValidUtf8(GetParam().bytes), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf8Check,
    ::testing::Values(
        Utf8Case{"Ascii", "plain ascii text that is longer than a word", true},
        Utf8Case{"Chinese", "语音列表", true}, Utf8Case{"LargestCodePoint", "\xF4\x8F\xBF\xBF", true},
        Utf8Case{"PastLargestCodePoint", "\xF4\x90\x80\x80", false}, Utf8Case{"Overlong", "\xC0\xAF", false},
        Utf8Case{"OverlongThreeBytes", "\xE0\x80\xAF", false}, Utf8Case{"Surrogate", "\xED\xA0\x80", false},
        Utf8Case{"TruncatedAtEnd", "abcdefgh\xE4\xB8", false},
        Utf8Case{"StrayContinuation", "abc\x80", false}, Utf8Case{"GbkBytes", "\xD6\xD0\xCE\xC4", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GbkToUtf8, ConvertsAndMarksWhatIsNotGbk)
{
    EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4.wav"), "中文.wav");
    EXPECT_EQ(GbkToUtf8("a\x80"), "a€"); // code page 936 has the euro sign
    EXPECT_EQ(GbkToUtf8("a\xFF"
                        "b"),
              "a\uFFFD"
              "b");
    EXPECT_EQ(GbkToUtf8("ab\xD6"), "ab\uFFFD"); // lead byte cut off at the end
}

TEST(GbkCodec, SaysWhichConversionsWereExact)
{
    struct Case
    {
        const char* name;
        std::string in;
        bool decode; // else encode
        std::optional<std::string> out;
        bool exact;
    };
    const Case cases[] = {
        {"GBK text", "\xD6\xD0\xCE\xC4.wav", true, "中文.wav", true},
        {"a byte that is not GBK", "ab\xFF", true, "ab\uFFFD", false},
        {"Chinese text", "中文.wav", false, "\xD6\xD0\xCE\xC4.wav", true},
        {"not UTF-8", "a\xFF", false, std::nullopt, false},
        {"a character GBK lacks", "\xF0\x9F\x98\x80.wav", false, std::nullopt, false},
    };
    GbkCodec codec;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.decode) {
            const Conversion got = codec.Decode(c.in, "text: ");
            EXPECT_EQ(got.text, "text: " + *c.out);
            EXPECT_EQ(got.exact, c.exact);
        } else {
            // The codec checks an encoding by decoding it: the encoded text must outlive that.
            const std::optional<std::string_view> got = codec.Encode(c.in);
            EXPECT_EQ(got ? std::optional<std::string>(*got) : std::nullopt, c.out);
            EXPECT_EQ(Utf8ToGbk(c.in), c.out);
        }
    }
}

// --- Writing -----------------------------------------------------------------

struct WriteCase
{
    const char* name;
    std::string before;
    std::string section;
    std::string key;
    std::string value;
    std::string after;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
};

class ProfileWrite : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(ProfileWrite, ChangesOnlyWhatItMust)
{
    const WriteCase& c = GetParam();
    ProfileDocument doc = ProfileDocument::Parse(c.before);
    doc.SetString(c.section, c.key, c.value);
    EXPECT_EQ(doc.Serialize(), c.after);
    EXPECT_EQ(std::string(doc.Find(c.section, c.key).value_or("<missing>")), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileWrite,
    ::testing::Values(
        WriteCase{"ReplaceKeepsEverythingElse",
                  "; top\r\n[a]\r\nk=1\r\n\r\n[s]\r\nx = old  ;c\r\ny=2\r\n\r\n", "s", "x", "new",
                  "; top\r\n[a]\r\nk=1\r\n\r\n[s]\r\nx = new\r\ny=2\r\n\r\n"},
        WriteCase{"ReplaceKeepsIndentAndSpelling", "[s]\n  d001 =\told\n", "S", "D001", "n",
                  "[s]\n  d001 =\tn\n"},
        WriteCase{"ReplaceEmptyValue", "[s]\nk=\nj=1\n", "s", "k", "v", "[s]\nk=v\nj=1\n"},
        WriteCase{"ReplaceFirstDuplicate", "[s]\nk=1\nk=2\n", "s", "k", "3", "[s]\nk=3\nk=2\n"},
        WriteCase{"ReplaceInFirstDuplicateSection", "[s]\nk=1\n[s]\nk=2\n", "s", "k", "3",
                  "[s]\nk=3\n[s]\nk=2\n"},
        WriteCase{"NewKeyAfterLastEntryBeforeBlanks", "[s]\nk=1\n;note\n\n\n[t]\nk=1\n", "s", "j", "2",
                  "[s]\nk=1\n;note\nj=2\n\n\n[t]\nk=1\n"},
        WriteCase{"NewKeyInEmptySection", "[s]\n[t]\n", "s", "j", "2", "[s]\nj=2\n[t]\n"},
        WriteCase{"NewKeyAtEndWithoutNewline", "[s]\nk=1", "s", "j", "2", "[s]\nk=1\nj=2\n"},
        WriteCase{"NewKeyKeepsCrLf", "[s]\r\nk=1\r\n", "s", "j", "2", "[s]\r\nk=1\r\nj=2\r\n"},
        WriteCase{"NewKeyKeepsCrOnly", "[s]\rk=1\r", "s", "j", "2", "[s]\rk=1\rj=2\r"},
        WriteCase{"NewCrLineKeepsTheEmptyLfLineAfterIt", "[s]\rk=1\n\n", "s", "j", "2",
                  "[s]\rk=1\nj=2\r\n\n"},
        WriteCase{"NewSectionAtEndNoBlankLine", "[t]\nk=1\n\n", "s", "j", "2", "[t]\nk=1\n\n[s]\nj=2\n"},
        WriteCase{"NewSectionAfterMissingNewline", "[t]\r\nk=1", "s", "j", "2",
                  "[t]\r\nk=1\r\n[s]\r\nj=2\r\n"},
        WriteCase{"NewFileUsesLf", "", "s", "j", "2", "[s]\nj=2\n"},
        WriteCase{"BomKept", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "2", "\xEF\xBB\xBF[s]\nk=2\n"},
        WriteCase{"GbkFileStaysGbk", "[\xD6\xD0]\nk=\xCE\xC4\n[s]\n", "s", "k", "中v",
                  "[\xD6\xD0]\nk=\xCE\xC4\n[s]\nk=\xD6\xD0v\n"},
        WriteCase{"GbkFileBecomesUtf8ForTextGbkLacks", "[\xD6\xD0]\nk=\xCE\xC4\n[s]\n", "s", "k", "v🎵",
                  "[中]\nk=文\n[s]\nk=v🎵\n"},
        WriteCase{"SameValueKeepsTheLine", "[s]\nk = \"v\"  \n", "s", "k", "v", "[s]\nk = \"v\"  \n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Untouched documents come back byte for byte, whatever their layout.
TEST(ProfileDocument, UntouchedFilesSerialiseToTheSameBytes)
{
    const std::vector<std::string> files = {
        "",
        "\n\n\n",
        "[s]\r\nk=v\r\n",
        "[s]\rk=v\r\r\n\n\r",
        "\xEF\xBB\xBF[s]\nk=v",
        "garbage without structure",
        "  ; comment\n\t[ s ]  \n k = \"v\" \n=\n[\n]\n",
        "[s]\nk=a\0b\n"s,
    };
    for (const std::string& file : files)
        EXPECT_EQ(ProfileDocument::Parse(file).Serialize(), file) << file;
}

TEST(ProfileDocument, SetStringsMatchesOneSetStringPerKey)
{
    const std::vector<ProfileDocument::Entry> entries = {{"k", "1"},     {"new", "a"}, {"K", "2"},
                                                         {"other", "b"}, {"NEW", "c"}, {"q", "\"x\""}};
    for (std::string file : {"", "[s]\nk=0\n\n[t]\nk=0\n", "[t]\nk=0", "[S]\r\nq=0\r\nnew=0\r\n"}) {
        ProfileDocument once = ProfileDocument::Parse(file);
        once.SetStrings("s", entries);
        ProfileDocument each = ProfileDocument::Parse(file);
        for (const auto& [key, value] : entries)
            each.SetString("s", key, value);
        EXPECT_EQ(once.Serialize(), each.Serialize()) << file;
        EXPECT_EQ(once.GetString("s", "new"), "c");
        EXPECT_EQ(once.GetString("s", "q"), "x");
    }
}

// --- Files -------------------------------------------------------------------

class ProfileFiles : public test::TempFolderTest
{
};

TEST_F(ProfileFiles, SaveAndLoad)
{
    ProfileDocument doc = ProfileDocument::Parse("[s]\r\nk=1\r\n");
    doc.SetString("s", "k", "2");
    ASSERT_TRUE(doc.Save(Path("a.ini")).ok());

    Result<ProfileDocument> back = ProfileDocument::Load(Path("a.ini"));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->Serialize(), "[s]\r\nk=2\r\n");
}

TEST_F(ProfileFiles, LoadFailuresNameTheFile)
{
    Result<ProfileDocument> s = ProfileDocument::Load(Path("none.ini"));
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(s.path(), Path("none.ini"));

    std::filesystem::create_directory(Path("dir.ini"));
    s = ProfileDocument::Load(Path("dir.ini"));
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.code(), std::errc::no_such_file_or_directory); // exists, but cannot be read as a file
    EXPECT_EQ(s.path(), Path("dir.ini"));
}

} // namespace
} // namespace voicelib
