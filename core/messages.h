#pragma once

// Every text the window and the command line show, and the reasons the
// engine gives, in one place.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace voicelib {

struct BuildSummary;
struct RejectedSource;
struct SourceVerdict;
struct Capacity;
struct RowWarnings;
struct SourceWarning;
struct ScriptError;

// Every text the tool shows, by name. The texts are in the message catalogs
// (po/<language>.po, each keyed by the name as MessageKey gives it), in the
// language the process has chosen. "{}" marks where Message puts its
// arguments, in order.
enum class Msg
{
    // The window.
    Prompt,
    AskSaveChanges,
    LoadListFailed,
    SaveFailed,
    SaveDone,
    Building,
    BuildCancelled,
    BuildFailed,
    NoDisplay,
    GuiUsage,
    GuiSeeHelp,
    GuiUnknownOption,
    GuiOneList,
    NoAudioOutput,
    PlayerUnavailable,
    AskConvert,
    Converting,
    ConvertFolderFailed,
    ConvertFolderNotFolder,
    ListConvertCancelled,
    ConvertFailedKept,
    ConvertRenamedHead,
    ConvertRenamed,
    ConvertUnavailable,
    RowOverLimit,
    // The window's captions, headings and dialog titles.
    WindowTitle,
    CaptionExit,
    CaptionLoadList,
    CaptionExportList,
    CaptionBuild,
    CaptionAppend,
    CaptionInsert,
    CaptionDelete,
    CaptionMoveUp,
    CaptionMoveDown,
    StepReplace,
    StepMove,
    CaptionYes,
    CaptionNo,
    CaptionCancel,
    ChooseTargetFile,
    ChooseConvertFolder,
    ColumnFileName,
    AllAudioFiles,
    // Build and check summaries.
    WarnedPlayWrongly,
    WarnedEndCut,
    BuildDone,
    InvalidSource,
    RejectedSource,
    FailedSource,
    MoreFailures,
    LeftOut,
    CheckPassed,
    CheckFailed,
    // Why a file operation failed.
    NoFileName,
    NoFolderName,
    FileNotOpen,
    RefusedSameAsSource,
    RefusedKind,
    RefusedWriteProtected,
    RefusedRiff,
    RefusedNotAFolder,
    RefusedFolderNotEmpty,
    KindFolder,
    KindFifo,
    KindCharDevice,
    KindBlockDevice,
    KindSocket,
    KindOther,
    KindRegular,
    IsKind,
    SourceShrank,
    NothingToBuild,
    EntryTooLarge,
    Cancelled,
    NotLibraryKind,
    NotLibraryTooShort,
    NotLibraryCountZero,
    NotLibraryCountOver,
    TruncatedSizeTable,
    TruncatedReadingSizeTable,
    DamagedEntrySize,
    TruncatedEntries,
    DamagedEntriesEnd,
    LibraryChanged,
    NoSuchEntry,
    NotListFile,
    ListCountTooLarge,
    TooManyRows,
    RowLineBreak,
    RowNotUtf8,
    ListFileTooLarge,
    LineNotUtf8,
    GbkMustBecomeUtf8,
    GbkLineNeedsUtf8,
    // A prompt script, and speaking it.
    ScriptLine,
    ScriptTooLarge,
    ScriptUnclosedQuote,
    ScriptTextAfterQuote,
    ScriptQuoteInField,
    ScriptNoHeader,
    ScriptMissingColumn,
    ScriptDuplicateColumn,
    ScriptTooManyFields,
    ScriptEmptyName,
    ScriptBadName,
    ScriptDuplicateName,
    ScriptNoRows,
    SpeechUnavailable,
    UnknownVoice,
    NoTextToSpeak,
    SpeechFailed,
    RecordingIsPlaceholder,
    SpokenRow,
    RecordedRow,
    SpeakSummary,
    SpeakFailedCount,
    ValuePromptScript,
    // The command line's errors and summaries.
    CommandError,
    UnknownCommand,
    UnknownOption,
    SeeHelp,
    SeeCommandHelp,
    MissingOption,
    OptionGivenTwice,
    OptionNeeds,
    OptionInvalid,
    ArgumentsNotUnderstood,
    NeedsValue,
    ValueFileName,
    ValueFolderName,
    ValueNumber,
    ValueLevel,
    ValueName,
    NoSourceFiles,
    NoFiles,
    ListTakesNoFiles,
    CannotReadList,
    ListHasNoRows,
    ForceOverrides,
    NamesTheLibrary,
    HeaderAndMapSame,
    CannotWrite,
    CannotWriteLibrary,
    MapNotWritten,
    HeaderWritten,
    MapWritten,
    ExpectedOne,
    ValueLibraryFile,
    ValueListFile,
    CannotSaveList,
    Extracted,
    NotAFolderKind,
    WantsLevelDb,
    WantsJobs,
    WantsLoudness,
    FileError,
    ConvertProgress,
    SamplesClipped,
    SilentLoudness,
    NoAudioLeft,
    ShorterThanBlock,
    KeptDamaged,
    Converted,
    ConvertedCount,
    // Why a conversion failed.
    NoAudioStream,
    NoAudioDecoded,
    EmptyInput,
    TooManyChannels,
    WaveTooLarge,
    RefusedNotAlaw,
    ConvertCancelled,
    CannotDecode,
    DecodedOf,
    DecodedSeconds,
    DamagedAt,
    EndsEarly,
    SameTarget,
    // Why the conversion module cannot be used.
    ModuleMissing,
    ModuleOtherVersion,
    ModuleNotLoadable,
    ModuleNotLoadableWhy,
    // The command line's description of a library.
    InfoEntries,
    InfoHeading,
    InfoTotal,
    // Comparing two libraries.
    NeitherLibraryNorList,
    ChangedWhileCompared,
    DiffWantsTwo,
    DiffIdentical,
    DiffChanged,
    DiffMovedFrom,
    DiffAdded,
    DiffRemoved,
    DiffSame,
    DiffDiffers,
    // What a file that is not WAVE seems to be, and a WAVE file's format.
    AudioRifx,
    AudioRf64,
    AudioMp3,
    AudioFlac,
    AudioOgg,
    AudioAiff,
    FormatFloat,
    FormatExtensible,
    FormatCode,
    FormatCodeNamed,
    // Why a source was rejected.
    ProblemNone,
    ProblemNoPath,
    ProblemMissing,
    ProblemMissingWhy,
    ProblemUnreadable,
    ProblemNoReadPermission,
    ProblemIsFolder,
    ProblemNotRegular,
    ProblemEmpty,
    ProblemTooShort,
    ProblemNotRiff,
    ProblemNotRiffKind,
    ProblemNotWaveType,
    ProblemNotWaveOther,
    ProblemFmtAfterChunk,
    ProblemFmtAfterData,
    ProblemFmtSize,
    ProblemFmtSizeNotAlaw,
    ProblemNotAlaw,
    ProblemUnknown,
    // What the device would do wrongly with a source.
    WarnSampleRate,
    WarnChannels,
    WarnBits,
    WarnPartialBlock,
    WarnNoWholeBlock,
    WarnRow,
    // Durations, the capacity line and a library's totals.
    DurationSeconds,
    DurationMinutes,
    DurationHours,
    CapacityLine,
    CapacityInvalid,
    CapacityOverLimit,
    CapacityPending,
    LibraryTotals,
    // The system's error numbers.
    SysAccess,
    SysPerm,
    SysNoEntry,
    SysNotDir,
    SysIsDir,
    SysIo,
    SysLoop,
    SysNameTooLong,
    SysTooManyFiles,
    SysNoMemory,
    SysTooLarge,
    SysNoDevice,
    SysStale,
    SysLocked,
    SysNoSpace,
    SysReadOnly,
    SysExists,
    SysNotEmpty,
    SysCrossDevice,
    SysBusy,
    SysTextBusy,
    SysInvalid,
    SysQuota,
    SysPipe,
    SysNotSupported,
    SysOther,
    // The command line's help.
    HelpOutLibrary,
    HelpOutFolder,
    HelpOutList,
    HelpJson,
    HelpForceRiff,
    HelpHeader,
    HelpMap,
    HelpPrefix,
    HelpForceExtract,
    HelpAll,
    HelpFlag,
    HelpBuildDetails,
    HelpCheckDetails,
    HelpInfoDetails,
    HelpExtractDetails,
    HelpShowDetails,
    HelpExportDetails,
    HelpDiffDetails,
    HelpAbout,
    HelpAboutFooter,
    CmdBuild,
    CmdCheck,
    CmdInfo,
    CmdExtract,
    CmdShow,
    CmdDiff,
    CmdExport,
    CmdConvert,
    CmdSpeak,
    HelpConvertDetails,
    HelpConvertOutput,
    HelpNoPad,
    HelpTrim,
    HelpTrimThreshold,
    HelpNormalize,
    HelpKeepDamaged,
    HelpForceNotAlaw,
    HelpJobs,
    HelpConvertJson,
    HelpSpeakDetails,
    HelpSpeakOutput,
    HelpVoice,
    HelpList,
    HelpVoices,
    HelpUsage,
    HelpCommands,
    HelpOptions,
    HelpOptionsMark,
    HelpMainOperands,
    // FFmpeg's errors.
    AvInvalidData,
    AvNoDecoder,
    AvNoDemuxer,
    AvNoStream,
    AvEof,
    AvNotSupported,
    AvInternal,
    AvOther,
    Count_
};

