#include "core/messages.h"

#include "core/library.h"
#include "core/prompt_script.h"
#include "core/source_info.h"
#include "core/wave.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace voicelib {

namespace {

// Failed rows listed one by one in the window's report; more are counted.
constexpr std::size_t LISTED_FAILURES = 10;

std::string SummaryLine(const BuildSummary& summary)
{
    return Message(Msg::BuildDone, summary.entries, summary.ok, summary.failed);
}

// The four bytes as text when they are printable ASCII, else "".
std::string Printable(const std::array<char, 4>& bytes)
{
    for (char c : bytes)
        if (c < 0x20 || c > 0x7e)
            return {};
    return std::string(bytes.data(), bytes.size());
}

// What a file that is not RIFF probably is, from its first bytes.
std::string KnownKind(const std::array<char, 4>& b)
{
    const std::string s(b.data(), b.size());
    if (s == "RIFX")
        return "大端字节序的RIFX文件";
    if (s == "RF64")
        return "RF64格式的文件";
    if (s.compare(0, 3, "ID3") == 0 ||
        (static_cast<unsigned char>(b[0]) == 0xff && (static_cast<unsigned char>(b[1]) & 0xe0) == 0xe0))
        return "MP3文件";
    if (s == "fLaC")
        return "FLAC文件";
    if (s == "OggS")
        return "Ogg文件";
    if (s == "FORM")
        return "AIFF文件";
    return {};
}

std::string FormatName(std::uint16_t tag)
{
    switch (tag) {
    case 1:
        return "PCM";
    case 2:
        return "MS ADPCM";
    case 3:
        return "IEEE浮点";
    case 6:
        return "A-law";
    case 7:
        return "μ-law";
    case 0x11:
        return "IMA ADPCM";
    case 0x31:
        return "GSM 6.10";
    case 0x55:
        return "MP3";
    case 0xfffe:
        return "扩展格式";
    default:
        return {};
    }
}

// "格式代码为1(PCM)"
std::string FormatCode(std::uint16_t tag)
{
    const std::string name = FormatName(tag);
    return "格式代码为" + std::to_string(tag) + (name.empty() ? "" : "(" + name + ")");
}

} // namespace

