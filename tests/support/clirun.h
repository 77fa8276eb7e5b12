#pragma once

// The command line run in this process, for tests that look at what it says
// and returns rather than at a separate program.

#include <cstdint>
#include <string>
#include <vector>

namespace voicelib::test {

// What one run of the command line left: its exit code and both streams.
struct Outcome
{
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the command line in this process; args start with the command.
Outcome RunCli(const std::vector<std::string>& args);

// A canonical 8 kHz A-law file: RIFF, fmt (18), fact, data, audio at 58.
std::string AlawWave(std::uint32_t audioBytes, char fill = 'a');

} // namespace voicelib::test
