#include "core/messages.h"

#include <gtest/gtest.h>
#include <string>

namespace voicelib {
namespace {

TEST(MessageTable, FillsEachPlaceInOrder)
{
    struct Case
    {
        const char* name;
        std::string got;
        std::string want;
    };
    const std::size_t line = 7;
    const Case cases[] = {
        {"no place", Message(Msg::SaveDone), "保存完成"},
        {"numbers", Message(Msg::CheckFailed, 12, 3u), "检查未通过,共计12个文件,其中3个无效."},
        {"text", Message(Msg::SaveFailed, "/a/l.ini: No space left on device"),
         "保存失败: /a/l.ini: No space left on device"},
        {"text inside text", Message(Msg::GbkMustBecomeUtf8, Message(Msg::GbkLineNeedsUtf8, line), 9),
         "the file is GBK and must become UTF-8 for its new text (line 7 cannot be written in GBK), but line "
         "9 "
         "is not valid GBK and cannot be converted without loss"},
        {"braces in an argument", Message(Msg::InvalidSource, 1, "a{}b.wav"),
         "无效的WAV文件,序号:1 名称:a{}b.wav"},
        {"missing argument", Message(Msg::NoSuchEntry, 4), "there is no entry 4 (the library has )"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.got, c.want);
    }
    for (int id = 0; id < static_cast<int>(Msg::Count_); ++id)
        EXPECT_NE(std::string(MessageText(static_cast<Msg>(id))), "") << id;
}

} // namespace
} // namespace voicelib