namespace {

struct MessageEntry
{
    Msg id;
    const char* text;
};

// Every text, in the order of Msg.
constexpr MessageEntry MESSAGE_TABLE[] = {
    {Msg::Prompt, "提示:"},
    {Msg::AskSaveChanges, "语音列表已修改,是否保存?"},
    {Msg::LoadListFailed, "加载语音列表失败: {}"},
    {Msg::SaveFailed, "保存失败: {}"},
    {Msg::SaveDone, "保存完成"},
    {Msg::Building, "正在合成语音库..."},
    {Msg::BuildCancelled, "语音库合成已取消, 原文件未改动: {}"},
    {Msg::BuildFailed, "语音库合成失败: {}"},
    {Msg::NoDisplay,
     "voicelib-gui: no display could be opened (DISPLAY / WAYLAND_DISPLAY); the window cannot "
     "be shown. Use the command line tool instead, e.g.\n"
     "  voicelib build -o voices.bin prompts/*.wav && voicelib info voices.bin\n"},
    {Msg::GuiUsage, "usage: voicelib-gui [OPTIONS] [LIST.ini]\n\n"
                    "Opens the window of the voice library builder, with the voice list file LIST.ini\n"
                    "loaded when one is given. It needs a display (X11 or Wayland); the command line\n"
                    "tool 'voicelib' does the same work without one.\n\n"
                    "options:\n"
                    "  -h, --help     show this help and exit\n"
                    "  -V, --version  print the version and exit\n"
                    "Qt's own options (such as -platform) are taken as well.\n"},
    {Msg::GuiSeeHelp, "Run 'voicelib-gui --help' for its usage."},
    {Msg::GuiUnknownOption, "voicelib-gui: unknown option '{}'"},
    {Msg::GuiOneList, "voicelib-gui: one voice list file at most, got {}"},
    {Msg::NoAudioOutput, "没有可用的音频输出设备"},
    {Msg::AskConvert, "{}个文件不是8kHz单声道A-law WAV文件,是否转换?"},
    {Msg::Converting, "正在转换音频文件..."},
    {Msg::ConvertFolderFailed, "无法创建文件夹 {}: {}"},
    {Msg::ConvertFolderNotFolder, "不是文件夹"},
    {Msg::ListConvertCancelled, "转换已取消,语音列表未改动."},
    {Msg::ConvertFailedKept, "{}个文件未能转换,按原文件加入:"},
    {Msg::ConvertRenamedHead, "{}个文件转换后另取了名字,以免覆盖语音列表中或本次转换的文件:"},
    {Msg::ConvertRenamed, "{} -> {} (不覆盖{})"},
    {Msg::ConvertUnavailable, "{}个文件不是8kHz单声道A-law WAV文件,但无法转换,按原文件加入:\n{}"},
    {Msg::RowOverLimit, "超出{}个的上限,不写入语音库"},
    {Msg::WarnedPlayWrongly, "注意:有{}个文件在设备上不能原样播放(不是8kHz单声道8位)."},
    {Msg::WarnedEndCut, "有{}个文件末尾不足20毫秒的音频将被截去."},
    {Msg::BuildDone, "语音库合成结束,共计{}个文件,成功:{}个,失败{}个."},
    {Msg::InvalidSource, "无效的WAV文件,序号:{} 名称:{}"},
    {Msg::RejectedSource, "无效的WAV文件,序号:{} 名称:{}\n原因:{}"},
    {Msg::FailedSource, "失败,序号:{} 名称:{} 原因:{}"},
    {Msg::MoreFailures, "...等{}个"},
    {Msg::LeftOut, "另有{}个文件超出{}个的上限,未写入语音库."},
    {Msg::CheckPassed, "检查通过,共计{}个文件."},
    {Msg::CheckFailed, "检查未通过,共计{}个文件,其中{}个无效."},
    {Msg::NoFileName, "no file name given"},
    {Msg::NoFolderName, "no folder name given"},
    {Msg::FileNotOpen, "file is not open"},
    {Msg::RefusedSameAsSource, "refused: it is the same file as the source {}"},
    {Msg::RefusedKind, "refused: it is {}"},
    {Msg::RefusedWriteProtected, "refused: it is write-protected ({})"},
    {Msg::RefusedRiff, "refused: it is a WAVE (RIFF) file, not a voice library or list file"},
    {Msg::RefusedNotAFolder, "refused: it is {}, not a folder"},
    {Msg::RefusedFolderNotEmpty, "refused: the folder is not empty"},
    {Msg::KindFolder, "a folder"},
    {Msg::KindFifo, "a FIFO (named pipe)"},
    {Msg::KindCharDevice, "a character device"},
    {Msg::KindBlockDevice, "a block device"},
    {Msg::KindSocket, "a socket"},
    {Msg::KindOther, "not a regular file"},
    {Msg::KindRegular, "a regular file"},
    {Msg::IsKind, "it is {}"},
    {Msg::SourceShrank, "file became shorter while it was being read"},
    {Msg::NothingToBuild, "the list is empty, there is nothing to build"},
    {Msg::EntryTooLarge, "audio too large for one library entry (4 GiB)"},
    {Msg::Cancelled, "build cancelled"},
    {Msg::NotLibraryKind, "not a voice library: it is {}"},
    {Msg::NotLibraryTooShort, "not a voice library: too short to hold an entry count"},
    {Msg::NotLibraryCountZero, "not a voice library: the entry count is 0"},
    {Msg::NotLibraryCountOver, "not a voice library: the entry count {} is over {}"},
    {Msg::TruncatedSizeTable, "truncated: the size table of {} entries needs {} bytes, the file has {}"},
    {Msg::TruncatedReadingSizeTable, "truncated while reading the size table"},
    {Msg::DamagedEntrySize, "damaged: the size of entry {} ({}) is not a multiple of {}"},
    {Msg::TruncatedEntries, "truncated: the entries need {} bytes, the file has {}"},
    {Msg::DamagedEntriesEnd, "damaged: the entries end at byte {} but the file has {}"},
    {Msg::LibraryChanged, "the file changed since its table was read"},
    {Msg::NoSuchEntry, "there is no entry {} (the library has {})"},
    {Msg::NotListFile, "not a voice list file: it has no [ZuLibItem] section"},
    {Msg::ListCountTooLarge, "invalid list file: ZuCount is {}, more than {} rows"},
    {Msg::TooManyRows, "{} rows are more than a list file holds ({})"},
    {Msg::RowLineBreak, "row {}: a path with a line break cannot be stored in a list file"},
    {Msg::RowNotUtf8, "row {}: a path that is not valid UTF-8 cannot be stored in a list file"},
    {Msg::ListFileTooLarge, "file is too large for a list file"},
    {Msg::LineNotUtf8, "line {}: the text is not valid UTF-8"},
    {Msg::GbkMustBecomeUtf8,
     "the file is GBK and must become UTF-8 for its new text{}, but line {} is not valid "
     "GBK and cannot be converted without loss"},
    {Msg::GbkLineNeedsUtf8, " (line {} cannot be written in GBK)"},
    {Msg::ScriptLine, "line {}: {}"},
    {Msg::ScriptTooLarge, "file is too large for a prompt script"},
    {Msg::ScriptUnclosedQuote, "a quoted field opened here never ends"},
    {Msg::ScriptTextAfterQuote,
     "text after a closing quote (a quote inside a quoted field is written twice)"},
    {Msg::ScriptQuoteInField,
     "a quote inside a field that does not start with one (quote the field and write the quote twice)"},
    {Msg::ScriptNoHeader, "empty: no header row naming the columns name and text"},
    {Msg::ScriptMissingColumn, "the header has no column '{}'"},
    {Msg::ScriptDuplicateColumn, "the header names the column '{}' twice"},
    {Msg::ScriptTooManyFields, "more fields than the header has columns (a comma outside quotes?)"},
    {Msg::ScriptEmptyName, "the name is empty"},
    {Msg::ScriptBadName, "the name '{}' cannot be a file name"},
    {Msg::ScriptDuplicateName, "the name '{}' is already used on line {}"},
    {Msg::ScriptNoRows, "no prompts after the header"},
    {Msg::SpeechUnavailable, "eSpeak NG cannot speak: {}"},
    {Msg::UnknownVoice, "eSpeak NG has no voice '{}' ('voicelib speak --voices' lists them)"},
    {Msg::NoTextToSpeak, "no text to speak"},
    {Msg::SpeechFailed, "eSpeak NG failed: {}"},
    {Msg::RecordingIsPlaceholder, "its recording {} is where its placeholder would be written"},
    {Msg::SpokenRow, "{} -> {} (placeholder, {} s)"},
    {Msg::RecordedRow, "{} -> {} (recorded, {} s)"},
    {Msg::SpeakSummary, "{} rows: {} recorded, {} placeholders"},
    {Msg::SpeakFailedCount, ", {} failed"},
    {Msg::ValuePromptScript, "prompt script"},
    {Msg::CommandError, "voicelib {}: {}"},
    {Msg::UnknownCommand, "voicelib: unknown command '{}'"},
    {Msg::UnknownOption, "unknown option '{}'"},
    {Msg::SeeHelp, "Run 'voicelib --help' for the commands."},
    {Msg::SeeCommandHelp, "Run 'voicelib {} --help' for its usage."},
    {Msg::MissingOption, "missing {}"},
    {Msg::OptionGivenTwice, "option {} given twice"},
    {Msg::OptionNeeds, "option {} needs {}"},
    {Msg::OptionInvalid, "option {} {}"},
    {Msg::NeedsValue, "needs {}"},
    {Msg::ValueFileName, "a file name"},
    {Msg::ValueFolderName, "a folder name"},
    {Msg::ValueNumber, "a number"},
    {Msg::ValueLevel, "a level"},
    {Msg::ValueName, "a name"},
    {Msg::NoSourceFiles, "no source files given"},
    {Msg::NoFiles, "no files given"},
    {Msg::ListTakesNoFiles, "a voice list file takes no further files"},
    {Msg::CannotReadList, "cannot read voice list {}"},
    {Msg::ListHasNoRows, "the voice list {} has no rows"},
    {Msg::ForceOverrides, "{} (--force overrides this)"},
    {Msg::NamesTheLibrary, "{} names the library itself: {}"},
    {Msg::HeaderAndMapSame, "--header and --map name the same file: {}"},
    {Msg::CannotWrite, "cannot write {}"},
    {Msg::CannotWriteLibrary, "cannot write the library {}"},
    {Msg::MapNotWritten, "the library was written, but not {}"},
    {Msg::HeaderWritten, "C头文件: {}"},
    {Msg::MapWritten, "映射表: {}"},
    {Msg::ExpectedOne, "expected one {}, got {}"},
    {Msg::ValueLibraryFile, "library file"},
    {Msg::ValueListFile, "voice list file"},
    {Msg::CannotSaveList, "cannot save the voice list {}"},
    {Msg::Extracted, "extracted {} entries to {}"},
    {Msg::NotAFolderKind, "it is {}, not a folder"},
    {Msg::WantsLevelDb, "wants a level from -120 dB up to (not including) 0 dB, such as -50dB"},
    {Msg::WantsJobs, "wants a number from 1 to 256"},
    {Msg::WantsLoudness, "--normalize wants a loudness from -70 to -5 LUFS, such as --normalize=-23"},
    {Msg::FileError, "{}: {}"},
    {Msg::ConvertProgress, "converting: {}/{} files, {}% "},
    {Msg::SamplesClipped, "{} samples clipped"},
    {Msg::SilentLoudness, "silent, loudness left as it is"},
    {Msg::NoAudioLeft, "no audio left"},
    {Msg::ShorterThanBlock, "shorter than one 160-byte block, and --no-pad cuts to whole blocks"},
    {Msg::KeptDamaged, "kept what decoded of a damaged file: {}"},
    {Msg::Converted, "{} -> {} ({} s)"},
    {Msg::ConvertedCount, "converted {} of {} files"},
    {Msg::NoAudioStream, "no audio stream"},
    {Msg::NoAudioDecoded, "no audio decoded"},
    {Msg::EmptyInput, "the file is empty (0 bytes)"},
    {Msg::TooManyChannels, "{} channels: more than {} cannot be mixed down"},
    {Msg::WaveTooLarge, "the converted audio would exceed the 4 GiB a WAVE file can hold"},
    {Msg::RefusedNotAlaw, "refused: it is not an A-law WAVE file (--force replaces it)"},
    {Msg::ConvertCancelled, "cancelled"},
    {Msg::CannotDecode, "cannot decode: {}"},
    {Msg::DecodedOf, "{} s decoded of {} s declared"},
    {Msg::DecodedSeconds, "{} s decoded"},
    {Msg::DamagedAt, "damaged after {}: {}"},
    {Msg::EndsEarly, "cut short: {}"},
    {Msg::SameTarget, "{} is also the target of {}"},
    {Msg::ModuleMissing, "the conversion module is not installed"},
    {Msg::ModuleOtherVersion, "the conversion module belongs to another version of voicelib"},
    {Msg::ModuleNotLoadable, "the conversion module cannot be loaded"},
    {Msg::ModuleNotLoadableWhy, "the conversion module cannot be loaded: {}"},
    {Msg::InfoEntries, "entries: {}"},
    {Msg::InfoTotal, "total: {} bytes of audio, {} s, file {} bytes"},
    {Msg::NeitherLibraryNorList, "neither a voice library nor a voice list file ({})"},
    {Msg::ChangedWhileCompared, "the file changed while it was being compared"},
    {Msg::DiffWantsTwo, "expected two libraries or voice list files, got {}"},
    {Msg::DiffIdentical, "identical"},
    {Msg::DiffChanged, "changed"},
    {Msg::DiffMovedFrom, "moved from {}"},
    {Msg::DiffAdded, "added"},
    {Msg::DiffRemoved, "removed"},
    {Msg::DiffSame, "两者相同,共计{}个条目."},
    {Msg::DiffDiffers, "两者不同:改变{}个,移动{}个,新增{}个,删除{}个,相同{}个."},
};

constexpr bool InOrder()
{
    for (std::size_t i = 0; i < std::size(MESSAGE_TABLE); ++i)
        if (static_cast<std::size_t>(MESSAGE_TABLE[i].id) != i)
            return false;
    return std::size(MESSAGE_TABLE) == static_cast<std::size_t>(Msg::Count_);
}
static_assert(InOrder(), "MESSAGE_TABLE must list every Msg in order");

} // namespace

