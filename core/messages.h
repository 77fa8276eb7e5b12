#pragma once

// The texts the window and the command line show for a build, in one place.

#include <string>

namespace voicelib {

struct BuildSummary;

// "无效的WAV文件,序号:%d 名称:%s"
std::string InvalidSourceMessage(int index, const std::string& path);

// "语音库合成结束,共计%d个文件,成功:%d个,失败%d个." and, when rows were beyond
// the library's capacity, a second line saying how many were left out.
std::string BuildSummaryMessage(const BuildSummary& summary);

// The line about rows left out, or "" when there were none.
std::string LeftOutMessage(int leftOut);

// "保存完成"
std::string SaveDoneMessage();

} // namespace voicelib
