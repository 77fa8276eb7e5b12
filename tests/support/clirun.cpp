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

} // namespace voicelib::test