const char* MessageText(Msg id)
{
    return MESSAGE_TABLE[static_cast<std::size_t>(id)].text;
}

std::string FormatMessage(Msg id, std::initializer_list<std::string_view> args)
{
    const std::string_view text = MessageText(id);
    std::string out;
    out.reserve(text.size() + 16 * args.size());
    auto arg = args.begin();
    std::size_t pos = 0;
    for (std::size_t at; (at = text.find("{}", pos)) != std::string_view::npos; pos = at + 2) {
        out.append(text.substr(pos, at - pos));
        if (arg != args.end())
            out.append(*arg++);
    }
    out.append(text.substr(pos));
    return out;
}

std::string InvalidSourceMessage(int index, const std::string& path)
{
    return Message(Msg::InvalidSource, index, path);
}

std::string SystemErrorText(int err)
{
    switch (err) {
    case EACCES:
        return "没有读取权限";
    case EPERM:
        return "操作不被允许";
    case ENOENT:
        return "文件不存在";
    case ENOTDIR:
        return "路径中有一级不是文件夹";
    case EISDIR:
        return "这是一个文件夹";
    case EIO:
        return "输入/输出错误(磁盘或网络故障)";
    case ELOOP:
        return "符号链接层数过多或成环";
    case ENAMETOOLONG:
        return "路径太长";
    case EMFILE:
    case ENFILE:
        return "打开的文件太多";
    case ENOMEM:
        return "内存不足";
    case EOVERFLOW:
    case EFBIG:
        return "文件太大";
    case ENXIO:
    case ENODEV:
        return "设备不存在";
    case ESTALE:
        return "网络文件已失效";
    case EAGAIN:
        return "文件被锁定,暂时无法读取";
    case ENOSPC:
        return "磁盘空间不足";
    case EROFS:
        return "文件系统是只读的";
    default:
        return "错误代码" + std::to_string(err) + " (" + std::strerror(err) + ")";
    }
}

