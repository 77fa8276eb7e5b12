// How the command line reads its arguments: the errors for bad ones, each
// command's help, and files whose names look like something else. Run
// in-process.

#include "cli/cli.h"
#include "clirun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

using voicelib::test::Outcome;
using voicelib::test::RunCli;

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

TEST(Arguments, BadInvocationsAreUsageErrorsWithTheCommandsHelp)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* firstLine;
    };
    const Case cases[] = {
        {{}, "usage: voicelib COMMAND [ARGS...]"},
        {{"pack"}, "voicelib: unknown command 'pack'"},
        {{"--fast"}, "voicelib: unknown command '--fast'"},
        {{"build", "x.wav"}, "voicelib build: missing -o"},
        {{"build", "x.wav", "-o"}, "voicelib build: option -o needs a file name"},
        {{"build", "-o", "", "x.wav"}, "voicelib build: option -o needs a file name"},
        {{"build", "-o", "a.bin", "--output=b.bin", "x.wav"}, "voicelib build: option -o given twice"},
        {{"build", "-o", "a.bin", "--map=", "x.wav"}, "voicelib build: option --map needs a file name"},
        {{"build", "-o", "a.bin", "x.wav", "--prefix"}, "voicelib build: option --prefix needs a name"},
        {{"check", "--fast=1", "x.wav"}, "voicelib check: unknown option '--fast=1'"},
        {{"show", "-x", "l.ini"}, "voicelib show: unknown option '-x'"},
        {{"export", "--json", "-o", "l.ini", "x.wav"}, "voicelib export: unknown option '--json'"},
        {{"convert"}, "voicelib convert: no files given"},
        {{"convert", "-o", "", "x.mp3"}, "voicelib convert: option -o needs a folder name"},
        {{"convert", "-j", "0", "x.mp3"}, "voicelib convert: option -j wants a number from 1 to 256"},
        {{"convert", "--jobs=two", "x.mp3"}, "voicelib convert: option -j wants a number from 1 to 256"},
        {{"convert", "x.mp3", "-j"}, "voicelib convert: option -j needs a number"},
        {{"convert", "--trim-threshold=3dB", "x.mp3"},
         "voicelib convert: option --trim-threshold wants a level from -120 dB up to (not including) 0 dB, such as -50dB"},
        {{"convert", "--normalize=-99", "x.mp3"},
         "voicelib convert: --normalize wants a loudness from -70 to -5 LUFS, such as --normalize=-23"},
    };
    for (const Case& c : cases) {
        const std::string command = c.args.empty() ? "" : c.args[0];
        SCOPED_TRACE(c.firstLine);
        const Outcome o = RunCli(c.args);
        EXPECT_EQ(o.code, voicelib::cli::EXIT_USAGE_OR_IO);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(FirstLine(o.err), c.firstLine);
        // Then one line saying where the usage is; the commands only when none was named.
        const bool known = !command.empty() && command != "pack" && command != "--fast";
        if (command.empty())
            EXPECT_THAT(o.err, HasSubstr("commands:\n"));
        else
            EXPECT_EQ(o.err.substr(o.err.find('\n') + 1),
                      known ? "Run 'voicelib " + command + " --help' for its usage.\n"
                            : "Run 'voicelib --help' for the commands.\n");
    }
}

TEST(Arguments, HelpListsEveryOptionOfTheCommand)
{
    struct Case
    {
        const char* command;
        std::vector<const char*> lines; // the usage line, then beginnings of option lines
    };
    const Case cases[] = {
        {"build",
         {"usage: voicelib build -o OUT.bin [OPTIONS] (FILE.wav... | LIST.ini)", "  -o, --output OUT.bin ",
          "  --json ", "  --force ", "  --header FILE.h ", "  --map FILE.csv ", "  --prefix NAME "}},
        {"check", {"usage: voicelib check [OPTIONS] (FILE.wav... | LIST.ini)", "  --json "}},
        {"info", {"usage: voicelib info [OPTIONS] LIB.bin", "  --json "}},
        {"extract",
         {"usage: voicelib extract -o DIR [OPTIONS] LIB.bin", "  -o, --output DIR ", "  --force "}},
        {"show", {"usage: voicelib show [OPTIONS] LIST.ini", "  --json "}},
        {"export", {"usage: voicelib export -o LIST.ini [OPTIONS] FILE.wav...", "  --force "}},
        {"convert",
         {"usage: voicelib convert [OPTIONS] FILE...", "  -o, --output DIR ", "  --no-pad ", "  --trim ",
          "  --trim-threshold DB ", "  --normalize[=LUFS] ", "  --force ", "  -j, --jobs N ", "  --json "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        for (const char* flag : {"--help", "-h"}) {
            const Outcome o = RunCli({c.command, flag, "--json"});
            EXPECT_EQ(o.code, voicelib::cli::EXIT_DONE);
            EXPECT_EQ(o.err, "");
            EXPECT_THAT(o.out, StartsWith(c.lines.front()));
            for (std::size_t i = 1; i < c.lines.size(); ++i)
                EXPECT_THAT(o.out, HasSubstr(std::string("\n") + c.lines[i]));
        }
        EXPECT_THAT(RunCli({"help"}).out, HasSubstr(std::string("\n  ") + c.command + " "));
    }
}

TEST(Arguments, FilesThatLookLikeSomethingElseStayFiles)
{
    // Every one is missing, so check names each, in order, in valid JSON.
    const std::vector<std::string> names = {"[a,b]", "-", "", "build", "bad\xff\x01\"\\\n"};
    std::vector<std::string> args = {"check", "--json", names[0], names[1], names[2], names[3], "--"};
    args.insert(args.end(), {"--json", "-o", names[4]});
    const Outcome o = RunCli(args);
    EXPECT_EQ(o.code, voicelib::cli::EXIT_INVALID_SOURCE);
    const nlohmann::json json = nlohmann::json::parse(o.out);
    const std::vector<std::string> expected = {
        "[a,b]", "-", "", "build", "--json", "-o", "bad\xef\xbf\xbd\x01\"\\\n"}; // not UTF-8: U+FFFD
    ASSERT_EQ(json["invalid"].size(), expected.size()) << o.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(json["invalid"][i]["index"], i);
        EXPECT_EQ(json["invalid"][i]["path"], expected[i]);
    }
}

} // namespace
