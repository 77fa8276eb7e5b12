#include "clirun.h"

#include "cli/cli.h"

#include <sstream>

namespace voicelib::test {

Outcome RunCli(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    Outcome o;
    o.code = voicelib::cli::Run(args, out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
}

std::string AlawWave(std::uint32_t audioBytes, char fill)
{
    auto le32 = [](std::uint32_t v) {
        return std::string{char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
    };
    std::string h = "RIFF" + le32(50 + audioBytes) + "WAVEfmt " + le32(18);
    h += std::string("\x06\x00\x01\x00", 4) + le32(8000) + le32(8000) +
         std::string("\x01\x00\x08\x00\x00\x00", 6);
    h += "fact" + le32(4) + le32(audioBytes) + "data" + le32(audioBytes);
    return h + std::string(audioBytes, fill);
}

} // namespace voicelib::test
