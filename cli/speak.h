#pragma once

// `voicelib speak`: a prompt script to A-law WAVE files, spoken where no
// recording has arrived yet, and a voice list file of them.

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace voicelib::cli {

struct SpeakArgs
{
    std::string dir = ".";
    std::string voice; // "": chosen by each row's text
    std::string list;
    bool force = false;
    bool json = false;
    bool voices = false;
    std::vector<std::string> inputs;
};

void DeclareSpeak(CLI::App& command, SpeakArgs& a);

// What the options alone cannot check; empty when all is well.
std::string CheckSpeak(const SpeakArgs& a);

int RunSpeak(const SpeakArgs& a, std::ostream& out, std::ostream& err);

} // namespace voicelib::cli
