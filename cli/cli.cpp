#include "cli/cli.h"

#include "cli/convert.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/speak.h"
#include "core/firmware_map.h"
#include "core/library.h"
#include "core/library_diff.h"
#include "core/list_file.h"
#include "core/messages.h"
#include "core/source_info.h"
#include "core/voice_list.h"
#include "core/wave.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

namespace voicelib::cli {

namespace {

struct Options
{
    std::string name;
    bool json = false;
    bool force = false;
    bool all = false; // diff: list identical entries too
    std::string output;
    std::vector<std::string> inputs;
    BuildProgress buildProgress;
    std::string header; // build: the C header to write, if any
    std::string map;    // build: the CSV map to write, if any
    std::string prefix = DEFAULT_MAP_PREFIX;
    ConvertArgs convert;
    SpeakArgs speak;
};

bool EndsWithIni(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".ini";
}

// The files to work on: those given, or the rows of a list file given first,
// resolved against the list file's folder; listed, when given, gets them as
// the list has them.
bool CollectSources(const Options& opt, std::vector<std::string>* paths, std::ostream& err,
                    std::vector<std::string>* listed = nullptr)
{
    if (opt.inputs.empty()) {
        err << Message(Msg::CommandError, opt.name, MessageText(Msg::NoSourceFiles)) << "\n";
        return false;
    }
    if (!EndsWithIni(opt.inputs[0])) {
        *paths = opt.inputs;
        if (listed)
            *listed = opt.inputs;
        return true;
    }
    if (opt.inputs.size() > 1) {
        err << Message(Msg::CommandError, opt.name, MessageText(Msg::ListTakesNoFiles)) << "\n";
        return false;
    }
    Result<std::vector<std::string>> rows = ReadListFile(opt.inputs[0]);
    if (!rows.ok()) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::CannotReadList, rows.message())) << "\n";
        return false;
    }
    *paths = std::move(*rows);
    if (paths->empty()) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::ListHasNoRows, opt.inputs[0])) << "\n";
        return false;
    }
    if (listed)
        *listed = *paths;
    const std::string folder = ListFolder(opt.inputs[0]);
    for (std::string& path : *paths)
        path = ResolvePath(folder, path);
    return true;
}

void JsonRejected(JsonObjectStream& json, std::string_view key, const std::vector<RejectedSource>& list)
{
    json.BeginArray(key);
    for (const RejectedSource& r : list)
        json.Item({{"index", r.index},
                   {"path", r.path},
                   {"problem", SourceProblemCode(r.verdict.problem)},
                   {"reason", SourceProblemText(r.verdict)}});
    json.EndArray();
}

// Reports the first invalid source, if any; returns whether all passed.
bool Validate(const Options& opt, const BuildSources& sources, std::ostream& out, std::ostream& err)
{
    const std::optional<RejectedSource> rejected = sources.FirstInvalid();
    if (!rejected)
        return true;
    if (opt.json)
        out << JsonText({{"invalid_index", rejected->index},
                         {"invalid_path", rejected->path},
                         {"problem", SourceProblemCode(rejected->verdict.problem)},
                         {"reason", SourceProblemText(rejected->verdict)}})
            << "\n";
    else
        err << RejectedSourceMessage(*rejected) << "\n";
    return false;
}

// What a write may replace: the sources it reads are never among them.
WriteOptions TargetRules(const Options& opt)
{
    WriteOptions rules;
    rules.force = opt.force;
    if (!opt.inputs.empty() && EndsWithIni(opt.inputs[0]))
        rules.sources.push_back(opt.inputs[0]);
    return rules;
}

// 8000 A-law samples a second, one byte each.
double Duration(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 8000.0;
}

std::string Seconds(std::uint64_t bytes);

