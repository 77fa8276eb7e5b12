#include "cli/speak.h"

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/options.h"
#include "core/fileio.h"
#include "core/list_file.h"
#include "core/messages.h"
#include "core/prompt_script.h"
#include "core/source_info.h"
#include "core/voice_list.h"
#include "core/wave.h"
#include "media/convert.h"
#include "media/loader.h"
#include "media/speech.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sys/stat.h>

namespace voicelib::cli {

namespace fs = std::filesystem;

namespace {

enum class RowKind
{
    Spoken,    // a placeholder
    AsIs,      // an accepted recording, listed where it is
    Copied,    // an accepted recording under another stem, copied to DIR/NAME.wav
    Converted, // a recording in another format
};

struct RowPlan
{
    RowKind kind = RowKind::Spoken;
    std::string recording; // the file a recorded row starts from
    std::string output;
    std::string voice;
    std::string error; // why the row fails
    double seconds = 0;
};

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec)
        return a == b;
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return ec ? a == b : ca == cb;
}

double Seconds(const std::string& path)
{
    return static_cast<double>(ReadSourceInfo(path).EntryBytes()) / DEVICE_SAMPLE_RATE;
}

// An accepted recording copied byte for byte, under the rules of convert's targets.
std::string CopyRecording(const std::string& from, const std::string& to, const WriteOptions& rules)
{
    struct stat st;
    if (!rules.force && ::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !IsAcceptedWave(to))
        return Message(Msg::FileError, to, MessageText(Msg::RefusedNotAlaw));
    Result<FileHandle> source = OpenSource(from);
    if (!source)
        return Message(Msg::FileError, from, source.reason());
    Result<std::uint64_t> size = FileSize(source->fd());
    if (!size)
        return Message(Msg::FileError, from, size.reason());
    AtomicFile target(to, rules, TargetKind::Entry);
    IoStatus status = target.Open();
    if (status.ok()) {
        CopyOutcome copied = CopyRange(source->fd(), 0, target.fd(), *size);
        status = copied.ok() ? target.Commit()
                             : IoStatus(copied.where == CopyFailure::Read ? Error(copied.code, from)
                                                                          : target.Fail(copied.code));
    }
    return status.ok() ? std::string() : Refusal(status.error());
}

std::string SpeechErrorText(const SpeechError& e)
{
    switch (e.problem) {
    case SpeechProblem::None:
        return {};
    case SpeechProblem::Unavailable:
        return Message(Msg::SpeechUnavailable, e.detail);
    case SpeechProblem::UnknownVoice:
        return Message(Msg::UnknownVoice, e.detail);
    case SpeechProblem::NoText:
        return MessageText(Msg::NoTextToSpeak);
    case SpeechProblem::Failed:
        return Message(Msg::SpeechFailed, e.detail);
    }
    return {};
}

// How a list file names a file: relative to the list's folder when it lies
// inside it, so that the folder can move as a whole; absolute otherwise.
std::string ListRow(const std::string& listFolder, const std::string& path)
{
    const fs::path absolute = fs::absolute(path).lexically_normal();
    const fs::path relative = absolute.lexically_relative(listFolder);
    if (!relative.empty() && *relative.begin() != "..")
        return relative.string();
    return absolute.string();
}

// The list's rows become the script's: a row that names the same file as
// before keeps its text, every other line of the file is kept by the writer.
IoStatus UpdateList(const std::string& path, VoiceList& list, const std::vector<RowPlan>& plans,
                    const WriteOptions& rules)
{
    const std::string folder = list.GetBaseFolder();
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const int row = static_cast<int>(i);
        if (list.IsValidRow(row) &&
            (!plans[i].error.empty() || SameFile(ResolvePath(folder, list.GetPath(row)), plans[i].output)))
            continue;
        const std::string text = ListRow(folder, plans[i].output);
        if (list.IsValidRow(row))
            list.SetPath(row, text);
        else
            list.Append({text});
    }
    if (list.GetItemCount() > static_cast<int>(plans.size()))
        list.RemoveRange(static_cast<int>(plans.size()), list.GetItemCount() - 1);
    return ExportListFile(path, list, rules);
}

