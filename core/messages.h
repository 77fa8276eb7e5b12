#pragma once

// The texts the window and the command line show for a build, in one place.

#include <string>

namespace voicelib {

struct BuildSummary;
struct RejectedSource;
struct SourceVerdict;

// "无效的WAV文件,序号:%d 名称:%s"
std::string InvalidSourceMessage(int index, const std::string& path);

// Why a source was rejected, in plain words: "文件不存在", "不是A-law编码: ...".
std::string SourceProblemText(const SourceVerdict& verdict);

// The invalid-file message and, on a second line, its reason.
std::string RejectedSourceMessage(const RejectedSource& rejected);

// One line naming a row that the build could not copy, and why.
std::string FailedSourceLine(const RejectedSource& failed);

// "语音库合成结束,共计%d个文件,成功:%d个,失败%d个." and, when rows were beyond
// the library's capacity, a second line saying how many were left out.
std::string BuildSummaryMessage(const BuildSummary& summary);

// What the window shows after a build: the summary line, then one line per
// failed row (the first few, then how many in all), then the left-out line.
std::string BuildReportMessage(const BuildSummary& summary);

// The line about rows left out, or "" when there were none.
std::string LeftOutMessage(int leftOut);

// "保存完成"
std::string SaveDoneMessage();

// A system error number in plain words.
std::string SystemErrorText(int err);

} // namespace voicelib