// Accepted sources the device would play wrongly, on stderr.
void PrintWarnings(const std::vector<RowWarnings>& rows, std::ostream& err)
{
    // One write a warning: stderr is unbuffered.
    for (const RowWarnings& r : rows)
        err << SourceWarningMessage(r) + "\n";
    if (!rows.empty())
        err << SourceWarningCountMessage(rows) << "\n";
}

// One item a warning, partial blocks with their length in milliseconds.
void JsonWarnings(JsonObjectStream& json, const std::vector<RowWarnings>& rows)
{
    json.BeginArray("warnings");
    for (const RowWarnings& r : rows) {
        for (const SourceWarning& w : r.warnings) {
            Json item = {{"index", r.index},
                         {"path", r.path},
                         {"kind", SourceWarningCode(w.kind)},
                         {"value", w.value}};
            if (w.kind == SourceWarningKind::PartialBlock)
                item["milliseconds"] = w.value * 1000.0 / DEVICE_SAMPLE_RATE;
            item["message"] = SourceWarningText(w);
            json.Item(item);
        }
    }
    json.EndArray();
}

// The firmware header and map a build writes besides the library.
struct MapTarget
{
    const char* option;
    std::string path;
    bool header;
};

std::vector<MapTarget> MapTargets(const Options& opt)
{
    std::vector<MapTarget> targets;
    if (!opt.header.empty())
        targets.push_back({"--header", opt.header, true});
    if (!opt.map.empty())
        targets.push_back({"--map", opt.map, false});
    return targets;
}

// The same file: the same name, or another name (a hard link) of it.
bool SamePath(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ec;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec)
        return a == b;
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return ec ? a == b : ca == cb;
}

// The rules for the header and the map: those of the library, and neither
// replaces a source nor the library.
WriteOptions MapRules(const Options& opt, const BuildSources& sources)
{
    WriteOptions rules = TargetRules(opt);
    sources.AddTo(&rules);
    rules.sources.push_back(opt.output);
    return rules;
}

// Opens the header and the map before anything is written, so that one the
// build could not write stops it; they are filled once the library is written.
bool OpenMapTargets(const Options& opt, const BuildSources& sources,
                    std::vector<std::unique_ptr<AtomicFile>>* files, std::ostream& err)
{
    const std::vector<MapTarget> targets = MapTargets(opt);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (SamePath(targets[i].path, opt.output)) {
            err << Message(Msg::CommandError, opt.name,
                           Message(Msg::NamesTheLibrary, targets[i].option, opt.output))
                << "\n";
            return false;
        }
        if (i > 0 && SamePath(targets[i].path, targets[0].path)) {
            err << Message(Msg::CommandError, opt.name, Message(Msg::HeaderAndMapSame, targets[i].path))
                << "\n";
            return false;
        }
    }
    for (const MapTarget& t : targets) {
        files->push_back(std::make_unique<AtomicFile>(t.path, MapRules(opt, sources)));
        if (IoStatus s = files->back()->Open(); !s.ok()) {
            err << Message(Msg::CommandError, opt.name, Message(Msg::CannotWrite, Refusal(s))) << "\n";
            return false;
        }
    }
    return true;
}

