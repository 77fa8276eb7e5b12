#include "core/messages.h"

#include "core/catalog.h"
#include "core/library.h"
#include "core/prompt_script.h"
#include "core/source_info.h"
#include "core/wave.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>

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
        return MessageText(Msg::AudioRifx);
    if (s == "RF64")
        return MessageText(Msg::AudioRf64);
    if (s.compare(0, 3, "ID3") == 0 ||
        (static_cast<unsigned char>(b[0]) == 0xff && (static_cast<unsigned char>(b[1]) & 0xe0) == 0xe0))
        return MessageText(Msg::AudioMp3);
    if (s == "fLaC")
        return MessageText(Msg::AudioFlac);
    if (s == "OggS")
        return MessageText(Msg::AudioOgg);
    if (s == "FORM")
        return MessageText(Msg::AudioAiff);
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
        return MessageText(Msg::FormatFloat);
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
        return MessageText(Msg::FormatExtensible);
    default:
        return {};
    }
}

// "格式代码为1(PCM)"
std::string FormatCode(std::uint16_t tag)
{
    const std::string name = FormatName(tag);
    return name.empty() ? Message(Msg::FormatCode, tag) : Message(Msg::FormatCodeNamed, tag, name);
}

} // namespace

namespace {

struct MessageEntry
{
    Msg id;
    const char* key;
};

// Every name, in the order of Msg.
constexpr MessageEntry MESSAGE_KEYS[] = {
    {Msg::Prompt, "Prompt"},
    {Msg::AskSaveChanges, "AskSaveChanges"},
    {Msg::LoadListFailed, "LoadListFailed"},
    {Msg::SaveFailed, "SaveFailed"},
    {Msg::SaveDone, "SaveDone"},
    {Msg::Building, "Building"},
    {Msg::BuildCancelled, "BuildCancelled"},
    {Msg::BuildFailed, "BuildFailed"},
    {Msg::NoDisplay, "NoDisplay"},
    {Msg::GuiUsage, "GuiUsage"},
    {Msg::GuiSeeHelp, "GuiSeeHelp"},
    {Msg::GuiUnknownOption, "GuiUnknownOption"},
    {Msg::GuiOneList, "GuiOneList"},
    {Msg::NoAudioOutput, "NoAudioOutput"},
    {Msg::PlayerUnavailable, "PlayerUnavailable"},
    {Msg::AskConvert, "AskConvert"},
    {Msg::Converting, "Converting"},
    {Msg::ConvertFolderFailed, "ConvertFolderFailed"},
    {Msg::ConvertFolderNotFolder, "ConvertFolderNotFolder"},
    {Msg::ListConvertCancelled, "ListConvertCancelled"},
    {Msg::ConvertFailedKept, "ConvertFailedKept"},
    {Msg::ConvertRenamedHead, "ConvertRenamedHead"},
    {Msg::ConvertRenamed, "ConvertRenamed"},
    {Msg::ConvertUnavailable, "ConvertUnavailable"},
    {Msg::RowOverLimit, "RowOverLimit"},
    {Msg::WindowTitle, "WindowTitle"},
    {Msg::CaptionExit, "CaptionExit"},
    {Msg::CaptionLoadList, "CaptionLoadList"},
    {Msg::CaptionExportList, "CaptionExportList"},
    {Msg::CaptionBuild, "CaptionBuild"},
    {Msg::CaptionAppend, "CaptionAppend"},
    {Msg::CaptionInsert, "CaptionInsert"},
    {Msg::CaptionDelete, "CaptionDelete"},
    {Msg::CaptionMoveUp, "CaptionMoveUp"},
    {Msg::CaptionMoveDown, "CaptionMoveDown"},
    {Msg::StepReplace, "StepReplace"},
    {Msg::StepMove, "StepMove"},
    {Msg::CaptionYes, "CaptionYes"},
    {Msg::CaptionNo, "CaptionNo"},
    {Msg::CaptionCancel, "CaptionCancel"},
    {Msg::ChooseTargetFile, "ChooseTargetFile"},
    {Msg::ChooseConvertFolder, "ChooseConvertFolder"},
    {Msg::ColumnFileName, "ColumnFileName"},
    {Msg::AllAudioFiles, "AllAudioFiles"},
    {Msg::WarnedPlayWrongly, "WarnedPlayWrongly"},
    {Msg::WarnedEndCut, "WarnedEndCut"},
    {Msg::BuildDone, "BuildDone"},
    {Msg::InvalidSource, "InvalidSource"},
    {Msg::RejectedSource, "RejectedSource"},
    {Msg::FailedSource, "FailedSource"},
    {Msg::MoreFailures, "MoreFailures"},
    {Msg::LeftOut, "LeftOut"},
    {Msg::CheckPassed, "CheckPassed"},
    {Msg::CheckFailed, "CheckFailed"},
    {Msg::NoFileName, "NoFileName"},
    {Msg::NoFolderName, "NoFolderName"},
    {Msg::FileNotOpen, "FileNotOpen"},
    {Msg::RefusedSameAsSource, "RefusedSameAsSource"},
    {Msg::RefusedKind, "RefusedKind"},
    {Msg::RefusedWriteProtected, "RefusedWriteProtected"},
    {Msg::RefusedRiff, "RefusedRiff"},
    {Msg::RefusedNotAFolder, "RefusedNotAFolder"},
    {Msg::RefusedFolderNotEmpty, "RefusedFolderNotEmpty"},
    {Msg::KindFolder, "KindFolder"},
    {Msg::KindFifo, "KindFifo"},
    {Msg::KindCharDevice, "KindCharDevice"},
    {Msg::KindBlockDevice, "KindBlockDevice"},
    {Msg::KindSocket, "KindSocket"},
    {Msg::KindOther, "KindOther"},
    {Msg::KindRegular, "KindRegular"},
    {Msg::IsKind, "IsKind"},
    {Msg::SourceShrank, "SourceShrank"},
    {Msg::NothingToBuild, "NothingToBuild"},
    {Msg::EntryTooLarge, "EntryTooLarge"},
    {Msg::Cancelled, "Cancelled"},
    {Msg::NotLibraryKind, "NotLibraryKind"},
    {Msg::NotLibraryTooShort, "NotLibraryTooShort"},
    {Msg::NotLibraryCountZero, "NotLibraryCountZero"},
    {Msg::NotLibraryCountOver, "NotLibraryCountOver"},
    {Msg::TruncatedSizeTable, "TruncatedSizeTable"},
    {Msg::TruncatedReadingSizeTable, "TruncatedReadingSizeTable"},
    {Msg::DamagedEntrySize, "DamagedEntrySize"},
    {Msg::TruncatedEntries, "TruncatedEntries"},
    {Msg::DamagedEntriesEnd, "DamagedEntriesEnd"},
    {Msg::LibraryChanged, "LibraryChanged"},
    {Msg::NoSuchEntry, "NoSuchEntry"},
    {Msg::NotListFile, "NotListFile"},
    {Msg::ListCountTooLarge, "ListCountTooLarge"},
    {Msg::TooManyRows, "TooManyRows"},
    {Msg::RowLineBreak, "RowLineBreak"},
    {Msg::RowNotUtf8, "RowNotUtf8"},
    {Msg::ListFileTooLarge, "ListFileTooLarge"},
    {Msg::LineNotUtf8, "LineNotUtf8"},
    {Msg::GbkMustBecomeUtf8, "GbkMustBecomeUtf8"},
    {Msg::GbkLineNeedsUtf8, "GbkLineNeedsUtf8"},
    {Msg::ScriptLine, "ScriptLine"},
    {Msg::ScriptTooLarge, "ScriptTooLarge"},
    {Msg::ScriptUnclosedQuote, "ScriptUnclosedQuote"},
    {Msg::ScriptTextAfterQuote, "ScriptTextAfterQuote"},
    {Msg::ScriptQuoteInField, "ScriptQuoteInField"},
    {Msg::ScriptNoHeader, "ScriptNoHeader"},
    {Msg::ScriptMissingColumn, "ScriptMissingColumn"},
    {Msg::ScriptDuplicateColumn, "ScriptDuplicateColumn"},
    {Msg::ScriptTooManyFields, "ScriptTooManyFields"},
    {Msg::ScriptEmptyName, "ScriptEmptyName"},
    {Msg::ScriptBadName, "ScriptBadName"},
    {Msg::ScriptDuplicateName, "ScriptDuplicateName"},
    {Msg::ScriptNoRows, "ScriptNoRows"},
    {Msg::SpeechUnavailable, "SpeechUnavailable"},
    {Msg::UnknownVoice, "UnknownVoice"},
    {Msg::NoTextToSpeak, "NoTextToSpeak"},
    {Msg::SpeechFailed, "SpeechFailed"},
    {Msg::RecordingIsPlaceholder, "RecordingIsPlaceholder"},
    {Msg::SpokenRow, "SpokenRow"},
    {Msg::RecordedRow, "RecordedRow"},
    {Msg::SpeakSummary, "SpeakSummary"},
    {Msg::SpeakFailedCount, "SpeakFailedCount"},
    {Msg::ValuePromptScript, "ValuePromptScript"},
    {Msg::CommandError, "CommandError"},
    {Msg::UnknownCommand, "UnknownCommand"},
    {Msg::UnknownOption, "UnknownOption"},
    {Msg::SeeHelp, "SeeHelp"},
    {Msg::SeeCommandHelp, "SeeCommandHelp"},
    {Msg::MissingOption, "MissingOption"},
    {Msg::OptionGivenTwice, "OptionGivenTwice"},
    {Msg::OptionNeeds, "OptionNeeds"},
    {Msg::OptionInvalid, "OptionInvalid"},
    {Msg::ArgumentsNotUnderstood, "ArgumentsNotUnderstood"},
    {Msg::NeedsValue, "NeedsValue"},
    {Msg::ValueFileName, "ValueFileName"},
    {Msg::ValueFolderName, "ValueFolderName"},
    {Msg::ValueNumber, "ValueNumber"},
    {Msg::ValueLevel, "ValueLevel"},
    {Msg::ValueName, "ValueName"},
    {Msg::NoSourceFiles, "NoSourceFiles"},
    {Msg::NoFiles, "NoFiles"},
    {Msg::ListTakesNoFiles, "ListTakesNoFiles"},
    {Msg::CannotReadList, "CannotReadList"},
    {Msg::ListHasNoRows, "ListHasNoRows"},
    {Msg::ForceOverrides, "ForceOverrides"},
    {Msg::NamesTheLibrary, "NamesTheLibrary"},
    {Msg::HeaderAndMapSame, "HeaderAndMapSame"},
    {Msg::CannotWrite, "CannotWrite"},
    {Msg::CannotWriteLibrary, "CannotWriteLibrary"},
    {Msg::MapNotWritten, "MapNotWritten"},
    {Msg::HeaderWritten, "HeaderWritten"},
    {Msg::MapWritten, "MapWritten"},
    {Msg::ExpectedOne, "ExpectedOne"},
    {Msg::ValueLibraryFile, "ValueLibraryFile"},
    {Msg::ValueListFile, "ValueListFile"},
    {Msg::CannotSaveList, "CannotSaveList"},
    {Msg::Extracted, "Extracted"},
    {Msg::NotAFolderKind, "NotAFolderKind"},
    {Msg::WantsLevelDb, "WantsLevelDb"},
    {Msg::WantsJobs, "WantsJobs"},
    {Msg::WantsLoudness, "WantsLoudness"},
    {Msg::FileError, "FileError"},
    {Msg::ConvertProgress, "ConvertProgress"},
    {Msg::SamplesClipped, "SamplesClipped"},
    {Msg::SilentLoudness, "SilentLoudness"},
    {Msg::NoAudioLeft, "NoAudioLeft"},
    {Msg::ShorterThanBlock, "ShorterThanBlock"},
    {Msg::KeptDamaged, "KeptDamaged"},
    {Msg::Converted, "Converted"},
    {Msg::ConvertedCount, "ConvertedCount"},
    {Msg::NoAudioStream, "NoAudioStream"},
    {Msg::NoAudioDecoded, "NoAudioDecoded"},
    {Msg::EmptyInput, "EmptyInput"},
    {Msg::TooManyChannels, "TooManyChannels"},
    {Msg::WaveTooLarge, "WaveTooLarge"},
    {Msg::RefusedNotAlaw, "RefusedNotAlaw"},
    {Msg::ConvertCancelled, "ConvertCancelled"},
    {Msg::CannotDecode, "CannotDecode"},
    {Msg::DecodedOf, "DecodedOf"},
    {Msg::DecodedSeconds, "DecodedSeconds"},
    {Msg::DamagedAt, "DamagedAt"},
    {Msg::EndsEarly, "EndsEarly"},
    {Msg::SameTarget, "SameTarget"},
    {Msg::ModuleMissing, "ModuleMissing"},
    {Msg::ModuleOtherVersion, "ModuleOtherVersion"},
    {Msg::ModuleNotLoadable, "ModuleNotLoadable"},
    {Msg::ModuleNotLoadableWhy, "ModuleNotLoadableWhy"},
    {Msg::InfoEntries, "InfoEntries"},
    {Msg::InfoHeading, "InfoHeading"},
    {Msg::InfoTotal, "InfoTotal"},
    {Msg::NeitherLibraryNorList, "NeitherLibraryNorList"},
    {Msg::ChangedWhileCompared, "ChangedWhileCompared"},
    {Msg::DiffWantsTwo, "DiffWantsTwo"},
    {Msg::DiffIdentical, "DiffIdentical"},
    {Msg::DiffChanged, "DiffChanged"},
    {Msg::DiffMovedFrom, "DiffMovedFrom"},
    {Msg::DiffAdded, "DiffAdded"},
    {Msg::DiffRemoved, "DiffRemoved"},
    {Msg::DiffSame, "DiffSame"},
    {Msg::DiffDiffers, "DiffDiffers"},
    {Msg::AudioRifx, "AudioRifx"},
    {Msg::AudioRf64, "AudioRf64"},
    {Msg::AudioMp3, "AudioMp3"},
    {Msg::AudioFlac, "AudioFlac"},
    {Msg::AudioOgg, "AudioOgg"},
    {Msg::AudioAiff, "AudioAiff"},
    {Msg::FormatFloat, "FormatFloat"},
    {Msg::FormatExtensible, "FormatExtensible"},
    {Msg::FormatCode, "FormatCode"},
    {Msg::FormatCodeNamed, "FormatCodeNamed"},
    {Msg::ProblemNone, "ProblemNone"},
    {Msg::ProblemNoPath, "ProblemNoPath"},
    {Msg::ProblemMissing, "ProblemMissing"},
    {Msg::ProblemMissingWhy, "ProblemMissingWhy"},
    {Msg::ProblemUnreadable, "ProblemUnreadable"},
    {Msg::ProblemNoReadPermission, "ProblemNoReadPermission"},
    {Msg::ProblemIsFolder, "ProblemIsFolder"},
    {Msg::ProblemNotRegular, "ProblemNotRegular"},
    {Msg::ProblemEmpty, "ProblemEmpty"},
    {Msg::ProblemTooShort, "ProblemTooShort"},
    {Msg::ProblemNotRiff, "ProblemNotRiff"},
    {Msg::ProblemNotRiffKind, "ProblemNotRiffKind"},
    {Msg::ProblemNotWaveType, "ProblemNotWaveType"},
    {Msg::ProblemNotWaveOther, "ProblemNotWaveOther"},
    {Msg::ProblemFmtAfterChunk, "ProblemFmtAfterChunk"},
    {Msg::ProblemFmtAfterData, "ProblemFmtAfterData"},
    {Msg::ProblemFmtSize, "ProblemFmtSize"},
    {Msg::ProblemFmtSizeNotAlaw, "ProblemFmtSizeNotAlaw"},
    {Msg::ProblemNotAlaw, "ProblemNotAlaw"},
    {Msg::ProblemUnknown, "ProblemUnknown"},
    {Msg::WarnSampleRate, "WarnSampleRate"},
    {Msg::WarnChannels, "WarnChannels"},
    {Msg::WarnBits, "WarnBits"},
    {Msg::WarnPartialBlock, "WarnPartialBlock"},
    {Msg::WarnNoWholeBlock, "WarnNoWholeBlock"},
    {Msg::WarnRow, "WarnRow"},
    {Msg::DurationSeconds, "DurationSeconds"},
    {Msg::DurationMinutes, "DurationMinutes"},
    {Msg::DurationHours, "DurationHours"},
    {Msg::CapacityLine, "CapacityLine"},
    {Msg::CapacityInvalid, "CapacityInvalid"},
    {Msg::CapacityOverLimit, "CapacityOverLimit"},
    {Msg::CapacityPending, "CapacityPending"},
    {Msg::LibraryTotals, "LibraryTotals"},
    {Msg::SysAccess, "SysAccess"},
    {Msg::SysPerm, "SysPerm"},
    {Msg::SysNoEntry, "SysNoEntry"},
    {Msg::SysNotDir, "SysNotDir"},
    {Msg::SysIsDir, "SysIsDir"},
    {Msg::SysIo, "SysIo"},
    {Msg::SysLoop, "SysLoop"},
    {Msg::SysNameTooLong, "SysNameTooLong"},
    {Msg::SysTooManyFiles, "SysTooManyFiles"},
    {Msg::SysNoMemory, "SysNoMemory"},
    {Msg::SysTooLarge, "SysTooLarge"},
    {Msg::SysNoDevice, "SysNoDevice"},
    {Msg::SysStale, "SysStale"},
    {Msg::SysLocked, "SysLocked"},
    {Msg::SysNoSpace, "SysNoSpace"},
    {Msg::SysReadOnly, "SysReadOnly"},
    {Msg::SysExists, "SysExists"},
    {Msg::SysNotEmpty, "SysNotEmpty"},
    {Msg::SysCrossDevice, "SysCrossDevice"},
    {Msg::SysBusy, "SysBusy"},
    {Msg::SysTextBusy, "SysTextBusy"},
    {Msg::SysInvalid, "SysInvalid"},
    {Msg::SysQuota, "SysQuota"},
    {Msg::SysPipe, "SysPipe"},
    {Msg::SysNotSupported, "SysNotSupported"},
    {Msg::SysOther, "SysOther"},
    {Msg::HelpOutLibrary, "HelpOutLibrary"},
    {Msg::HelpOutFolder, "HelpOutFolder"},
    {Msg::HelpOutList, "HelpOutList"},
    {Msg::HelpJson, "HelpJson"},
    {Msg::HelpForceRiff, "HelpForceRiff"},
    {Msg::HelpHeader, "HelpHeader"},
    {Msg::HelpMap, "HelpMap"},
    {Msg::HelpPrefix, "HelpPrefix"},
    {Msg::HelpForceExtract, "HelpForceExtract"},
    {Msg::HelpAll, "HelpAll"},
    {Msg::HelpFlag, "HelpFlag"},
    {Msg::HelpBuildDetails, "HelpBuildDetails"},
    {Msg::HelpCheckDetails, "HelpCheckDetails"},
    {Msg::HelpInfoDetails, "HelpInfoDetails"},
    {Msg::HelpExtractDetails, "HelpExtractDetails"},
    {Msg::HelpShowDetails, "HelpShowDetails"},
    {Msg::HelpExportDetails, "HelpExportDetails"},
    {Msg::HelpDiffDetails, "HelpDiffDetails"},
    {Msg::HelpAbout, "HelpAbout"},
    {Msg::HelpAboutFooter, "HelpAboutFooter"},
    {Msg::CmdBuild, "CmdBuild"},
    {Msg::CmdCheck, "CmdCheck"},
    {Msg::CmdInfo, "CmdInfo"},
    {Msg::CmdExtract, "CmdExtract"},
    {Msg::CmdShow, "CmdShow"},
    {Msg::CmdDiff, "CmdDiff"},
    {Msg::CmdExport, "CmdExport"},
    {Msg::CmdConvert, "CmdConvert"},
    {Msg::CmdSpeak, "CmdSpeak"},
    {Msg::HelpConvertDetails, "HelpConvertDetails"},
    {Msg::HelpConvertOutput, "HelpConvertOutput"},
    {Msg::HelpNoPad, "HelpNoPad"},
    {Msg::HelpTrim, "HelpTrim"},
    {Msg::HelpTrimThreshold, "HelpTrimThreshold"},
    {Msg::HelpNormalize, "HelpNormalize"},
    {Msg::HelpKeepDamaged, "HelpKeepDamaged"},
    {Msg::HelpForceNotAlaw, "HelpForceNotAlaw"},
    {Msg::HelpJobs, "HelpJobs"},
    {Msg::HelpConvertJson, "HelpConvertJson"},
    {Msg::HelpSpeakDetails, "HelpSpeakDetails"},
    {Msg::HelpSpeakOutput, "HelpSpeakOutput"},
    {Msg::HelpVoice, "HelpVoice"},
    {Msg::HelpList, "HelpList"},
    {Msg::HelpVoices, "HelpVoices"},
    {Msg::HelpUsage, "HelpUsage"},
    {Msg::HelpCommands, "HelpCommands"},
    {Msg::HelpOptions, "HelpOptions"},
    {Msg::HelpOptionsMark, "HelpOptionsMark"},
    {Msg::HelpMainOperands, "HelpMainOperands"},
    {Msg::AvInvalidData, "AvInvalidData"},
    {Msg::AvNoDecoder, "AvNoDecoder"},
    {Msg::AvNoDemuxer, "AvNoDemuxer"},
    {Msg::AvNoStream, "AvNoStream"},
    {Msg::AvEof, "AvEof"},
    {Msg::AvNotSupported, "AvNotSupported"},
    {Msg::AvInternal, "AvInternal"},
    {Msg::AvOther, "AvOther"},
};

constexpr bool InOrder()
{
    for (std::size_t i = 0; i < std::size(MESSAGE_KEYS); ++i)
        if (static_cast<std::size_t>(MESSAGE_KEYS[i].id) != i)
            return false;
    return std::size(MESSAGE_KEYS) == static_cast<std::size_t>(Msg::Count_);
}
static_assert(InOrder(), "MESSAGE_KEYS must list every Msg in order");

constexpr std::size_t MESSAGE_COUNT = static_cast<std::size_t>(Msg::Count_);

// One language's texts, by Msg.
struct Catalog
{
    std::string language;
    std::array<std::string, MESSAGE_COUNT> texts;
};

std::size_t Places(std::string_view text)
{
    std::size_t n = 0;
    for (std::size_t at = text.find("{}"); at != std::string_view::npos; at = text.find("{}", at + 2))
        ++n;
    return n;
}

std::optional<std::string_view> BuiltinBytes(std::string_view language)
{
    for (const BuiltinCatalog& c : BuiltinCatalogs())
        if (language == c.language)
            return c.bytes;
    return std::nullopt;
}

std::optional<CatalogTexts> BuiltinTexts(std::string_view language)
{
    const auto bytes = BuiltinBytes(language);
    return bytes ? ParseCatalog(*bytes) : std::nullopt;
}

// texts laid out by Msg; a missing text, or one whose places differ from
// the English, is taken from fallback.
Catalog MakeCatalog(std::string language, const CatalogTexts& texts, const Catalog* fallback)
{
    Catalog catalog{std::move(language), {}};
    for (std::size_t i = 0; i < MESSAGE_COUNT; ++i) {
        const auto found = texts.find(MESSAGE_KEYS[i].key);
        const bool usable = found != texts.end() && !found->second.empty() &&
                            (!fallback || Places(found->second) == Places(fallback->texts[i]));
        if (usable)
            catalog.texts[i] = found->second;
        else if (fallback)
            catalog.texts[i] = fallback->texts[i];
        else
            catalog.texts[i] = MESSAGE_KEYS[i].key;
    }
    return catalog;
}

// Catalogs once loaded stay, so the texts given out stay valid.
class Catalogs
{
public:
    Catalogs()
    {
        const auto english = BuiltinTexts("en");
        m_loaded.push_back(MakeCatalog("en", english.value_or(CatalogTexts{}), nullptr));
        m_current = &m_loaded.front();
    }