std::string Fixed(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

int Fail(std::ostream& err, const std::string& why)
{
    err << Message(Msg::CommandError, "speak", why) << "\n";
    return EXIT_USAGE_OR_IO;
}

int ListVoices(const ConversionModule& module, const SpeakArgs& a, std::ostream& out, std::ostream& err)
{
    SpeechError error;
    const std::vector<SpeechVoice> voices = module.listSpeechVoices(&error);
    if (!error.ok())
        return Fail(err, SpeechErrorText(error));
    if (a.json) {
        Json items = Json::array();
        for (const SpeechVoice& v : voices)
            items.push_back({{"language", v.language}, {"name", v.name}, {"identifier", v.identifier}});
        out << JsonText({{"voices", items}}) << "\n";
        return EXIT_DONE;
    }
    for (const SpeechVoice& v : voices)
        out << v.language << "\t" << v.name << "\t" << v.identifier << "\n";
    return EXIT_DONE;
}

} // namespace

void DeclareSpeak(CLI::App& command, SpeakArgs& a)
{
    command.footer(Paragraphs(Msg::HelpSpeakDetails));
    command.add_option("-o,--output", a.dir, MessageText(Msg::HelpSpeakOutput))
        ->type_name("DIR")
        ->check(NotEmpty(Msg::ValueFolderName));
    command.add_option("--voice", a.voice, MessageText(Msg::HelpVoice))
        ->type_name("VOICE")
        ->check(NotEmpty(Msg::ValueName));
    command.add_option("--list", a.list, MessageText(Msg::HelpList))
        ->type_name("LIST.ini")
        ->check(NotEmpty(Msg::ValueFileName));
    command.add_flag("--force", a.force, MessageText(Msg::HelpForceNotAlaw));
    command.add_flag("--json", a.json, MessageText(Msg::HelpJson));
    command.add_flag("--voices", a.voices, MessageText(Msg::HelpVoices));
}

std::string CheckSpeak(const SpeakArgs& a)
{
    if (a.voices)
        return {};
    if (a.inputs.size() != 1)
        return Message(Msg::ExpectedOne, MessageText(Msg::ValuePromptScript), a.inputs.size());
    return {};
}

