#pragma once

// Pieces the commands share in declaring their options.

#include "core/messages.h"
#include "core/result.h"

#include <CLI/CLI.hpp>
#include <string>

namespace voicelib::cli {

// A value that may not be empty: "-o ''" names no file.
CLI::Validator NotEmpty(Msg what);

// What an option's value is, in an error: "a file name", "a number", ...
std::string ValueNoun(const CLI::Option& option);

// The target rules' verdict, with the way round it where there is one.
std::string Refusal(const Error& e);
inline std::string Refusal(const IoStatus& status)
{
    return Refusal(status.error());
}
// A help text of several lines, ending in a line break as a footer does.
std::string Paragraphs(Msg id);

} // namespace voicelib::cli
