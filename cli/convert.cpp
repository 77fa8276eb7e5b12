#include "cli/convert.h"

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/options.h"
#include "core/fileio.h"
#include "core/messages.h"
#include "media/convert.h"
#include "media/loader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <strings.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace voicelib::cli {

namespace {

// A number with an optional unit suffix ("-50dB", "-16", "-16LUFS").
bool ParseLevel(const std::string& text, const char* unit, double* value)
{
    std::string s = text;
    std::string u = unit;
    if (s.size() > u.size() && strcasecmp(s.c_str() + s.size() - u.size(), unit) == 0)
        s.resize(s.size() - u.size());
    if (s.empty())
        return false;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

// A level in unit within [low, high), the value left without its unit.
CLI::Validator Level(const char* unit, double low, double high, Msg wants)
{
    return CLI::Validator(
        [=](std::string& text) {
            double v = 0;
            if (!ParseLevel(text, unit, &v) || v < low || v >= high)
                return std::string(MessageText(wants));
            text = std::to_string(v);
            return std::string();
        },
        "");
}

} // namespace

void DeclareConvert(CLI::App& command, ConvertArgs& a)
{
    command.footer(Paragraphs(Msg::HelpConvertDetails));
    command.add_option("-o,--output", a.dir, MessageText(Msg::HelpConvertOutput))
        ->type_name("DIR")
        ->check(NotEmpty(Msg::ValueFolderName));
    command.add_flag_callback(
        "--no-pad", [&a] { a.options.pad = false; }, MessageText(Msg::HelpNoPad));
    command.add_flag("--trim", a.options.trim, MessageText(Msg::HelpTrim));
    command.add_option("--trim-threshold", a.options.trimThresholdDb, MessageText(Msg::HelpTrimThreshold))
        ->type_name("DB")
        ->transform(Level("dB", -120, 0, Msg::WantsLevelDb))
        ->each([&a](const std::string&) { a.options.trim = true; });
    command.add_flag("--normalize", a.normalize, MessageText(Msg::HelpNormalize))->type_name("[=LUFS]");
    command.add_flag("--keep-damaged", a.options.keepDamaged, MessageText(Msg::HelpKeepDamaged));
    command.add_flag("--force", a.options.write.force, MessageText(Msg::HelpForceNotAlaw));
    command.add_option("-j,--jobs", a.jobs, MessageText(Msg::HelpJobs))
        ->type_name("N")
        ->transform(CLI::Validator(
            [](std::string& text) {
                char* end = nullptr;
                const long n = std::strtol(text.c_str(), &end, 10);
                return text.empty() || *end != '\0' || n < 1 || n > 256
                           ? std::string(MessageText(Msg::WantsJobs))
                           : std::string();
            },
            ""));
    command.add_flag("--json", a.json, MessageText(Msg::HelpConvertJson));
}

std::string CheckConvert(ConvertArgs& a)
{
    if (a.inputs.empty())
        return MessageText(Msg::NoFiles);
    if (a.normalize.empty())
        return {};
    a.options.normalize = true;
    if (a.normalize == "true")
        return {};
    double lufs = 0;
    if (!ParseLevel(a.normalize, "LUFS", &lufs) || lufs < MIN_LOUDNESS_LUFS || lufs > MAX_LOUDNESS_LUFS)
        return MessageText(Msg::WantsLoudness);
    a.options.loudnessLufs = lufs;
    return {};
}

namespace {

std::string Fixed(double v, int digits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

} // namespace

int RunConvert(const ConvertArgs& a, std::ostream& out, std::ostream& err)
{
    const Result<const ConversionModule*> module = LoadConversionModule();
    if (!module) {
        err << Message(Msg::CommandError, "convert", module.message()) << "\n";
        return EXIT_USAGE_OR_IO;
    }
    // The folders this run makes, outermost first; gone again if nothing converts.
    std::vector<std::filesystem::path> made;
    for (std::filesystem::path p = a.dir;
         !p.empty() && !std::filesystem::exists(std::filesystem::symlink_status(p)); p = p.parent_path())
        made.insert(made.begin(), p);
    std::error_code ec;
    std::filesystem::create_directories(a.dir, ec);
    if (ec || !std::filesystem::is_directory(a.dir)) {
        struct stat st;
        const std::string why =
            ::stat(a.dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)
                ? Message(Msg::NotAFolderKind, KindOfFile(st.st_mode))
                : ErrorCodeText(ec ? ec : std::make_error_code(std::errc::not_a_directory));
        err << Message(Msg::CommandError, "convert", Message(Msg::FileError, a.dir, why)) << "\n";
        return EXIT_USAGE_OR_IO;
    }

    std::vector<ConvertJob> jobs;
    for (const auto& input : a.inputs)
        jobs.push_back({input, ConvertedName(a.dir, input)});
    ConvertOptions options = a.options;
    options.write.sources = a.inputs;

    // A progress line only where someone watches it.
    const bool showProgress = &err == &std::cerr && jobs.size() > 1 && ::isatty(STDERR_FILENO);
    BatchProgress progress;
    if (showProgress) {
        progress = [&err, shown = std::string()](double fraction, std::size_t done,
                                                 std::size_t total) mutable {
            std::string line = Message(Msg::ConvertProgress, done, total, static_cast<int>(fraction * 100));
            if (line != shown)
                err << "\r" << line << std::flush;
            shown = std::move(line);
            return true;
        };
    }
    std::vector<ConvertResult> results = (*module)->convertFiles(jobs, options, progress, a.jobs);
    if (showProgress)
        err << "\r\033[K" << std::flush;

    std::size_t failed = 0;
    for (const auto& r : results)
        failed += r.ok ? 0 : 1;
    if (failed == results.size()) {
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            std::filesystem::remove(*it, ec); // only while empty
    }

    if (a.json) {
        JsonObjectStream json(out);
        json.Member("converted", results.size() - failed);
        json.Member("failed", failed);
        json.BeginArray("files");
        for (const ConvertResult& r : results) {
            Json file = {{"input", r.input}, {"output", r.output}};
            if (r.ok) {
                file["seconds"] = r.Seconds();
                file["clipped_samples"] = r.clippedSamples;
                if (a.options.normalize && std::isfinite(r.inputLoudness)) {
                    file["loudness_before"] = r.inputLoudness;
                    file["gain_db"] = r.gainDb;
                }
                if (!r.damage.empty())
                    file["damage"] = r.damage;
            } else {
                file["error"] = r.error;
            }
            json.Item(file);
        }
        json.EndArray();
        json.End();
    }
    for (const auto& r : results) {
        if (!r.ok) {
            err << Message(Msg::CommandError, "convert", Message(Msg::FileError, r.input, r.error)) << "\n";
            continue;
        }
        if (r.clippedSamples > 0)
            err << Message(Msg::CommandError, "convert",
                           Message(Msg::FileError, r.output, Message(Msg::SamplesClipped, r.clippedSamples)))
                << "\n";
        if (a.options.normalize && !std::isfinite(r.inputLoudness))
            err << Message(Msg::CommandError, "convert",
                           Message(Msg::FileError, r.input, MessageText(Msg::SilentLoudness)))
                << "\n";
        if (!r.damage.empty())
            err << Message(Msg::CommandError, "convert",
                           Message(Msg::FileError, r.input, Message(Msg::KeptDamaged, r.damage)))
                << "\n";
        if (!a.json)
            out << Message(Msg::Converted, r.input, r.output, Fixed(r.Seconds(), 3)) << "\n";
    }
    if (!a.json && results.size() > 1)
        out << Message(Msg::ConvertedCount, results.size() - failed, results.size()) << "\n";
    return failed > 0 ? EXIT_INVALID_SOURCE : EXIT_DONE;
}

} // namespace voicelib::cli