int RunBuild(Options& opt, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> paths;
    std::vector<std::string> rows; // the map names each source as the list does
    if (!CollectSources(opt, &paths, err, &rows))
        return EXIT_USAGE_OR_IO;
    // Each source is opened once: its check, its warnings and its copy read that one file.
    const BuildSources sources(std::move(paths));
    std::vector<std::unique_ptr<AtomicFile>> mapFiles;
    if (!OpenMapTargets(opt, sources, &mapFiles, err))
        return EXIT_USAGE_OR_IO;
    if (!Validate(opt, sources, out, err))
        return EXIT_INVALID_SOURCE;
    const std::vector<RowWarnings> warnings = sources.Warnings();
    WriteResult result = WriteLibrary(opt.output, sources, opt.buildProgress, TargetRules(opt));
    if (!result.status.ok()) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::CannotWriteLibrary, Refusal(result.status)))
            << "\n";
        return EXIT_USAGE_OR_IO;
    }
    const BuildSummary& s = result.summary;
    std::uint64_t audio = 0;
    for (int i = 0; i < s.entries; ++i)
        audio += s.sizes[static_cast<std::size_t>(i)];
    if (opt.json) {
        JsonObjectStream json(out);
        json.Member("entries", s.entries);
        json.Member("ok", s.ok);
        json.Member("failed", s.failed);
        json.Member("left_out", s.leftOut);
        json.Member("bytes", s.bytes);
        json.Member("seconds", Duration(audio));
        JsonRejected(json, "failed_items", s.failures);
        JsonWarnings(json, warnings);
        json.End();
    } else {
        PrintWarnings(warnings, err);
        out << BuildSummaryMessage(s) << "\n" << LibraryTotalsMessage(s.bytes, audio) << "\n";
        for (const RejectedSource& f : s.failures)
            err << FailedSourceLine(f) << "\n";
    }
    const std::vector<MapEntry> entries = FirmwareMapEntries(rows, s, opt.prefix);
    const std::vector<MapTarget> targets = MapTargets(opt);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const MapTarget& t = targets[i];
        const std::string text =
            t.header ? FirmwareHeaderText(entries, opt.prefix, t.path, opt.output) : FirmwareMapCsv(entries);
        AtomicFile& file = *mapFiles[i];
        IoStatus status = file.Write(text.data(), text.size());
        if (status.ok())
            status = file.Commit();
        if (!status.ok()) {
            err << Message(Msg::CommandError, opt.name, Message(Msg::MapNotWritten, Refusal(status))) << "\n";
            return EXIT_USAGE_OR_IO;
        }
        if (!opt.json)
            out << Message(t.header ? Msg::HeaderWritten : Msg::MapWritten, t.path) << "\n";
    }
    return s.failed > 0 ? EXIT_SOURCES_FAILED : EXIT_DONE;
}

int RunCheck(Options& opt, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> paths;
    if (!CollectSources(opt, &paths, err))
        return EXIT_USAGE_OR_IO;
    const BuildSources sources(std::move(paths));
    const std::vector<RejectedSource> rejected = sources.Invalid();
    const std::vector<RowWarnings> warnings = sources.Warnings();
    const int checked = sources.Count();
    const int leftOut = static_cast<int>(sources.Rows()) - checked;
    if (opt.json) {
        JsonObjectStream json(out);
        json.Member("checked", checked);
        json.Member("left_out", leftOut);
        JsonRejected(json, "invalid", rejected);
        JsonWarnings(json, warnings);
        json.End();
    } else {
        for (const RejectedSource& r : rejected)
            err << RejectedSourceMessage(r) << "\n";
        PrintWarnings(warnings, err);
        if (rejected.empty())
            out << Message(Msg::CheckPassed, checked) << "\n";
        else
            out << Message(Msg::CheckFailed, checked, rejected.size()) << "\n";
        if (leftOut > 0)
            out << LeftOutMessage(leftOut) << "\n";
    }
    return rejected.empty() ? EXIT_DONE : EXIT_INVALID_SOURCE;
}

bool OneInput(const Options& opt, Msg what, std::ostream& err)
{
    if (opt.inputs.size() == 1)
        return true;
    err << Message(Msg::CommandError, opt.name,
                   Message(Msg::ExpectedOne, MessageText(what), opt.inputs.size()))
        << "\n";
    return false;
}

bool ReadIndex(const Options& opt, LibraryIndex* index, std::ostream& err)
{
    if (!OneInput(opt, Msg::ValueLibraryFile, err))
        return false;
    Result<LibraryIndex> read = ReadLibraryIndex(opt.inputs[0]);
    if (!read.ok()) {
        err << Message(Msg::CommandError, opt.name, read.message()) << "\n";
        return false;
    }
    *index = std::move(*read);
    return true;
}

