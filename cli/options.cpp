#include "cli/options.h"

#include <map>

namespace voicelib::cli {

CLI::Validator NotEmpty(Msg what)
{
    return CLI::Validator(
        [what](const std::string& value) {
            return value.empty() ? Message(Msg::NeedsValue, MessageText(what)) : std::string();
        },
        "");
}

std::string ValueNoun(const CLI::Option& option)
{
    static const std::map<std::string, Msg> nouns = {{"DIR", Msg::ValueFolderName},
                                                     {"N", Msg::ValueNumber},
                                                     {"DB", Msg::ValueLevel},
                                                     {"NAME", Msg::ValueName},
                                                     {"VOICE", Msg::ValueName}};
    const auto it = nouns.find(option.get_type_name());
    return MessageText(it == nouns.end() ? Msg::ValueFileName : it->second);
}

std::string Refusal(const Error& e)
{
    return e.forceable() ? Message(Msg::ForceOverrides, e.message()) : e.message();
}

std::string Paragraphs(Msg id)
{
    return std::string(MessageText(id)) + "\n";
}

} // namespace voicelib::cli
