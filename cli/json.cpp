#include "cli/json.h"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace voicelib::cli {

namespace {

// Decimals of the fields that are not whole numbers; the others have three
// (seconds, milliseconds).
int Decimals(std::string_view key)
{
    if (key == "loudness_before")
        return 1;
    if (key == "gain_db")
        return 2;
    return 3;
}

void Write(const Json& value, std::string_view key, std::string* out)
{
    if (value.is_object()) {
        *out += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
            *out += first ? "" : ",";
            first = false;
            *out += Json(name).dump() + ":";
            Write(member, name, out);
        }
        *out += '}';
    } else if (value.is_array()) {
        *out += '[';
        for (std::size_t i = 0; i < value.size(); ++i) {
            *out += i ? "," : "";
            Write(value[i], key, out);
        }
        *out += ']';
    } else if (value.is_number_float() && std::isfinite(value.get<double>())) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", Decimals(key), value.get<double>());
        *out += buf;
    } else {
        *out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

} // namespace

std::string JsonText(const Json& document)
{
    std::string out;
    Write(document, {}, &out);
    return out;
}

} // namespace voicelib::cli
