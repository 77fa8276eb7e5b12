#include "cli/cli.h"

#include "cli/convert.h"
#include "cli/json.h"
#include "core/firmware_map.h"
#include "core/library.h"
#include "core/list_file.h"
#include "core/messages.h"
#include "core/source_info.h"
#include "core/voice_list.h"
#include "core/wave.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

namespace voicelib::cli {

namespace {

const char* const kUsage = R"(usage: voicelib COMMAND [ARGS...]

Packs A-law WAVE voice prompts into a voice library (.bin) and works with
voice list files (.ini).

commands:
  build    -o OUT.bin (FILE.wav... | LIST.ini) [--json] [--force]   build a library
           [--header FILE.h] [--map FILE.csv] [--prefix NAME]      ... and its map for firmware
  check    (FILE.wav... | LIST.ini) [--json]                        validate sources only
  info     LIB.bin [--json]                                         describe a library
  extract  LIB.bin -o DIR [--force]                                 write every entry as a WAVE file
  show     LIST.ini [--json]                                        print a voice list file's rows
  export   -o LIST.ini FILE.wav... [--force]                        write a voice list file
  convert  [-o DIR] FILE... [--force]                               any audio to 8 kHz mono A-law WAVE

Run 'voicelib COMMAND --help' for details of one command.
Results go to stdout, messages (a rejected source and why) to stderr.
exit codes: 0 done, 1 a source failed validation, 2 usage or I/O error,
            3 library written but some sources could not be copied
)";

struct Options
{
    std::string name;
    bool json = false;
    bool force = false;
    bool help = false;
    bool hasOutput = false;
    std::vector<std::string> args; // for commands that read their own options
    std::string output;
    std::vector<std::string> inputs;
    BuildProgress buildProgress;
    std::string header; // build: the C header to write, if any
    std::string map;    // build: the CSV map to write, if any
    std::string prefix = DEFAULT_MAP_PREFIX;
};

struct Command
{
    const char* help;
    bool takesJson;
    bool takesOutput;
    bool takesForce;
    std::function<int(Options&, std::ostream&, std::ostream&)> run;
    bool takesMap = false;   // --header, --map, --prefix
    bool ownOptions = false; // parses its own arguments
};

// "--name VALUE" or "--name=VALUE" at args[*i]; advances *i past a separate value.
bool ValueOption(const std::vector<std::string>& args, std::size_t* i, const std::string& name,
                 std::string* value, std::string* error)
{
    const std::string& a = args[*i];
    if (a.rfind(name + "=", 0) == 0)
        *value = a.substr(name.size() + 1);
    else if (a != name)
        return false;
    else if (*i + 1 < args.size())
        *value = args[++*i];
    else
        value->clear();
    // Only the prefix may be empty.
    if (value->empty() && name != "--prefix")
        *error = "option " + name + " needs a file name";
    return true;
}

bool ParseOptions(const std::vector<std::string>& args, const Command& cmd, Options* opt, std::string* error)
{
    bool onlyFiles = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            opt->inputs.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-h" || a == "--help") {
            opt->help = true;
        } else if (a == "--json" && cmd.takesJson) {
            opt->json = true;
        } else if (a == "--force" && cmd.takesForce) {
            opt->force = true;
        } else if ((a == "-o" || a == "--output") && cmd.takesOutput) {
            if (i + 1 >= args.size()) {
                *error = "option " + a + " needs a file name";
                return false;
            }
            if (opt->hasOutput) {
                *error = "option -o given twice";
                return false;
            }
            opt->hasOutput = true;
            opt->output = args[++i];
        } else if (a.rfind("--output=", 0) == 0 && cmd.takesOutput) {
            opt->hasOutput = true;
            opt->output = a.substr(9);
        } else if (cmd.takesMap && (ValueOption(args, &i, "--header", &opt->header, error) ||
                                    ValueOption(args, &i, "--map", &opt->map, error) ||
                                    ValueOption(args, &i, "--prefix", &opt->prefix, error))) {
            if (!error->empty())
                return false;
        } else {
            *error = "unknown option '" + a + "'";
            return false;
        }
    }
    if (!opt->help && cmd.takesOutput && (!opt->hasOutput || opt->output.empty())) {
        *error = "missing -o";
        return false;
    }
    return true;
}

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
// resolved against the list file's folder.
bool CollectSources(const Options& opt, std::vector<std::string>* paths, std::ostream& err)
{
    if (opt.inputs.empty()) {
        err << "voicelib " << opt.name << ": no source files given\n";
        return false;
    }
    if (!EndsWithIni(opt.inputs[0])) {
        *paths = opt.inputs;
        return true;
    }
    if (opt.inputs.size() > 1) {
        err << "voicelib " << opt.name << ": a voice list file takes no further files\n";
        return false;
    }
    IoStatus status = ReadListFile(opt.inputs[0], paths);
    if (!status.ok()) {
        err << "voicelib " << opt.name << ": cannot read voice list " << status.message() << "\n";
        return false;
    }
    if (paths->empty()) {
        err << "voicelib " << opt.name << ": the voice list " << opt.inputs[0] << " has no rows\n";
        return false;
    }
    const std::string folder = ListFolder(opt.inputs[0]);
    for (std::string& path : *paths)
        path = ResolvePath(folder, path);
    return true;
}