    const Catalog& Current() const { return *m_current.load(std::memory_order_acquire); }

    std::string Use(const std::vector<std::string>& languages)
    {
        const std::lock_guard lock(m_mutex);
        for (const std::string& language : languages) {
            if (const Catalog* c = Find(language)) {
                m_current.store(c, std::memory_order_release);
                return c->language;
            }
        }
        m_current.store(&m_loaded.front(), std::memory_order_release);
        return m_loaded.front().language;
    }

private:
    const Catalog* Find(const std::string& language)
    {
        if (language.empty() || language.find('/') != std::string::npos ||
            language.find("..") != std::string::npos)
            return nullptr;
        for (const Catalog& c : m_loaded)
            if (c.language == language)
                return &c;
        // Simplified Chinese is the Chinese the tool has.
        const std::string builtinName = language == "zh" || language.starts_with("zh_") ? "zh_CN" : language;
        const auto builtinBytes = BuiltinBytes(builtinName);
        const auto builtin = builtinBytes ? ParseCatalog(*builtinBytes) : std::nullopt;
        const Catalog& english = m_loaded.front();
        std::optional<Catalog> base;
        if (builtin)
            base = MakeCatalog(language, *builtin, &english);
        const auto installedBytes = ReadInstalled(language);
        // Most often the installed catalog is the compiled-in one: read it once.
        const auto installed = installedBytes && !(base && builtinBytes == installedBytes)
                                   ? ParseCatalog(*installedBytes)
                                   : std::nullopt;
        if (!installed && !base)
            return nullptr;
        m_loaded.push_back(installed ? MakeCatalog(language, *installed, base ? &*base : &english) : *base);
        return &m_loaded.back();
    }

