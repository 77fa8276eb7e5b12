#include "cli/options.h"

#include <map>

namespace voicelib::cli {

CLI::Validator NotEmpty(const std::string& what)
{
    return CLI::Validator(
        [what](const std::string& value) { return value.empty() ? "needs " + what : std::string(); }, "");
}

std::string ValueNoun(const CLI::Option& option)
{
    static const std::map<std::string, std::string> nouns = {
        {"DIR", "a folder name"}, {"N", "a number"}, {"DB", "a level"}, {"NAME", "a name"}};
    const auto it = nouns.find(option.get_type_name());
    return it == nouns.end() ? "a file name" : it->second;
}

} // namespace voicelib::cli