// {"index":..,"path":..,"problem":..,"reason":..}
std::string JsonRejected(const RejectedSource& r)
{
    return "{\"index\":" + std::to_string(r.index) + ",\"path\":" + JsonString(r.path) +
           ",\"problem\":" + JsonString(SourceProblemCode(r.verdict.problem)) +
           ",\"reason\":" + JsonString(SourceProblemText(r.verdict)) + "}";
}

std::string JsonRejectedList(const std::vector<RejectedSource>& list)
{
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i)
        out += (i ? "," : "") + JsonRejected(list[i]);
    return out + "]";
}

// Reports the first invalid source, if any; returns whether all passed.
bool Validate(const Options& opt, const std::vector<std::string>& paths, std::ostream& out, std::ostream& err)
{
    SourceVerdict why;
    int bad = FindFirstInvalidSource(paths, &why);
    if (bad < 0)
        return true;
    const RejectedSource rejected{bad, paths[static_cast<std::size_t>(bad)], why};
    if (opt.json)
        out << "{\"invalid_index\":" << bad << ",\"invalid_path\":" << JsonString(rejected.path)
            << ",\"problem\":" << JsonString(SourceProblemCode(why.problem))
            << ",\"reason\":" << JsonString(SourceProblemText(why)) << "}\n";
    else
        err << RejectedSourceMessage(rejected) << "\n";
    return false;
}

// The target rules' verdict, with the way round it where there is one.
std::string Refusal(const IoStatus& status)
{
    return status.message() + (status.forceable() ? " (--force overrides this)" : "");
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

std::string Seconds(std::uint64_t bytes);

// Accepted sources the device would play wrongly, on stderr.
void PrintWarnings(const std::vector<RowWarnings>& rows, std::ostream& err)
{
    for (const RowWarnings& r : rows)
        err << SourceWarningMessage(r) << "\n";
    if (!rows.empty())
        err << SourceWarningCountMessage(static_cast<int>(rows.size())) << "\n";
}

// [{"index","path","kind","value","message"}], partial blocks with "milliseconds".
std::string JsonWarnings(const std::vector<RowWarnings>& rows)
{
    std::string json = "[";
    for (const RowWarnings& r : rows) {
        for (const SourceWarning& w : r.warnings) {
            json += (json.size() > 1 ? ",{\"index\":" : "{\"index\":") + std::to_string(r.index) +
                    ",\"path\":" + JsonString(r.path) + ",\"kind\":" + JsonString(SourceWarningCode(w.kind)) +
                    ",\"value\":" + std::to_string(w.value);
            if (w.kind == SourceWarningKind::PartialBlock) {
                char ms[32];
                std::snprintf(ms, sizeof ms, "%.3f", w.value * 1000.0 / DEVICE_SAMPLE_RATE);
                json += std::string(",\"milliseconds\":") + ms;
            }
            json += ",\"message\":" + JsonString(SourceWarningText(w)) + "}";
        }
    }
    return json + "]";
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

bool SamePath(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec)
        return a == b;
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return ec ? a == b : ca == cb;
}

// The rules for the header and the map: those of the library, and neither
// replaces a source nor the library.
WriteOptions MapRules(const Options& opt, const std::vector<std::string>& paths)
{
    WriteOptions rules = TargetRules(opt);
    const std::size_t n = std::min<std::size_t>(paths.size(), MAX_LIBRARY_ENTRIES);
    rules.sources.insert(rules.sources.end(), paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(n));
    rules.sources.push_back(opt.output);
    return rules;
}

// Opens the header and the map before anything is written, so that one the
// build could not write stops it; they are filled once the library is written.
bool OpenMapTargets(const Options& opt, const std::vector<std::string>& paths,
                    std::vector<std::unique_ptr<AtomicFile>>* files, std::ostream& err)
{
    const std::vector<MapTarget> targets = MapTargets(opt);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (SamePath(targets[i].path, opt.output)) {
            err << "voicelib build: " << targets[i].option << " names the library itself: " << opt.output
                << "\n";
            return false;
        }
        if (i > 0 && SamePath(targets[i].path, targets[0].path)) {
            err << "voicelib build: --header and --map name the same file: " << targets[i].path << "\n";
            return false;
        }
    }
    for (const MapTarget& t : targets) {
        files->push_back(std::make_unique<AtomicFile>(t.path, MapRules(opt, paths)));
        if (IoStatus s = files->back()->Open(); !s.ok()) {
            err << "voicelib build: cannot write " << Refusal(s) << "\n";
            return false;
        }
    }
    return true;
}