    // The installed catalog's bytes.
    static std::optional<std::string> ReadInstalled(const std::string& language)
    {
        std::error_code ec;
        const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec)
            return std::nullopt;
        const std::filesystem::path file =
            program.parent_path().parent_path() / "share/locale" / language / "LC_MESSAGES/voicelib.mo";
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return std::nullopt;
        // A catalog is small; anything far larger is not one. Read in pieces:
        // zeroing a buffer of the limit costs the window's start-up 16 MiB of
        // page faults.
        constexpr std::size_t MAX_CATALOG_BYTES = 16 << 20;
        std::string bytes;
        char piece[65536];
        while (in.read(piece, sizeof piece) || in.gcount() > 0) {
            bytes.append(piece, static_cast<std::size_t>(in.gcount()));
            if (bytes.size() > MAX_CATALOG_BYTES)
                return std::nullopt;
        }
        return bytes;
    }

    std::mutex m_mutex;
    std::deque<Catalog> m_loaded;
    std::atomic<const Catalog*> m_current;
};

Catalogs& TheCatalogs()
{
    static Catalogs catalogs;
    return catalogs;
}

// "zh_CN.UTF-8@latin" -> "zh_CN", then "zh".
void AddLanguage(std::vector<std::string>& out, std::string_view code)
{
    code = code.substr(0, code.find_first_of(".@"));
    if (code.empty())
        return;
    const std::string full(code);
    if (std::find(out.begin(), out.end(), full) == out.end())
        out.push_back(full);
    const std::string bare(code.substr(0, code.find('_')));
    if (std::find(out.begin(), out.end(), bare) == out.end())
        out.push_back(bare);
}