int RunSpeak(const SpeakArgs& a, std::ostream& out, std::ostream& err)
{
    // A script at fault is named as such, also where the module is missing.
    PromptScript script;
    if (!a.voices) {
        script = ReadPromptScript(a.inputs[0]);
        if (!script.ok())
            return Fail(err, Message(Msg::FileError, a.inputs[0], ScriptErrorText(script.error)));
    }
    // The synthesizer and the converter live in the module; the other commands never load it.
    const Result<const ConversionModule*> module = LoadConversionModule();
    if (!module)
        return Fail(err, module.message());
    if (a.voices)
        return ListVoices(**module, a, out, err);
    const std::string& scriptPath = a.inputs[0];
    if (!a.voice.empty()) {
        if (SpeechError e = (*module)->checkSpeechVoice(a.voice); !e.ok())
            return Fail(err, SpeechErrorText(e));
    }

    // What is read is never written over: the script, the list, every recording.
    // The folder as given, so that paths read as the user wrote them.
    const std::string scriptFolder = fs::path(scriptPath).parent_path().string();
    WriteOptions rules;
    rules.force = a.force;
    rules.sources.push_back(scriptPath);
    std::vector<RowPlan> plans(script.rows.size());
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const ScriptRow& row = script.rows[i];
        RowPlan& plan = plans[i];
        plan.output = (fs::path(a.dir) / (row.name + ".wav")).string();
        plan.recording = row.file.empty() ? std::string() : ResolvePath(scriptFolder, row.file);
        if (!plan.recording.empty() && FileExists(plan.recording)) {
            rules.sources.push_back(plan.recording);
            if (!IsAcceptedWave(plan.recording)) {
                plan.kind = RowKind::Converted;
            } else if (fs::path(plan.recording).stem() == row.name) {
                plan.kind = RowKind::AsIs;
                plan.output = plan.recording;
            } else {
                plan.kind = RowKind::Copied;
            }
        } else if (!plan.recording.empty() && SameFile(plan.recording, plan.output)) {
            // A placeholder written there would later pass for the recording.
            plan.error = Message(Msg::RecordingIsPlaceholder, row.file);
        } else {
            plan.voice = a.voice.empty() ? DefaultSpeechVoice(row.text) : a.voice;
        }
    }

    // The list is read, and its target checked, before anything is written.
    VoiceList list;
    WriteOptions listRules = rules;
    if (!a.list.empty()) {
        for (const RowPlan& p : plans)
            listRules.sources.push_back(p.output);
        if (Result<TargetInfo> target = CheckTarget(a.list, listRules, TargetKind::Document); !target)
            return Fail(err, Message(Msg::CannotSaveList, Refusal(target.error())));
        if (FileExists(a.list)) {
            if (IoStatus s = LoadListFile(a.list, list); !s.ok())
                return Fail(err, Message(Msg::CannotReadList, s.message()));
        } else {
            list.Assign({}, ListFolder(a.list));
        }
        rules.sources.push_back(a.list);
    }

    std::error_code ec;
    fs::create_directories(a.dir, ec);
    if (ec || !fs::is_directory(a.dir)) {
        struct stat st;
        const std::string why =
            ::stat(a.dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)
                ? Message(Msg::NotAFolderKind, KindOfFile(st.st_mode))
                : ErrorCodeText(ec ? ec : std::make_error_code(std::errc::not_a_directory));
        return Fail(err, Message(Msg::FileError, a.dir, why));
    }

    ConvertOptions options;
    options.write = rules;
    std::vector<ConvertJob> conversions;
    std::vector<SpeakJob> speeches;
    std::vector<std::size_t> converted, spoken;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        RowPlan& plan = plans[i];
        if (!plan.error.empty())
            continue;
        switch (plan.kind) {
        case RowKind::AsIs:
            plan.seconds = Seconds(plan.output);
            break;
        case RowKind::Copied:
            plan.error = CopyRecording(plan.recording, plan.output, rules);
            plan.seconds = plan.error.empty() ? Seconds(plan.output) : 0;
            break;
        case RowKind::Converted:
            conversions.push_back({plan.recording, plan.output});
            converted.push_back(i);
            break;
        case RowKind::Spoken:
            speeches.push_back({script.rows[i].text, plan.voice, plan.output});
            spoken.push_back(i);
            break;
        }
    }
    const std::vector<ConvertResult> conversionResults =
        (*module)->convertFiles(conversions, options, {}, 0);
    for (std::size_t k = 0; k < converted.size(); ++k) {
        const ConvertResult& r = conversionResults[k];
        plans[converted[k]].error = r.ok ? std::string() : Message(Msg::FileError, r.input, r.error);
        plans[converted[k]].seconds = r.Seconds();
    }
    const std::vector<SpeakResult> speechResults = (*module)->speakFiles(speeches, options, 0);
    for (std::size_t k = 0; k < spoken.size(); ++k) {
        const SpeakResult& r = speechResults[k];
        RowPlan& plan = plans[spoken[k]];
        plan.error = !r.speech.ok()    ? SpeechErrorText(r.speech)
                     : !r.converted.ok ? r.converted.error
                                       : std::string();
        plan.seconds = r.converted.Seconds();
    }

    std::size_t recorded = 0, placeholders = 0, failed = 0;
    Json rows = Json::array();
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const RowPlan& plan = plans[i];
        const ScriptRow& row = script.rows[i];
        const bool isRecorded = plan.kind != RowKind::Spoken;
        Json item = {
            {"name", row.name}, {"text", row.text}, {"output", plan.output}, {"recorded", isRecorded}};
        if (!plan.error.empty()) {
            ++failed;
            item["error"] = plan.error;
            err << Message(Msg::CommandError, "speak", Message(Msg::FileError, row.name, plan.error)) << "\n";
        } else {
            ++(isRecorded ? recorded : placeholders);
            item["seconds"] = plan.seconds;
            if (!a.json)
                out << Message(isRecorded ? Msg::RecordedRow : Msg::SpokenRow, row.name, plan.output,
                               Fixed(plan.seconds))
                    << "\n";
        }
        rows.push_back(std::move(item));
    }
    int code = failed > 0 ? EXIT_INVALID_SOURCE : EXIT_DONE;
    if (!a.list.empty()) {
        if (IoStatus s = UpdateList(a.list, list, plans, listRules); !s.ok())
            code = Fail(err, Message(Msg::CannotSaveList, Refusal(s.error())));
    }
    if (a.json)
        out << JsonText({{"rows", rows}}) << "\n";
    else
        out << Message(Msg::SpeakSummary, plans.size(), recorded, placeholders)
            << (failed > 0 ? Message(Msg::SpeakFailedCount, failed) : std::string()) << "\n";
    return code;
}

} // namespace voicelib::cli