int RunBuild(Options& opt, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> paths;
    if (!CollectSources(opt, &paths, err))
        return EXIT_USAGE_OR_IO;
    std::vector<std::unique_ptr<AtomicFile>> mapFiles;
    if (!OpenMapTargets(opt, paths, &mapFiles, err))
        return EXIT_USAGE_OR_IO;
    if (!Validate(opt, paths, out, err))
        return EXIT_INVALID_SOURCE;
    const std::vector<RowWarnings> warnings = FindSourceWarnings(paths);
    WriteResult result = WriteLibrary(opt.output, paths, opt.buildProgress, TargetRules(opt));
    if (!result.status.ok()) {
        err << "voicelib build: cannot write the library " << Refusal(result.status) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    const BuildSummary& s = result.summary;
    std::uint64_t audio = 0;
    for (int i = 0; i < s.entries; ++i)
        audio += s.sizes[static_cast<std::size_t>(i)];
    if (opt.json) {
        out << "{\"entries\":" << s.entries << ",\"ok\":" << s.ok << ",\"failed\":" << s.failed
            << ",\"left_out\":" << s.leftOut << ",\"bytes\":" << s.bytes << ",\"seconds\":" << Seconds(audio)
            << ",\"failed_items\":" << JsonRejectedList(s.failures)
            << ",\"warnings\":" << JsonWarnings(warnings) << "}\n";
    } else {
        PrintWarnings(warnings, err);
        out << BuildSummaryMessage(s) << "\n" << LibraryTotalsMessage(s.bytes, audio) << "\n";
        for (const RejectedSource& f : s.failures)
            err << FailedSourceLine(f) << "\n";
    }
    const std::vector<MapEntry> entries = FirmwareMapEntries(paths, s, opt.prefix);
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
            err << "voicelib build: the library was written, but not " << Refusal(status) << "\n";
            return EXIT_USAGE_OR_IO;
        }
    }
    return s.failed > 0 ? EXIT_SOURCES_FAILED : EXIT_DONE;
}

int RunCheck(Options& opt, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> paths;
    if (!CollectSources(opt, &paths, err))
        return EXIT_USAGE_OR_IO;
    const std::vector<RejectedSource> rejected = FindInvalidSources(paths);
    const std::vector<RowWarnings> warnings = FindSourceWarnings(paths);
    int checked = std::min<int>(static_cast<int>(paths.size()), MAX_LIBRARY_ENTRIES);
    int leftOut = static_cast<int>(paths.size()) - checked;
    if (opt.json) {
        out << "{\"checked\":" << checked << ",\"left_out\":" << leftOut
            << ",\"invalid\":" << JsonRejectedList(rejected) << ",\"warnings\":" << JsonWarnings(warnings)
            << "}\n";
    } else {
        for (const RejectedSource& r : rejected)
            err << RejectedSourceMessage(r) << "\n";
        PrintWarnings(warnings, err);
        if (rejected.empty())
            out << "检查通过,共计" << checked << "个文件.\n";
        else
            out << "检查未通过,共计" << checked << "个文件,其中" << rejected.size() << "个无效.\n";
        if (leftOut > 0)
            out << LeftOutMessage(leftOut) << "\n";
    }
    return rejected.empty() ? EXIT_DONE : EXIT_INVALID_SOURCE;
}

bool OneInput(const Options& opt, const char* what, std::ostream& err)
{
    if (opt.inputs.size() == 1)
        return true;
    err << "voicelib " << opt.name << ": expected one " << what << ", got " << opt.inputs.size() << "\n";
    return false;
}

bool ReadIndex(const Options& opt, LibraryIndex* index, std::ostream& err)
{
    if (!OneInput(opt, "library file", err))
        return false;
    IoStatus status = ReadLibraryIndex(opt.inputs[0], index);
    if (!status.ok()) {
        err << "voicelib " << opt.name << ": " << status.message() << "\n";
        return false;
    }
    return true;
}