std::string_view Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

const char* MessageKey(Msg id)
{
    return MESSAGE_KEYS[static_cast<std::size_t>(id)].key;
}

const char* MessageText(Msg id)
{
    return TheCatalogs().Current().texts[static_cast<std::size_t>(id)].c_str();
}

std::vector<std::string> LanguagesFromEnvironment()
{
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (!(locale = Environment(name)).empty())
            break;
    if (locale == "C" || locale == "POSIX")
        return {};
    std::vector<std::string> languages;
    std::string_view list = Environment("LANGUAGE");
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        AddLanguage(languages, list.substr(0, colon));
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    // C.UTF-8 names no language: English, unless LANGUAGE asked for one.
    if (languages.empty() && !locale.starts_with("C.") && !locale.starts_with("POSIX."))
        AddLanguage(languages, locale);
    return languages;
}

std::string SetMessageLanguage(const std::vector<std::string>& languages)
{
    return TheCatalogs().Use(languages);
}

std::string MessageLanguage()
{
    return TheCatalogs().Current().language;
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
        return MessageText(Msg::SysAccess);
    case EPERM:
        return MessageText(Msg::SysPerm);
    case ENOENT:
        return MessageText(Msg::SysNoEntry);
    case ENOTDIR:
        return MessageText(Msg::SysNotDir);
    case EISDIR:
        return MessageText(Msg::SysIsDir);
    case EIO:
        return MessageText(Msg::SysIo);
    case ELOOP:
        return MessageText(Msg::SysLoop);
    case ENAMETOOLONG:
        return MessageText(Msg::SysNameTooLong);
    case EMFILE:
    case ENFILE:
        return MessageText(Msg::SysTooManyFiles);
    case ENOMEM:
        return MessageText(Msg::SysNoMemory);
    case EOVERFLOW:
    case EFBIG:
        return MessageText(Msg::SysTooLarge);
    case ENXIO:
    case ENODEV:
        return MessageText(Msg::SysNoDevice);
    case ESTALE:
        return MessageText(Msg::SysStale);
    case EAGAIN:
        return MessageText(Msg::SysLocked);
    case ENOSPC:
        return MessageText(Msg::SysNoSpace);
    case EROFS:
        return MessageText(Msg::SysReadOnly);
    case EEXIST:
        return MessageText(Msg::SysExists);
    case ENOTEMPTY:
        return MessageText(Msg::SysNotEmpty);
    case EXDEV:
        return MessageText(Msg::SysCrossDevice);
    case EBUSY:
        return MessageText(Msg::SysBusy);
    case ETXTBSY:
        return MessageText(Msg::SysTextBusy);
    case EINVAL:
        return MessageText(Msg::SysInvalid);
    case EDQUOT:
        return MessageText(Msg::SysQuota);
    case EPIPE:
        return MessageText(Msg::SysPipe);
    case EOPNOTSUPP:
        return MessageText(Msg::SysNotSupported);
    default:
        return Message(Msg::SysOther, err, std::strerror(err));
    }
}

