#include "cli/cli.h"
#include "core/messages.h"
#include "core/tempfiles.h"

#include <iostream>

int main(int argc, char** argv)
{
    voicelib::InstallTempFileCleanup();
    voicelib::SetMessageLanguage(voicelib::LanguagesFromEnvironment());
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = voicelib::cli::Run(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