std::string SourceProblemText(const SourceVerdict& v)
{
    const std::string minimum = std::to_string(WAVE_HEADER_PROBE_SIZE);
    switch (v.problem) {
    case SourceProblem::None:
        return "没有问题";
    case SourceProblem::NoPath:
        return "没有指定文件";
    case SourceProblem::Missing:
        return v.code == std::errc::not_a_directory ? "文件不存在(" + SystemErrorText(v.code.value()) + ")"
                                                    : "文件不存在";
    case SourceProblem::Unreadable:
        return "无法读取(" + SystemErrorText(v.code.value()) + ")";
    case SourceProblem::IsFolder:
        return "这是一个文件夹,不是文件";
    case SourceProblem::NotRegular:
        return "不是普通文件(是设备、管道或套接字)";
    case SourceProblem::TooShort:
        if (v.bytes == 0)
            return "文件是空的(0字节)";
        return "文件只有" + std::to_string(v.bytes) + "字节,不足WAV文件头的" + minimum + "字节";
    case SourceProblem::NotRiff: {
        const std::string kind = KnownKind(v.found);
        return kind.empty() ? "不是WAV文件(文件不以RIFF开头)" : "不是WAV文件,而是" + kind;
    }
    case SourceProblem::NotWave: {
        const std::string type = Printable(v.found);
        return "不是WAV文件(RIFF文件的类型是" + (type.empty() ? "其他" : "\"" + type + "\"") + ",不是WAVE)";
    }
    case SourceProblem::FmtNotFirst: {
        const std::string id = Printable(v.found);
        return "WAV文件头不是标准的" + minimum + "字节,格式块(fmt)前面还有" +
               (id.empty() ? "其他数据" : "\"" + id + "\"块");
    }
    case SourceProblem::FmtSize:
        return "格式块长" + std::to_string(v.fmtSize) + "字节,应为18字节" +
               (v.formatTag == WAVE_FORMAT_ALAW ? std::string()
                                                : ",而且不是A-law编码," + FormatCode(v.formatTag));
    case SourceProblem::NotAlaw:
        return "不是A-law编码," + FormatCode(v.formatTag);
    }
    return "未知原因";
}