std::string Seconds(std::uint64_t bytes)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", Duration(bytes));
    return buf;
}

int RunInfo(Options& opt, std::ostream& out, std::ostream& err)
{
    LibraryIndex index;
    if (!ReadIndex(opt, &index, err))
        return EXIT_USAGE_OR_IO;
    std::uint64_t total = 0;
    for (auto size : index.sizes)
        total += size;
    if (opt.json) {
        JsonObjectStream json(out);
        json.Member("entries", index.sizes.size());
        json.Member("file_bytes", index.fileSize);
        json.Member("audio_bytes", total);
        json.Member("seconds", Duration(total));
        json.BeginArray("items");
        for (std::size_t i = 0; i < index.sizes.size(); ++i)
            json.Item({{"index", i},
                       {"offset", index.offsets[i]},
                       {"size", index.sizes[i]},
                       {"seconds", Duration(index.sizes[i])}});
        json.EndArray();
        json.End();
        return EXIT_DONE;
    }
    out << Message(Msg::InfoEntries, index.sizes.size()) << "\n";
    out << MessageText(Msg::InfoHeading) << "\n";
    for (std::size_t i = 0; i < index.sizes.size(); ++i)
        out << i << "\t" << index.offsets[i] << "\t" << index.sizes[i] << "\t" << Seconds(index.sizes[i])
            << "\n";
    out << Message(Msg::InfoTotal, total, Seconds(total), index.fileSize) << "\n";
    return EXIT_DONE;
}

int RunExtract(Options& opt, std::ostream& out, std::ostream& err)
{
    LibraryIndex index;
    if (!ReadIndex(opt, &index, err))
        return EXIT_USAGE_OR_IO;
    IoStatus status = ExtractLibrary(opt.inputs[0], index, opt.output, TargetRules(opt));
    if (!status.ok()) {
        err << Message(Msg::CommandError, opt.name, Refusal(status)) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    out << Message(Msg::Extracted, index.sizes.size(), opt.output) << "\n";
    return EXIT_DONE;
}

// A diff entry's status in the words of its line.
std::string DiffStatusText(const DiffEntry& e)
{
    switch (e.status) {
    case DiffStatus::Identical:
        return MessageText(Msg::DiffIdentical);
    case DiffStatus::Changed:
        return MessageText(Msg::DiffChanged);
    case DiffStatus::Moved:
        return Message(Msg::DiffMovedFrom, e.movedFrom);
    case DiffStatus::Added:
        return MessageText(Msg::DiffAdded);
    case DiffStatus::Removed:
        return MessageText(Msg::DiffRemoved);
    }
    return {};
}

// index, status, size and seconds of each side ("-" where it has no such
// entry), then the row's path of each side that is a list.
std::string DiffLine(const DiffEntry& e, const DiffSide& a, const DiffSide& b)
{
    std::string line = std::to_string(e.index) + "\t" + DiffStatusText(e);
    for (const std::optional<std::uint32_t>& size : {e.sizeA, e.sizeB})
        line += size ? "\t" + std::to_string(*size) + "\t" + Seconds(*size) : "\t-\t-";
    if (a.IsList())
        line += "\t" + (e.sizeA ? a.GetSource(e.index) : "-");
    if (b.IsList())
        line += "\t" + (e.sizeB ? b.GetSource(e.index) : "-");
    return line;
}

Json DiffSideJson(const std::optional<std::uint32_t>& size, const DiffSide& side, int index)
{
    if (!size)
        return nullptr;
    Json item = {{"size", *size}, {"seconds", Duration(*size)}};
    if (side.IsList())
        item["path"] = side.GetSource(index);
    return item;
}

Json DiffJson(const DiffEntry& e, const DiffSide& a, const DiffSide& b)
{
    Json item = {{"index", e.index}, {"status", DiffStatusCode(e.status)}};
    if (e.status == DiffStatus::Moved)
        item["moved_from"] = e.movedFrom;
    item["a"] = DiffSideJson(e.sizeA, a, e.index);
    item["b"] = DiffSideJson(e.sizeB, b, e.index);
    return item;
}

int RunDiff(Options& opt, std::ostream& out, std::ostream& err)
{
    if (opt.inputs.size() != 2) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::DiffWantsTwo, opt.inputs.size())) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    std::optional<RejectedSource> rejected;
    auto fail = [&](const Error& error) {
        if (rejected)
            err << RejectedSourceMessage(*rejected) << "\n";
        else
            err << Message(Msg::CommandError, opt.name, error.message()) << "\n";
        return EXIT_USAGE_OR_IO;
    };
    Result<DiffSide> a = DiffSide::Open(opt.inputs[0], &rejected);
    if (!a)
        return fail(a.error());
    Result<DiffSide> b = DiffSide::Open(opt.inputs[1], &rejected);
    if (!b)
        return fail(b.error());
    Result<LibraryDiff> diff = LibraryDiff::Compare(*a, *b, &rejected);
    if (!diff)
        return fail(diff.error());

    // Each entry is written as it is known, the JSON array too.
    if (opt.json)
        out << "{\"identical\":" << (diff->IsIdentical() ? "true" : "false") << ",\"entries\":[";
    bool first = true;
    Result<DiffTotals> totals = diff->Report(
        [&](const DiffEntry& e) {
            if (e.status == DiffStatus::Identical && !opt.all)
                return;
            if (opt.json)
                out << (first ? "" : ",") << JsonText(DiffJson(e, *a, *b));
            else
                out << DiffLine(e, *a, *b) << "\n";
            first = false;
        },
        &rejected);
    if (!totals)
        return fail(totals.error());
    const DiffTotals& t = *totals;
    if (opt.json)
        out << "]}\n";
    else if (diff->IsIdentical())
        out << Message(Msg::DiffSame, t.identical) << "\n";
    else
        out << Message(Msg::DiffDiffers, t.changed, t.moved, t.added, t.removed, t.identical) << "\n";
    return diff->IsIdentical() ? EXIT_DONE : EXIT_DIFFERENT;
}

