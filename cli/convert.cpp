#include "cli/convert.h"

#include "cli/cli.h"
#include "cli/json.h"
#include "media/convert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <strings.h>
#include <system_error>
#include <unistd.h>

namespace voicelib::cli {

const char* const kConvertHelp = R"(usage: voicelib convert [-o DIR] [OPTIONS] FILE...

Converts audio files (WAVE of any encoding and rate, MP3, FLAC, Ogg Vorbis or
Opus, M4A/AAC: whatever FFmpeg decodes) into 8 kHz mono A-law WAVE files that
build accepts, written as DIR/STEM.wav (DIR: the current folder unless -o
names one; it is created when missing). Channels are mixed down to mono; the
audio is padded with silence to whole 160-byte blocks, so a library keeps
every sample. Files are converted in parallel, one per core. A file that
cannot be converted is named with the reason and the others still convert.

options:
  -o, --output DIR        folder for the converted files
  --no-pad                cut the audio to whole blocks instead of padding
  --trim                  remove leading and trailing silence
  --trim-threshold=DB     peak level below which audio counts as silence
                          (default -50dB)
  --normalize[=LUFS]      set the integrated loudness (EBU R128) with one
                          gain per file (default -23 LUFS)
  --force                 replace existing files that are not A-law WAVE files
  -j, --jobs N            files converted at once (default: one per core)
  --json                  print one JSON object:
                          {"converted","failed","files":[{"input","output",
                          "seconds","clipped_samples"[,"gain_db"]} or
                          {"input","output","error"}]}

A target is never one of the sources, a folder, pipe, device or write-protected
file; an existing file that is not an A-law WAVE is replaced only with --force.
A symlink at DIR/STEM.wav is replaced, not followed. Targets are replaced
atomically: a failed or interrupted conversion leaves the old file.
exit codes: 0 every file converted, 1 some files failed, 2 usage error
)";

namespace {

struct ConvertArgs
{
    std::string dir = ".";
    ConvertOptions options;
    unsigned jobs = 0;
    bool json = false;
    bool help = false;
    std::vector<std::string> inputs;
};

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

bool Parse(const std::vector<std::string>& args, ConvertArgs* a, std::string* error)
{
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto value = [&](const char* name, std::string* v) {
            if (i + 1 >= args.size()) {
                *error = std::string("option ") + name + " needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };
        if (onlyFiles || s.empty() || s[0] != '-' || s == "-") {
            a->inputs.push_back(s);
        } else if (s == "--") {
            onlyFiles = true;
        } else if (s == "-h" || s == "--help") {
            a->help = true;
        } else if (s == "--json") {
            a->json = true;
        } else if (s == "-o" || s == "--output") {
            if (!value(s.c_str(), &a->dir))
                return false;
        } else if (s.rfind("--output=", 0) == 0) {
            a->dir = s.substr(9);
        } else if (s == "--no-pad") {
            a->options.pad = false;
        } else if (s == "--trim") {
            a->options.trim = true;
        } else if (s.rfind("--trim-threshold=", 0) == 0) {
            a->options.trim = true;
            double db = 0;
            if (!ParseLevel(s.substr(17), "dB", &db) || db >= 0 || db < -120) {
                *error = "--trim-threshold wants a level below 0 dB, such as -50dB";
                return false;
            }
            a->options.trimThresholdDb = db;
        } else if (s == "--normalize") {
            a->options.normalize = true;
        } else if (s.rfind("--normalize=", 0) == 0) {
            a->options.normalize = true;
            double lufs = 0;
            if (!ParseLevel(s.substr(12), "LUFS", &lufs) || lufs < MIN_LOUDNESS_LUFS ||
                lufs > MAX_LOUDNESS_LUFS) {
                *error = "--normalize wants a loudness from -70 to -5 LUFS, such as --normalize=-23";
                return false;
            }
            a->options.loudnessLufs = lufs;
        } else if (s == "--force") {
            a->options.write.force = true;
        } else if (s == "-j" || s == "--jobs" || s.rfind("--jobs=", 0) == 0) {
            std::string v = s.size() > 7 && s[6] == '=' ? s.substr(7) : std::string();
            if (v.empty() && !value(s.c_str(), &v))
                return false;
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 1 || n > 256) {
                *error = "--jobs wants a number from 1 to 256";
                return false;
            }
            a->jobs = static_cast<unsigned>(n);
        } else {
            *error = "unknown option '" + s + "'";
            return false;
        }
    }
    if (!a->help && a->inputs.empty()) {
        *error = "no files given";
        return false;
    }
    if (a->dir.empty()) {
        *error = "-o needs a folder name";
        return false;
    }
    return true;
}

std::string Fixed(double v, int digits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

} // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ConvertArgs a;
    std::string error;
    if (!Parse(args, &a, &error)) {
        err << "voicelib convert: " << error << "\n" << kConvertHelp;
        return EXIT_USAGE_OR_IO;
    }
    if (a.help) {
        out << kConvertHelp;
        return EXIT_DONE;
    }
    std::error_code ec;
    std::filesystem::create_directories(a.dir, ec);
    if (ec || !std::filesystem::is_directory(a.dir)) {
        err << "voicelib convert: " << a.dir << ": " << (ec ? ec.message() : "not a folder") << "\n";
        return EXIT_USAGE_OR_IO;
    }