std::string RejectedSourceMessage(const RejectedSource& rejected)
{
    return Message(Msg::RejectedSource, rejected.index, rejected.path, SourceProblemText(rejected.verdict));
}

std::string FailedSourceLine(const RejectedSource& failed)
{
    return Message(Msg::FailedSource, failed.index, failed.path, SourceProblemText(failed.verdict));
}

std::string LeftOutMessage(int leftOut)
{
    if (leftOut <= 0)
        return {};
    return Message(Msg::LeftOut, leftOut, MAX_LIBRARY_ENTRIES);
}

std::string BuildSummaryMessage(const BuildSummary& summary)
{
    std::string text = SummaryLine(summary);
    if (summary.leftOut > 0)
        text += "\n" + LeftOutMessage(summary.leftOut);
    return text;
}

std::string BuildReportMessage(const BuildSummary& summary)
{
    std::string text = SummaryLine(summary);
    const std::size_t failures = summary.failures.size();
    for (std::size_t i = 0; i < failures && i < LISTED_FAILURES; ++i)
        text += "\n" + FailedSourceLine(summary.failures[i]);
    if (failures > LISTED_FAILURES)
        text += "\n" + Message(Msg::MoreFailures, failures);
    if (summary.leftOut > 0)
        text += "\n" + LeftOutMessage(summary.leftOut);
    return text;
}