int RunShow(Options& opt, std::ostream& out, std::ostream& err)
{
    if (!OneInput(opt, Msg::ValueListFile, err))
        return EXIT_USAGE_OR_IO;
    Result<std::vector<std::string>> read = ReadListFile(opt.inputs[0]);
    if (!read.ok()) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::CannotReadList, read.message())) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    const std::vector<std::string>& rows = *read;
    if (opt.json) {
        // The rows as they stand, and the files they name from here.
        const std::string folder = ListFolder(opt.inputs[0]);
        JsonObjectStream json(out);
        json.Member("count", rows.size());
        json.BeginArray("rows");
        for (const std::string& row : rows)
            json.Item(row);
        json.EndArray();
        json.Member("folder", folder);
        json.BeginArray("resolved");
        for (const std::string& row : rows)
            json.Item(ResolvePath(folder, row));
        json.EndArray();
        json.End();
    } else {
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << i << "\t" << rows[i] << "\n";
    }
    return EXIT_DONE;
}

int RunExport(Options& opt, std::ostream& out, std::ostream& err)
{
    if (opt.inputs.empty()) {
        err << Message(Msg::CommandError, opt.name, MessageText(Msg::NoFiles)) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    IoStatus status = WriteListFile(opt.output, opt.inputs, TargetRules(opt));
    if (!status.ok()) {
        err << Message(Msg::CommandError, opt.name, Message(Msg::CannotSaveList, Refusal(status))) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    out << SaveDoneMessage() << "\n";
    return EXIT_DONE;
}

// Options that several commands share.
void DeclareOutput(CLI::App& command, Options& opt, const char* what, const char* description)
{
    command.add_option("-o,--output", opt.output, description)
        ->type_name(what)
        ->required()
        ->check(NotEmpty(Msg::ValueFileName));
}

void DeclareJson(CLI::App& command, Options& opt)
{
    command.add_flag("--json", opt.json, MessageText(Msg::HelpJson));
}

void DeclareForce(CLI::App& command, Options& opt, const char* description)
{
    command.add_flag("--force", opt.force, description);
}

void DeclareBuild(CLI::App& command, Options& opt)
{
    DeclareOutput(command, opt, "OUT.bin", MessageText(Msg::HelpOutLibrary));
    DeclareJson(command, opt);
    DeclareForce(command, opt, MessageText(Msg::HelpForceRiff));
    command.add_option("--header", opt.header, MessageText(Msg::HelpHeader))
        ->type_name("FILE.h")
        ->check(NotEmpty(Msg::ValueFileName));
    command.add_option("--map", opt.map, MessageText(Msg::HelpMap))
        ->type_name("FILE.csv")
        ->check(NotEmpty(Msg::ValueFileName));
    command.add_option("--prefix", opt.prefix, MessageText(Msg::HelpPrefix))->type_name("NAME");
    command.footer(Paragraphs(Msg::HelpBuildDetails));
}

void DeclareCheck(CLI::App& command, Options& opt)
{
    DeclareJson(command, opt);
    command.footer(Paragraphs(Msg::HelpCheckDetails));
}

void DeclareInfo(CLI::App& command, Options& opt)
{
    DeclareJson(command, opt);
    command.footer(Paragraphs(Msg::HelpInfoDetails));
}

void DeclareExtract(CLI::App& command, Options& opt)
{
    DeclareOutput(command, opt, "DIR", MessageText(Msg::HelpOutFolder));
    DeclareForce(command, opt, MessageText(Msg::HelpForceExtract));
    command.footer(Paragraphs(Msg::HelpExtractDetails));
}

void DeclareShow(CLI::App& command, Options& opt)
{
    DeclareJson(command, opt);
    command.footer(Paragraphs(Msg::HelpShowDetails));
}

void DeclareExport(CLI::App& command, Options& opt)
{
    DeclareOutput(command, opt, "LIST.ini", MessageText(Msg::HelpOutList));
    DeclareForce(command, opt, MessageText(Msg::HelpForceRiff));
    command.footer(Paragraphs(Msg::HelpExportDetails));
}

void DeclareDiff(CLI::App& command, Options& opt)
{
    DeclareJson(command, opt);
    command.add_flag("--all", opt.all, MessageText(Msg::HelpAll));
    command.footer(Paragraphs(Msg::HelpDiffDetails));
}

struct Command
{
    const char* name;
    const char* operands; // what follows the options in the usage line
    Msg summary;
    void (*declare)(CLI::App& command, Options& opt);
    int (*run)(Options& opt, std::ostream& out, std::ostream& err);
    // What the options alone cannot check; an error to show with the usage.
    std::string (*check)(Options& opt) = nullptr;
};

const Command COMMANDS[] = {
    {"build", "(FILE.wav... | LIST.ini)", Msg::CmdBuild, DeclareBuild, RunBuild},
    {"check", "(FILE.wav... | LIST.ini)", Msg::CmdCheck, DeclareCheck, RunCheck},
    {"info", "LIB.bin", Msg::CmdInfo, DeclareInfo, RunInfo},
    {"extract", "LIB.bin", Msg::CmdExtract, DeclareExtract, RunExtract},
    {"show", "LIST.ini", Msg::CmdShow, DeclareShow, RunShow},
    {"diff", "A B", Msg::CmdDiff, DeclareDiff, RunDiff},
    {"export", "FILE.wav...", Msg::CmdExport, DeclareExport, RunExport},
    {"convert", "FILE...", Msg::CmdConvert,
     [](CLI::App& command, Options& opt) { DeclareConvert(command, opt.convert); },
     [](Options& opt, std::ostream& out, std::ostream& err) { return RunConvert(opt.convert, out, err); },
     [](Options& opt) { return CheckConvert(opt.convert); }},
    {"speak", "SCRIPT.csv", Msg::CmdSpeak,
     [](CLI::App& command, Options& opt) { DeclareSpeak(command, opt.speak); },
     [](Options& opt, std::ostream& out, std::ostream& err) { return RunSpeak(opt.speak, out, err); },
     [](Options& opt) { return CheckSpeak(opt.speak); }},
};

const Command* FindCommand(const std::string& name)
{
    for (const Command& c : COMMANDS)
        if (name == c.name)
            return &c;
    return nullptr;
}

std::string OptionName(const CLI::Option& option)
{
    return option.get_snames().empty() ? "--" + option.get_lnames().front()
                                       : "-" + option.get_snames().front();
}

// Help in the shape of the usage line, the options and the command's notes.
class HelpFormatter : public CLI::Formatter
{
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override
    {
        std::ostringstream text;
        const Command* command = FindCommand(app->get_name());
        if (!app->get_parent() || !command) {
            text << MessageText(Msg::HelpUsage) << " voicelib " << MessageText(Msg::HelpMainOperands)
                 << "\n\n"
                 << app->get_description() << "\n\n"
                 << MessageText(Msg::HelpCommands) << "\n";
            for (const Command& c : COMMANDS)
                text << "  " << std::left << std::setw(9) << c.name << MessageText(c.summary) << "\n";
            text << "\n" << app->get_footer();
            return text.str();
        }
        text << MessageText(Msg::HelpUsage) << " voicelib " << command->name;
        bool optional = false;
        for (const CLI::Option* option : app->get_options()) {
            if (option->get_required())
                text << " " << OptionName(*option) << " " << option->get_type_name();
            else
                optional = true;
        }
        text << (optional ? std::string(" ") + MessageText(Msg::HelpOptionsMark) + " " : std::string(" "))
             << command->operands << "\n\n"
             << app->get_description() << ".\n\n"
             << MessageText(Msg::HelpOptions) << "\n";
        for (const CLI::Option* option : app->get_options()) {
            std::string names = option->get_name(false, true);
            for (std::size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2))
                names.replace(at, 1, ", ");
            const std::string type = option->get_type_name();
            if (!type.empty())
                names += (type.front() == '[' ? "" : " ") + type;
            std::string description = option->get_description();
            for (std::size_t at = description.find('\n'); at != std::string::npos;
                 at = description.find('\n', at + 1))
                description.insert(at + 1, 26, ' ');
            text << "  " << std::left << std::setw(24) << names << description << "\n";
        }
        text << "\n" << app->get_footer();
        return text.str();
    }
};

// Why value fails one of option's validators, or "" when it passes them all.
std::string FailedCheck(CLI::Option& option, std::string value)
{
    for (int i = 0;; ++i) {
        const CLI::Validator* validator = nullptr;
        try {
            validator = option.get_validator(i);
        } catch (const CLI::OptionNotFound&) {
            return {};
        }
        if (std::string why = (*validator)(value); !why.empty())
            return why;
    }
}

// A parse error as this tool words it: which option is wrong is found from
// the error's type, the options' state and the arguments, never from the
// error's text, which is CLI11's English.
std::string Reason(const CLI::ParseError& error, CLI::App& command, const std::vector<std::string>& args)
{
    if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        for (const CLI::Option* option : command.get_options())
            if (option->get_required() && option->count() == 0)
                return Message(Msg::MissingOption, OptionName(*option));
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        for (const CLI::Option* option : command.get_options())
            if (option->get_expected_min() > 0 && option->count() > 1)
                return Message(Msg::OptionGivenTwice, OptionName(*option));
        // An option that wants a value, last or followed by another option.
        for (std::size_t i = 1; i < args.size(); ++i) {
            const CLI::Option* option = command.get_option_no_throw(args[i]);
            const bool valueFollows = i + 1 < args.size() && !command.get_option_no_throw(args[i + 1]);
            if (option && option->get_expected_min() > 0 && !valueFollows)
                return Message(Msg::OptionNeeds, OptionName(*option), ValueNoun(*option));
        }
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        for (CLI::Option* option : command.get_options())
            for (const std::string& value : option->results())
                if (std::string why = FailedCheck(*option, value); !why.empty())
                    return Message(Msg::OptionInvalid, OptionName(*option), why);
    }
    return Message(Msg::ArgumentsNotUnderstood, error.what());
}