// The name of id in the catalogs: "SaveFailed".
const char* MessageKey(Msg id);

// The text of id in the language in use.
const char* MessageText(Msg id);

// The catalog language codes asked for by the environment, best first, as
// gettext reads it: LANGUAGE's list unless the locale (LC_ALL, LC_MESSAGES,
// LANG, the first one set) is plain C or POSIX, then the locale's language.
// Each code comes without codeset and modifier ("zh_CN.UTF-8" gives "zh_CN"),
// followed by its bare language ("zh"). Empty means English.
std::vector<std::string> LanguagesFromEnvironment();

// Puts the texts of the first of languages that has a catalog in use for the
// whole process: <program's folder>/../share/locale/<code>/LC_MESSAGES/voicelib.mo,
// else one compiled in (English, Chinese for any "zh"); English when none
// has one. A text a catalog lacks, or whose "{}" places differ from the
// English, is taken from the built-in catalog of that language, else from
// English. Returns the code of the catalog now in use. Call it before other
// threads start: texts given out earlier stay valid, but not in the new
// language.
std::string SetMessageLanguage(const std::vector<std::string>& languages);

// The code of the catalog in use: "en" until SetMessageLanguage is called.
std::string MessageLanguage();

// The text of id with each "{}" replaced by the next argument.
std::string FormatMessage(Msg id, std::initializer_list<std::string_view> args = {});