std::string SaveDoneMessage()
{
    return Message(Msg::SaveDone);
}

namespace {

// Up to three decimals, without trailing zeros: "10", "1.25".
std::string Decimal(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    std::string s = buf;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Decimal units, so that one second of audio reads 8.0KB.
std::string Size(std::uint64_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + "B";
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes) / 1000.0;
    std::size_t u = 0;
    while (v >= 999.95 && u + 1 < sizeof units / sizeof units[0]) {
        v /= 1000.0;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%s", v, units[u]);
    return buf;
}

} // namespace

std::string SourceWarningText(const SourceWarning& warning)
{
    const std::string v = std::to_string(warning.value);
    switch (warning.kind) {
    case SourceWarningKind::SampleRate:
        return "采样率为" + v + "Hz,设备按" + std::to_string(DEVICE_SAMPLE_RATE) + "Hz播放";
    case SourceWarningKind::Channels:
        return v + "个声道,设备按单声道播放";
    case SourceWarningKind::BitsPerSample:
        return "每个样本" + v + "位,设备按" + std::to_string(DEVICE_BITS_PER_SAMPLE) + "位播放";
    case SourceWarningKind::PartialBlock:
        return "末尾" + v + "字节(" + Decimal(warning.value * 1000.0 / DEVICE_SAMPLE_RATE) + "毫秒)不足一个" +
               std::to_string(AUDIO_BLOCK_SIZE) + "字节的块,不写入语音库";
    case SourceWarningKind::NoWholeBlock:
        return "音频只有" + v + "字节,不足一个" + std::to_string(AUDIO_BLOCK_SIZE) +
               "字节的块,语音库中此项为0字节(与复制失败相同)";
    }
    return {};
}

std::string SourceWarningMessage(const RowWarnings& row)
{
    std::string text = "警告,序号:" + std::to_string(row.index) + " 名称:" + row.path;
    for (const SourceWarning& w : row.warnings)
        text += "\n    " + SourceWarningText(w);
    return text;
}

std::string SourceWarningCountMessage(const std::vector<RowWarnings>& rows)
{
    // A cut of less than a block is told apart: it takes under 20 ms off the end, nothing more.
    int wrong = 0;
    int cut = 0;
    for (const RowWarnings& r : rows) {
        const bool onlyCut = std::all_of(r.warnings.begin(), r.warnings.end(), [](const SourceWarning& w) {
            return w.kind == SourceWarningKind::PartialBlock || w.kind == SourceWarningKind::NoWholeBlock;
        });
        ++(onlyCut ? cut : wrong);
    }
    std::string text;
    if (wrong > 0)
        text = Message(Msg::WarnedPlayWrongly, wrong);
    if (cut > 0)
        text += (text.empty() ? "" : "\n") + Message(Msg::WarnedEndCut, cut);
    return text;
}

std::string DurationText(double seconds)
{
    char text[48];
    if (seconds < 59.95) {
        std::snprintf(text, sizeof text, "%.1f秒", seconds);
    } else if (seconds < 3599.5) {
        const long long s = std::llround(seconds);
        std::snprintf(text, sizeof text, "%lld分%02lld秒", s / 60, s % 60);
    } else {
        const long long m = std::llround(seconds / 60);
        std::snprintf(text, sizeof text, "%lld小时%02lld分", m / 60, m % 60);
    }
    return text;
}

std::string CapacityText(const Capacity& capacity)
{
    std::string text = std::to_string(capacity.rows) + "个文件 " + DurationText(capacity.Seconds()) + " " +
                       Size(capacity.libraryBytes);
    if (capacity.invalid > 0)
        text += " 其中" + std::to_string(capacity.invalid) + "个无效";
    if (capacity.overLimit > 0)
        text += " 另有" + std::to_string(capacity.overLimit) + "个超出上限";
    if (capacity.pending > 0)
        text += " 统计中...";
    return text;
}

std::string VersionMessage(const char* program)
{
    return std::string(program) + " " + VOICELIB_VERSION;
}

std::string LibraryTotalsMessage(std::uint64_t libraryBytes, std::uint64_t audioBytes)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(audioBytes) / DEVICE_SAMPLE_RATE);
    return "语音库" + std::to_string(libraryBytes) + "字节,音频共计" + seconds + "秒.";
}