    std::vector<ConvertJob> jobs;
    for (const auto& input : a.inputs)
        jobs.push_back({input, ConvertedName(a.dir, input)});
    a.options.write.sources = a.inputs;

    // A progress line only where someone watches it.
    const bool showProgress = &err == &std::cerr && jobs.size() > 1 && ::isatty(STDERR_FILENO);
    BatchProgress progress;
    if (showProgress) {
        progress = [&err, shown = std::string()](double fraction, std::size_t done,
                                                 std::size_t total) mutable {
            std::string line = "converting: " + std::to_string(done) + "/" + std::to_string(total) +
                               " files, " + std::to_string(static_cast<int>(fraction * 100)) + "% ";
            if (line != shown)
                err << "\r" << line << std::flush;
            shown = std::move(line);
            return true;
        };
    }
    std::vector<ConvertResult> results = ConvertFiles(jobs, a.options, progress, a.jobs);
    if (showProgress)
        err << "\r\033[K" << std::flush;

    std::size_t failed = 0;
    for (const auto& r : results)
        failed += r.ok ? 0 : 1;

    if (a.json) {
        out << "{\"converted\":" << results.size() - failed << ",\"failed\":" << failed << ",\"files\":[";
        for (std::size_t i = 0; i < results.size(); ++i) {
            const ConvertResult& r = results[i];
            out << (i ? "," : "") << "{\"input\":" << JsonString(r.input)
                << ",\"output\":" << JsonString(r.output);
            if (r.ok) {
                out << ",\"seconds\":" << Fixed(r.seconds(), 3)
                    << ",\"clipped_samples\":" << r.clippedSamples;
                if (a.options.normalize && std::isfinite(r.inputLoudness))
                    out << ",\"loudness_before\":" << Fixed(r.inputLoudness, 1)
                        << ",\"gain_db\":" << Fixed(r.gainDb, 2);
            } else {
                out << ",\"error\":" << JsonString(r.error);
            }
            out << "}";
        }
        out << "]}\n";
    }
    for (const auto& r : results) {
        if (!r.ok) {
            err << "voicelib convert: " << r.input << ": " << r.error << "\n";
            continue;
        }
        if (r.clippedSamples > 0)
            err << "voicelib convert: " << r.output << ": " << r.clippedSamples << " samples clipped\n";
        if (a.options.normalize && !std::isfinite(r.inputLoudness))
            err << "voicelib convert: " << r.input << ": silent, loudness left as it is\n";
        if (r.audioBytes == 0)
            err << "voicelib convert: " << r.output << ": no audio left\n";
        if (!a.json)
            out << r.input << " -> " << r.output << " (" << Fixed(r.seconds(), 3) << " s)\n";
    }
    if (!a.json && results.size() > 1)
        out << "converted " << results.size() - failed << " of " << results.size() << " files\n";
    return failed > 0 ? EXIT_INVALID_SOURCE : EXIT_DONE;
}

} // namespace voicelib::cli
