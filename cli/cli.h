#pragma once

// The `voicelib` command line: build, check, info, extract, show, diff, export.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace voicelib::cli {

// Exit codes.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_INVALID_SOURCE = 1; // a source failed validation, nothing written
inline constexpr int EXIT_USAGE_OR_IO = 2;    // bad arguments or an I/O error, nothing written
inline constexpr int EXIT_SOURCES_FAILED = 3; // written, but some sources failed at the copy
inline constexpr int EXIT_DIFFERENT = 1;      // diff: the two libraries differ

// Runs one command; args excludes the program name. Results go to out,
// messages to err. buildProgress, when given, is called after each entry a
// build writes, as WriteLibrary's progress is.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const std::function<bool(int done, int total)>& buildProgress = {});

} // namespace voicelib::cli