std::string ScriptErrorText(const ScriptError& error)
{
    std::string reason;
    switch (error.problem) {
    case ScriptProblem::None:
        return {};
    case ScriptProblem::Unreadable:
        return error.code.message();
    case ScriptProblem::NotRegular:
        return Message(Msg::IsKind, error.detail);
    case ScriptProblem::TooLarge:
        return MessageText(Msg::ScriptTooLarge);
    case ScriptProblem::NotUtf8:
        return Message(Msg::LineNotUtf8, error.line);
    case ScriptProblem::UnclosedQuote:
        reason = MessageText(Msg::ScriptUnclosedQuote);
        break;
    case ScriptProblem::TextAfterQuote:
        reason = MessageText(Msg::ScriptTextAfterQuote);
        break;
    case ScriptProblem::QuoteInField:
        reason = MessageText(Msg::ScriptQuoteInField);
        break;
    case ScriptProblem::NoHeader:
        reason = MessageText(Msg::ScriptNoHeader);
        break;
    case ScriptProblem::MissingColumn:
        reason = Message(Msg::ScriptMissingColumn, error.detail);
        break;
    case ScriptProblem::DuplicateColumn:
        reason = Message(Msg::ScriptDuplicateColumn, error.detail);
        break;
    case ScriptProblem::TooManyFields:
        reason = MessageText(Msg::ScriptTooManyFields);
        break;
    case ScriptProblem::EmptyName:
        reason = MessageText(Msg::ScriptEmptyName);
        break;
    case ScriptProblem::BadName:
        reason = Message(Msg::ScriptBadName, error.detail);
        break;
    case ScriptProblem::DuplicateName:
        reason = Message(Msg::ScriptDuplicateName, error.detail, error.otherLine);
        break;
    case ScriptProblem::NoRows:
        reason = MessageText(Msg::ScriptNoRows);
        break;
    }
    return Message(Msg::ScriptLine, error.line, reason);
}

} // namespace voicelib
