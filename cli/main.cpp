#include "cli/cli.h"
#include "core/tempfiles.h"

#include <iostream>

int main(int argc, char** argv)
{
    voicelib::InstallTempFileCleanup();
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = voicelib::cli::Run(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
