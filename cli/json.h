#pragma once

// The commands' --json output: documents built as nlohmann JSON objects, keys
// in the order they were added.

#include <nlohmann/json.hpp>
#include <string>

namespace voicelib::cli {

using Json = nlohmann::ordered_json;

// The document on one line. Numbers that are not whole print with the
// decimals their field always had ("seconds":0.120, "gain_db":-3.50), where
// the library alone would shorten them (0.12); bytes that are not UTF-8 in a
// string (a path in another encoding) become U+FFFD.
std::string JsonText(const Json& document);

} // namespace voicelib::cli
