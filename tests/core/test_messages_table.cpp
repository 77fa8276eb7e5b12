#include "core/catalog.h"
#include "core/messages.h"
#include "language.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace voicelib {
namespace {

TEST(MessageTable, FillsEachPlaceInOrder)
{
    struct Case
    {
        const char* name;
        const char* language;
        std::function<std::string()> got;
        std::string want;
    };
    const std::size_t line = 7;
    const Case cases[] = {
        {"no place", "zh_CN", [] { return Message(Msg::SaveDone); }, "保存完成"},
        {"numbers", "zh_CN", [] { return Message(Msg::CheckFailed, 12, 3u); },
         "检查未通过,共计12个文件,其中3个无效."},
        {"text", "zh_CN", [] { return Message(Msg::SaveFailed, "/a/l.ini: No space left on device"); },
         "保存失败: /a/l.ini: No space left on device"},
        {"text inside text", "en",
         [&] { return Message(Msg::GbkMustBecomeUtf8, Message(Msg::GbkLineNeedsUtf8, line), 9); },
         "the file is GBK and must become UTF-8 for its new text (line 7 cannot be written in GBK), but line "
         "9 "
         "is not valid GBK and cannot be converted without loss"},
        {"braces in an argument", "zh_CN", [] { return Message(Msg::InvalidSource, 1, "a{}b.wav"); },
         "无效的WAV文件,序号:1 名称:a{}b.wav"},
        {"missing argument", "en", [] { return Message(Msg::NoSuchEntry, 4); },
         "there is no entry 4 (the library has )"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::ScopedLanguage language(c.language);
        EXPECT_EQ(c.got(), c.want);
    }
    for (int id = 0; id < static_cast<int>(Msg::Count_); ++id)
        EXPECT_NE(std::string(MessageText(static_cast<Msg>(id))), "") << id;
}

std::size_t Places(const std::string& text)
{
    std::size_t n = 0;
    for (std::size_t at = text.find("{}"); at != std::string::npos; at = text.find("{}", at + 2))
        ++n;
    return n;
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every catalog the build made, and those compiled in, name every text with
// the English text's places; a third language is checked as soon as its .po
// is in po/.
TEST(MessageCatalogs, EveryCatalogHasEveryKeyWithItsPlaces)
{
    std::vector<std::pair<std::string, std::string>> catalogs;
    for (const BuiltinCatalog& c : BuiltinCatalogs())
        catalogs.emplace_back(std::string("built-in ") + c.language, std::string(c.bytes));
    for (const auto& entry : std::filesystem::directory_iterator(VOICELIB_LOCALE_DIR))
        catalogs.emplace_back(entry.path().filename().string(),
                              ReadAll(entry.path() / "LC_MESSAGES/voicelib.mo"));
    ASSERT_GE(catalogs.size(), 4u);
    std::optional<CatalogTexts> english;
    for (const BuiltinCatalog& c : BuiltinCatalogs())
        if (std::string(c.language) == "en")
            english = ParseCatalog(c.bytes);
    ASSERT_TRUE(english);
    for (const auto& [name, bytes] : catalogs) {
        SCOPED_TRACE(name);
        const std::optional<CatalogTexts> texts = ParseCatalog(bytes);
        ASSERT_TRUE(texts);
        for (int id = 0; id < static_cast<int>(Msg::Count_); ++id) {
            const char* key = MessageKey(static_cast<Msg>(id));
            const auto found = texts->find(key);
            ASSERT_NE(found, texts->end()) << key;
            EXPECT_NE(found->second, "") << key;
            EXPECT_EQ(Places(found->second), Places(english->at(key))) << key;
        }
    }
}

TEST(MessageCatalogs, DamagedCatalogsAreRefused)
{
    const std::string whole(BuiltinCatalogs().front().bytes);
    ASSERT_TRUE(ParseCatalog(whole));
    std::string badMagic = whole;
    badMagic[0] = 'x';
    std::string farOffset = whole;
    farOffset[12] = '\xff'; // the table of originals beyond the end
    farOffset[13] = '\xff';
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"header only", whole.substr(0, 20)},
        {"cut in the tables", whole.substr(0, 200)},
        {"cut in the strings", whole.substr(0, whole.size() - 10)},
        {"not a catalog", badMagic},
        {"table beyond the end", farOffset},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_FALSE(ParseCatalog(bytes)) << name;
}

// The variables a user sets, as gettext reads them.
TEST(MessageLanguage, FollowsTheEnvironment)
{
    struct Case
    {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::vector<std::string> want;
        const char* chosen;
        const char* saveDone;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, {}, "en", "Saved"},
        {nullptr, nullptr, nullptr, "zh_CN.UTF-8", {"zh_CN", "zh"}, "zh_CN", "保存完成"},
        {"zh_CN", nullptr, nullptr, "C.UTF-8", {"zh_CN", "zh"}, "zh_CN", "保存完成"},
        {"zh_CN", "C", nullptr, "zh_CN.UTF-8", {}, "en", "Saved"},
        {nullptr, nullptr, "en_US.UTF-8", "zh_CN.UTF-8", {"en_US", "en"}, "en", "Saved"},
        {"fr:zh_TW", nullptr, nullptr, "en_GB.UTF-8", {"fr", "zh_TW", "zh"}, "zh_TW", "保存完成"},
        {nullptr, nullptr, nullptr, "C.UTF-8", {}, "en", "Saved"},
        {"", nullptr, nullptr, "de_DE@euro", {"de_DE", "de"}, "en", "Saved"},
    };
    const test::ScopedLanguage restore("en");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.language ? c.language : "-") + " " + (c.lang ? c.lang : "-"));
        const std::pair<const char*, const char*> vars[] = {
            {"LANGUAGE", c.language}, {"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}};
        for (const auto& [name, value] : vars)
            value ? setenv(name, value, 1) : unsetenv(name);
        const std::vector<std::string> got = LanguagesFromEnvironment();
        EXPECT_EQ(got, c.want);
        EXPECT_EQ(SetMessageLanguage(got), c.chosen);
        EXPECT_STREQ(MessageText(Msg::SaveDone), c.saveDone);
    }
}

} // namespace
} // namespace voicelib