std::string ErrorCodeText(const std::error_code& code)
{
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        return SystemErrorText(code.value());
    return code.message();
}

std::string SourceProblemText(const SourceVerdict& v)
{
    const std::string minimum = std::to_string(WAVE_HEADER_PROBE_SIZE);
    switch (v.problem) {
    case SourceProblem::None:
        return MessageText(Msg::ProblemNone);
    case SourceProblem::NoPath:
        return MessageText(Msg::ProblemNoPath);
    case SourceProblem::Missing:
        return v.code == std::errc::not_a_directory
                   ? Message(Msg::ProblemMissingWhy, SystemErrorText(v.code.value()))
                   : MessageText(Msg::ProblemMissing);
    case SourceProblem::Unreadable:
        return v.code == std::errc::permission_denied
                   ? MessageText(Msg::ProblemNoReadPermission)
                   : Message(Msg::ProblemUnreadable, SystemErrorText(v.code.value()));
    case SourceProblem::IsFolder:
        return MessageText(Msg::ProblemIsFolder);
    case SourceProblem::NotRegular:
        return MessageText(Msg::ProblemNotRegular);
    case SourceProblem::TooShort:
        if (v.bytes == 0)
            return MessageText(Msg::ProblemEmpty);
        return Message(Msg::ProblemTooShort, v.bytes, minimum);
    case SourceProblem::NotRiff: {
        const std::string kind = KnownKind(v.found);
        return kind.empty() ? MessageText(Msg::ProblemNotRiff) : Message(Msg::ProblemNotRiffKind, kind);
    }
    case SourceProblem::NotWave: {
        const std::string type = Printable(v.found);
        return type.empty() ? MessageText(Msg::ProblemNotWaveOther) : Message(Msg::ProblemNotWaveType, type);
    }
    case SourceProblem::FmtNotFirst: {
        const std::string id = Printable(v.found);
        return id.empty() ? Message(Msg::ProblemFmtAfterData, minimum)
                          : Message(Msg::ProblemFmtAfterChunk, minimum, id);
    }
    case SourceProblem::FmtSize:
        return v.formatTag == WAVE_FORMAT_ALAW
                   ? Message(Msg::ProblemFmtSize, v.fmtSize)
                   : Message(Msg::ProblemFmtSizeNotAlaw, v.fmtSize, FormatCode(v.formatTag));
    case SourceProblem::NotAlaw:
        return Message(Msg::ProblemNotAlaw, FormatCode(v.formatTag));
    }
    return MessageText(Msg::ProblemUnknown);
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
        return Message(Msg::WarnSampleRate, v, DEVICE_SAMPLE_RATE);
    case SourceWarningKind::Channels:
        return Message(Msg::WarnChannels, v);
    case SourceWarningKind::BitsPerSample:
        return Message(Msg::WarnBits, v, DEVICE_BITS_PER_SAMPLE);
    case SourceWarningKind::PartialBlock:
        return Message(Msg::WarnPartialBlock, v, Decimal(warning.value * 1000.0 / DEVICE_SAMPLE_RATE),
                       AUDIO_BLOCK_SIZE);
    case SourceWarningKind::NoWholeBlock:
        return Message(Msg::WarnNoWholeBlock, v, AUDIO_BLOCK_SIZE);
    }
    return {};
}

