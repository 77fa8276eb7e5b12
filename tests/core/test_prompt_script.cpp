#include "core/messages.h"
#include "core/prompt_script.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace voicelib {
namespace {

struct ScriptCase
{
    const char* name;
    std::string bytes;
    std::vector<std::string> rows; // "line|name|text|file" when read
    ScriptProblem problem = ScriptProblem::None;
    int line = 0;
    std::string says; // part of the refusal's text
    friend void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }
};

class PromptScriptRead : public ::testing::TestWithParam<ScriptCase>
{
};

TEST_P(PromptScriptRead, RowsOrTheLineAndWhy)
{
    const ScriptCase& c = GetParam();
    const PromptScript script = ParsePromptScript(c.bytes);
    std::vector<std::string> rows;
    for (const ScriptRow& r : script.rows)
        rows.push_back(std::to_string(r.line) + "|" + r.name + "|" + r.text + "|" + r.file);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(script.error.problem, c.problem);
    EXPECT_EQ(script.error.line, c.line);
    EXPECT_NE(ScriptErrorText(script.error).find(c.says), std::string::npos) << ScriptErrorText(script.error);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, PromptScriptRead,
    ::testing::Values(
        ScriptCase{"CrLfWithFile",
                   "name,text,file\r\nwelcome,欢迎,rec/w.flac\r\nbusy,Line busy\r\n",
                   {"2|welcome|欢迎|rec/w.flac", "3|busy|Line busy|"},
                   ScriptProblem::None,
                   0,
                   ""},
        ScriptCase{"BomAnyOrderOtherColumnsAndCase",
                   "\xEF\xBB\xBFNote, Text ,NAME\nx,hello,a\n",
                   {"2|a|hello|"},
                   ScriptProblem::None,
                   0,
                   ""},
        ScriptCase{"QuotedCommasQuotesAndLineBreaks",
                   "name,text\n\"a\",\"Hi, \"\"you\"\"\r\nthere\"\nb,\"\"\n",
                   {"2|a|Hi, \"you\"\r\nthere|", "4|b||"},
                   ScriptProblem::None,
                   0,
                   ""},
        ScriptCase{"BlankRowsSkippedTrailingEmptyCellsAllowed",
                   "\nname,text\n\n,\nc,x,,\n\" d \",y",
                   {"5|c|x|", "6|d|y|"},
                   ScriptProblem::None,
                   0,
                   ""},
        ScriptCase{
            "LoneCrEndsLines", "name,text\ra,x\rb,y", {"2|a|x|", "3|b|y|"}, ScriptProblem::None, 0, ""},
        ScriptCase{"Empty", "\xEF\xBB\xBF\n", {}, ScriptProblem::NoHeader, 1, "no header"},
        ScriptCase{"NoRows", "name,text\n", {}, ScriptProblem::NoRows, 1, "no prompts"},
        ScriptCase{"MissingText", "name,file\na,b\n", {}, ScriptProblem::MissingColumn, 1, "'text'"},
        ScriptCase{"TwoNameColumns", "name,text,Name\n", {}, ScriptProblem::DuplicateColumn, 1, "'name'"},
        ScriptCase{"EmptyName", "name,text\na,x\n  ,y\n", {}, ScriptProblem::EmptyName, 3, "line 3: "},
        ScriptCase{"NameLeavesTheFolder", "name,text\n../a,x\n", {}, ScriptProblem::BadName, 2, "'../a'"},
        ScriptCase{"DuplicateName",
                   "name,text\na,x\nb,\"multi\nline\"\na,z\n",
                   {},
                   ScriptProblem::DuplicateName,
                   5,
                   "already used on line 2"},
        ScriptCase{"UnclosedQuote",
                   "name,text\na,x\nb,\"never\nclosed\n",
                   {},
                   ScriptProblem::UnclosedQuote,
                   3,
                   "never ends"},
        ScriptCase{"TextAfterQuote", "name,text\n\"a\"b,x\n", {}, ScriptProblem::TextAfterQuote, 2, "line 2"},
        ScriptCase{
            "QuoteInsideField", "name,text\na,say \"hi\"\n", {}, ScriptProblem::QuoteInField, 2, "quote"},
        ScriptCase{"StrayComma", "name,text\na,Hello, world\n", {}, ScriptProblem::TooManyFields, 2, "comma"},
        ScriptCase{
            "NotUtf8", "name,text\na,ok\nb,\xC4\xE3\xBA\xC3\n", {}, ScriptProblem::NotUtf8, 3, "UTF-8"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace voicelib