inline std::string_view MessageArg(std::string_view text)
{
    return text;
}
template <typename T>
requires std::is_integral_v<T> std::string MessageArg(T value)
{
    return std::to_string(value);
}

template <typename... Args> std::string Message(Msg id, const Args&... args)
{
    return FormatMessage(id, {std::string_view(MessageArg(args))...});
}

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

// An error code in plain words: the system's numbers through the catalog,
// other categories as they word themselves.
std::string ErrorCodeText(const std::error_code& code);

// What the device would do wrongly with a source: "采样率为16000Hz,设备按8000Hz播放".
std::string SourceWarningText(const SourceWarning& warning);

// "警告,序号:%d 名称:%s" and each warning on an indented line of its own.
std::string SourceWarningMessage(const RowWarnings& row);

// The build summary's lines about the warned files: those the device would
// play wrongly, then those that only lose the last part of a block; "" when
// there are none.
std::string SourceWarningCountMessage(const std::vector<RowWarnings>& rows);

// Seconds as a person reads them: "37.6秒", "3分05秒", "8小时32分".
std::string DurationText(double seconds);

// The capacity line: "12个文件 37.6秒 300.8KB", then the invalid rows, the
// rows over the limit and rows not yet looked at when there are any.
std::string CapacityText(const Capacity& capacity);

// "PROGRAM VERSION", as --version prints it.
std::string VersionMessage(const char* program);

// Why a prompt script was refused, with its line where it has one.
std::string ScriptErrorText(const ScriptError& error);

// "语音库%d字节,音频共计%.3f秒."
std::string LibraryTotalsMessage(std::uint64_t libraryBytes, std::uint64_t audioBytes);

} // namespace voicelib