std::string SourceWarningMessage(const RowWarnings& row)
{
    std::string text = Message(Msg::WarnRow, row.index, row.path);
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
    char number[32];
    if (seconds < 59.95) {
        std::snprintf(number, sizeof number, "%.1f", seconds);
        return Message(Msg::DurationSeconds, std::string_view(number));
    }
    char rest[8];
    if (seconds < 3599.5) {
        const long long s = std::llround(seconds);
        std::snprintf(rest, sizeof rest, "%02lld", s % 60);
        return Message(Msg::DurationMinutes, s / 60, std::string_view(rest));
    }
    const long long m = std::llround(seconds / 60);
    std::snprintf(rest, sizeof rest, "%02lld", m % 60);
    return Message(Msg::DurationHours, m / 60, std::string_view(rest));
}

std::string CapacityText(const Capacity& capacity)
{
    std::string text = Message(Msg::CapacityLine, capacity.rows, DurationText(capacity.Seconds()),
                               Size(capacity.libraryBytes));
    if (capacity.invalid > 0)
        text += Message(Msg::CapacityInvalid, capacity.invalid);
    if (capacity.overLimit > 0)
        text += Message(Msg::CapacityOverLimit, capacity.overLimit);
    if (capacity.pending > 0)
        text += MessageText(Msg::CapacityPending);
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
    return Message(Msg::LibraryTotals, libraryBytes, std::string_view(seconds));
}

std::string ScriptErrorText(const ScriptError& error)
{
    std::string reason;
    switch (error.problem) {
    case ScriptProblem::None:
        return {};
    case ScriptProblem::Unreadable:
        return ErrorCodeText(error.code);
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
