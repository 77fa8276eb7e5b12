#pragma once

// `voicelib convert`: any audio to 8 kHz mono A-law WAVE files.

#include "media/convert.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace voicelib::cli {

struct ConvertArgs
{
    std::string dir = ".";
    ConvertOptions options;
    unsigned jobs = 0;
    bool json = false;
    std::string normalize; // --normalize's value: "true" when given bare
    std::vector<std::string> inputs;
};

// The command's options, declared on its subcommand.
void DeclareConvert(CLI::App& command, ConvertArgs& a);

// What the options alone cannot check; empty when all is well.
std::string CheckConvert(ConvertArgs& a);

int RunConvert(const ConvertArgs& a, std::ostream& out, std::ostream& err);

} // namespace voicelib::cli