std::string Seconds(std::uint64_t bytes)
{
    // 8000 A-law samples a second, one byte each.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(bytes) / 8000.0);
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
        out << "{\"entries\":" << index.sizes.size() << ",\"file_bytes\":" << index.fileSize
            << ",\"audio_bytes\":" << total << ",\"seconds\":" << Seconds(total) << ",\"items\":[";
        for (std::size_t i = 0; i < index.sizes.size(); ++i) {
            out << (i ? "," : "") << "{\"index\":" << i << ",\"offset\":" << index.offsets[i]
                << ",\"size\":" << index.sizes[i] << ",\"seconds\":" << Seconds(index.sizes[i]) << "}";
        }
        out << "]}\n";
        return EXIT_DONE;
    }
    out << "entries: " << index.sizes.size() << "\n";
    out << "index\toffset\tsize\tseconds\n";
    for (std::size_t i = 0; i < index.sizes.size(); ++i)
        out << i << "\t" << index.offsets[i] << "\t" << index.sizes[i] << "\t" << Seconds(index.sizes[i])
            << "\n";
    out << "total: " << total << " bytes of audio, " << Seconds(total) << " s, file " << index.fileSize
        << " bytes\n";
    return EXIT_DONE;
}

int RunExtract(Options& opt, std::ostream& out, std::ostream& err)
{
    LibraryIndex index;
    if (!ReadIndex(opt, &index, err))
        return EXIT_USAGE_OR_IO;
    IoStatus status = ExtractLibrary(opt.inputs[0], index, opt.output, TargetRules(opt));
    if (!status.ok()) {
        err << "voicelib extract: " << Refusal(status) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    out << "extracted " << index.sizes.size() << " entries to " << opt.output << "\n";
    return EXIT_DONE;
}

int RunShow(Options& opt, std::ostream& out, std::ostream& err)
{
    if (!OneInput(opt, "voice list file", err))
        return EXIT_USAGE_OR_IO;
    std::vector<std::string> rows;
    IoStatus status = ReadListFile(opt.inputs[0], &rows);
    if (!status.ok()) {
        err << "voicelib show: cannot read voice list " << status.message() << "\n";
        return EXIT_USAGE_OR_IO;
    }
    if (opt.json) {
        // The rows as they stand, and the files they name from here.
        const std::string folder = ListFolder(opt.inputs[0]);
        out << "{\"count\":" << rows.size() << ",\"rows\":[";
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << (i ? "," : "") << JsonString(rows[i]);
        out << "],\"folder\":" << JsonString(folder) << ",\"resolved\":[";
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << (i ? "," : "") << JsonString(ResolvePath(folder, rows[i]));
        out << "]}\n";
    } else {
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << i << "\t" << rows[i] << "\n";
    }
    return EXIT_DONE;
}

int RunExport(Options& opt, std::ostream& out, std::ostream& err)
{
    if (opt.inputs.empty()) {
        err << "voicelib export: no files given\n";
        return EXIT_USAGE_OR_IO;
    }
    IoStatus status = WriteListFile(opt.output, opt.inputs, TargetRules(opt));
    if (!status.ok()) {
        err << "voicelib export: cannot save the voice list " << Refusal(status) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    out << SaveDoneMessage() << "\n";
    return EXIT_DONE;
}

const std::map<std::string, Command>& Commands()
{
    static const std::map<std::string, Command> commands = {
        {"build",
         {R"(usage: voicelib build -o OUT.bin FILE.wav... [--json] [--force]
       voicelib build -o OUT.bin LIST.ini [--json] [--force]
options: --header FILE.h  --map FILE.csv  --prefix NAME (default VOICE_)

Validates the first 1024 sources (RIFF WAVE, 18-byte fmt chunk, A-law) and
stops at the first rejected one, naming it and why on stderr (exit 1). Then
writes the library atomically: OUT.bin is either the old file or the complete
new one. Each source's header is checked again as it is copied; a source that
changed since (cut short, replaced, deleted) gets an empty entry and is named
on stderr (exit 3). A first argument ending in .ini is a voice list file whose
rows are the sources; relative rows are taken from the list file's folder.
The summary gives the library's bytes and seconds of
audio. With --json one JSON object is printed on stdout:
{"entries","ok","failed","left_out","bytes","seconds","failed_items":[{"index",
"path","problem","reason"}],"warnings"} or {"invalid_index","invalid_path",
"problem","reason"}.

Accepted sources the device would play wrongly are warned about on stderr
(and in "warnings": [{"index","path","kind","value","message"}]): a format
block other than 8000 Hz, mono, 8 bits (kind sample_rate, channels,
bits_per_sample), and audio that is not a whole number of 160-byte blocks
(partial_block: value is the bytes cut, with "milliseconds"). Warnings do
not change the exit code.

--header FILE.h writes a C header for firmware: enum PREFIXID with one
name per entry from its file stem (capitals; other characters as '_'; a
leading digit gets 'N'; clashes get _2, _3, ...), PREFIXCOUNT,
PREFIXLIBRARY_BYTES, and the tables PREFIXOFFSETS, PREFIXSIZES and
PREFIXDURATIONS_MS with accessors PREFIXOFFSET(i) and so on.
--map FILE.csv writes index,name,source,offset,size,seconds (RFC 4180).
Both are written atomically, only after the library was written, under the
same rules as OUT.bin; neither may be OUT.bin or a source.


OUT.bin is never one of the sources (or the list file), a folder, FIFO,
device or socket, or a write-protected file: such a build exits 2 and
changes nothing. An existing WAVE (RIFF) file is not replaced either, unless
--force is given. A symlink is followed; the file keeps its mode.
)",
          true, true, true, RunBuild, true}},
        {"check",
         {R"(usage: voicelib check FILE.wav... [--json]
       voicelib check LIST.ini [--json]

Validates the first 1024 sources as a build would, without writing anything,
and names every rejected one with its row number and why on stderr (exit 1).
It also warns on stderr about accepted sources the device would play wrongly
(see 'voicelib build --help'). With --json one JSON object is printed on stdout:
{"checked","left_out","invalid":[{"index","path","problem","reason"}],
"warnings"}.
)",
          true, false, false, RunCheck}},
        {"info",
         {R"(usage: voicelib info LIB.bin [--json]

Prints the entry count and each entry's offset, size and duration (8000 bytes
a second), after checking that the file is a consistent library.
)",
          true, false, false, RunInfo}},
        {"extract",
         {R"(usage: voicelib extract LIB.bin -o DIR [--force]

Writes entry i as DIR/iiii.wav (8 kHz mono A-law, canonical 58-byte header).
Building from the extracted files in order gives the same library.
All or nothing: exit 2 leaves DIR as it was. A folder that already holds
files is refused unless --force is given, which also removes the iiii.wav
files beyond the library's count. A symlink at iiii.wav is replaced, not
followed.
)",
          false, true, true, RunExtract}},
        {"show",
         {R"(usage: voicelib show LIST.ini [--json]

Prints a voice list file's rows as the window lists them: index TAB path.
With --json: {"count","rows","folder","resolved"}, where resolved holds the
file each row names (relative rows are taken from the list file's folder).
)",
          true, false, false, RunShow}},
        {"export",
         {R"(usage: voicelib export -o LIST.ini FILE.wav... [--force]

Writes the files as a voice list file (section ZuLibItem, ZuCount, D000...),
keeping every other line of an existing file byte for byte. Relative names
are written as given when LIST.ini is in the current folder, and as absolute
paths otherwise, so that each still names the same file. LIST.ini is never a
folder, FIFO, device, socket or write-protected file, nor (without --force) a
WAVE (RIFF) file; a symlink is followed.
)",
          false, true, true, RunExport}},
        {"convert",
         {kConvertHelp, true, false, true,
          [](Options& opt, std::ostream& out, std::ostream& err) { return RunConvert(opt.args, out, err); },
          false, true}},
    };
    return commands;
}

} // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const BuildProgress& buildProgress)
{
    if (args.empty()) {
        err << kUsage;
        return EXIT_USAGE_OR_IO;
    }
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        out << kUsage;
        return EXIT_DONE;
    }
    auto it = Commands().find(args[0]);
    if (it == Commands().end()) {
        err << "voicelib: unknown command '" << args[0] << "'\n" << kUsage;
        return EXIT_USAGE_OR_IO;
    }
    const Command& cmd = it->second;
    Options opt;
    opt.name = args[0];
    if (cmd.ownOptions) {
        opt.args.assign(args.begin() + 1, args.end());
        return cmd.run(opt, out, err);
    }
    std::string error;
    if (!ParseOptions(args, cmd, &opt, &error)) {
        err << "voicelib " << opt.name << ": " << error << "\n" << cmd.help;
        return EXIT_USAGE_OR_IO;
    }
    if (opt.help) {
        out << cmd.help;
        return EXIT_DONE;
    }
    opt.buildProgress = buildProgress;
    return cmd.run(opt, out, err);
}

} // namespace voicelib::cli
