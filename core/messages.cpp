#include "core/messages.h"

#include "core/library.h"

#include <cstdio>

namespace voicelib {

std::string InvalidSourceMessage(int index, const std::string& path)
{
    return "无效的WAV文件,序号:" + std::to_string(index) + " 名称:" + path;
}

std::string LeftOutMessage(int leftOut)
{
    if (leftOut <= 0)
        return {};
    return "另有" + std::to_string(leftOut) + "个文件超出" + std::to_string(MAX_LIBRARY_ENTRIES) +
           "个的上限,未写入语音库.";
}

std::string BuildSummaryMessage(const BuildSummary& summary)
{
    std::string text = "语音库合成结束,共计" + std::to_string(summary.entries) +
                       "个文件,成功:" + std::to_string(summary.ok) + "个,失败" +
                       std::to_string(summary.failed) + "个.";
    if (summary.leftOut > 0)
        text += "\n" + LeftOutMessage(summary.leftOut);
    return text;
}

std::string SaveDoneMessage()
{
    return "保存完成";
}

} // namespace voicelib
