#pragma once

// `voicelib convert`: any audio to 8 kHz mono A-law WAVE files.

#include <iosfwd>
#include <string>
#include <vector>

namespace voicelib::cli {

extern const char* const kConvertHelp;

// args excludes the command name.
int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace voicelib::cli