// CLI11 takes "--name=" as "--name" and the next argument as its value; here
// it is the empty value it says. Arguments after "--" are files, whatever they
// look like, and stay out of the parser.
void SplitArguments(const CLI::App& command, const std::vector<std::string>& args,
                    std::vector<std::string>* options, std::vector<std::string>* files)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            files->assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            return;
        }
        const CLI::Option* option = nullptr;
        if (a.size() > 3 && a.rfind("--", 0) == 0 && a.back() == '=')
            option = command.get_option_no_throw(a.substr(0, a.size() - 1));
        if (option && option->get_expected_min() > 0) {
            options->push_back(a.substr(0, a.size() - 1));
            options->push_back({});
        } else {
            options->push_back(a);
        }
    }
}

} // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const BuildProgress& buildProgress)
{
    Options opt;
    CLI::App app(MessageText(Msg::HelpAbout), "voicelib");
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("-h,--help", MessageText(Msg::HelpFlag));
    app.footer(Paragraphs(Msg::HelpAboutFooter));
    app.require_subcommand(1);
    for (const Command& c : COMMANDS) {
        CLI::App* command = app.add_subcommand(c.name, MessageText(c.summary));
        // Files are what no option takes: see below.
        command->allow_extras();
        c.declare(*command, opt);
    }
    if (args.empty()) {
        err << app.help();
        return EXIT_USAGE_OR_IO;
    }
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        out << app.help();
        return EXIT_DONE;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        out << VersionMessage("voicelib") << "\n";
        return EXIT_DONE;
    }
    const Command* cmd = FindCommand(args[0]);
    if (!cmd) {
        err << Message(Msg::UnknownCommand, args[0]) << "\n" << Message(Msg::SeeHelp) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    CLI::App& command = *app.get_subcommand(cmd->name);
    opt.name = cmd->name;
    // The reason and where the usage is; the whole help would bury the reason.
    auto usageError = [&](const std::string& why) {
        err << Message(Msg::CommandError, opt.name, why) << "\n"
            << Message(Msg::SeeCommandHelp, opt.name) << "\n";
        return EXIT_USAGE_OR_IO;
    };
    std::vector<std::string> options = {args[0]};
    std::vector<std::string> files;
    SplitArguments(command, args, &options, &files);
    std::reverse(options.begin(), options.end());
    try {
        app.parse(options);
    } catch (const CLI::CallForHelp&) {
        out << command.help();
        return EXIT_DONE;
    } catch (const CLI::ParseError& e) {
        return usageError(Reason(e, command, args));
    }
    // What no option took is a file, unless it looks like an option.
    std::vector<std::string> inputs;
    for (const std::string& a : command.remaining()) {
        if (a.size() > 1 && a[0] == '-')
            return usageError(Message(Msg::UnknownOption, a));
        inputs.push_back(a);
    }
    inputs.insert(inputs.end(), files.begin(), files.end());
    opt.inputs = inputs;
    opt.convert.inputs = inputs;
    opt.speak.inputs = inputs;
    if (cmd->check) {
        if (std::string why = cmd->check(opt); !why.empty())
            return usageError(why);
    }
    opt.buildProgress = buildProgress;
    return cmd->run(opt, out, err);
}

} // namespace voicelib::cli
