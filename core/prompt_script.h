#pragma once

// The prompt script: a CSV file (RFC 4180, UTF-8 with or without a BOM, CRLF
// or LF) as spreadsheets export it. A header row names the columns "name" and
// "text", optionally "file", in any order; other columns are ignored. Each
// further row is one prompt, in library order.

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace voicelib {

// A script larger than this is taken as the wrong file.
inline constexpr std::size_t MAX_SCRIPT_BYTES = 64u << 20;

enum class ScriptProblem
{
    None,
    Unreadable,      // code says why
    NotRegular,      // a folder, pipe or device; detail is its kind
    TooLarge,        // over MAX_SCRIPT_BYTES
    NotUtf8,         // the line holds bytes that are not UTF-8
    UnclosedQuote,   // a quoted field opened on the line never ends
    TextAfterQuote,  // a closing quote is followed by more than a comma or the line's end
    QuoteInField,    // a quote inside a field that does not start with one
    NoHeader,        // nothing in the file
    MissingColumn,   // detail: the column
    DuplicateColumn, // detail: the column
    TooManyFields,   // the row has more fields than the header
    EmptyName,
    BadName,       // detail: the name; it cannot be a file stem
    DuplicateName, // detail: the name; otherLine: where it was first
    NoRows,        // a header and no prompt
};

struct ScriptRow
{
    int line = 0; // where the row starts, from 1
    std::string name;
    std::string text;
    std::string file; // as written, relative to the script's folder; "" for none
};

struct ScriptError
{
    ScriptProblem problem = ScriptProblem::None;
    int line = 0;
    std::string detail;
    int otherLine = 0;
    std::error_code code;
};

struct PromptScript
{
    std::vector<ScriptRow> rows;
    ScriptError error; // the first problem; rows is empty then

    bool ok() const { return error.problem == ScriptProblem::None; }
};

// The rows of a script's bytes, or the first problem with its line.
PromptScript ParsePromptScript(std::string_view bytes);

// The same for a file; only a regular file is read.
PromptScript ReadPromptScript(const std::string& path);

} // namespace voicelib
