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

// A string of printable ASCII without quotes or backslashes is written as it
// stands, as the library would write it, without its escaping per byte.
void WriteString(const std::string& text, std::string* out)
{
    for (const char c : text) {
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            *out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
            return;
        }
    }
    *out += '"';
    *out += text;
    *out += '"';
}

void Write(const Json& value, std::string_view key, std::string* out)
{
    if (value.is_object()) {
        *out += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
            *out += first ? "" : ",";
            first = false;
            WriteString(name, out);
            *out += ':';
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
    } else if (value.is_string()) {
        WriteString(value.get_ref<const std::string&>(), out);
    } else {
        *out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

// What the stream gathers before it writes.
constexpr std::size_t BUFFER_BYTES = 64 * 1024;

} // namespace

std::string JsonText(const Json& document, std::string_view key)
{
    std::string out;
    Write(document, key, &out);
    return out;
}

JsonObjectStream::JsonObjectStream(std::ostream& out) : m_out(out)
{
    m_buffer += '{';
}

JsonObjectStream::~JsonObjectStream()
{
    Flush(0);
}

void JsonObjectStream::Flush(std::size_t atLeast)
{
    if (m_buffer.size() < atLeast)
        return;
    m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
    m_buffer.clear();
}

void JsonObjectStream::Key(std::string_view key)
{
    m_buffer += m_firstMember ? "" : ",";
    m_firstMember = false;
    WriteString(std::string(key), &m_buffer);
    m_buffer += ':';
}

void JsonObjectStream::Member(std::string_view key, const Json& value)
{
    Key(key);
    Write(value, key, &m_buffer);
}

void JsonObjectStream::BeginArray(std::string_view key)
{
    Key(key);
    m_buffer += '[';
    m_arrayKey = key;
    m_firstItem = true;
}

void JsonObjectStream::Item(const Json& value)
{
    m_buffer += m_firstItem ? "" : ",";
    m_firstItem = false;
    Write(value, m_arrayKey, &m_buffer);
    Flush(BUFFER_BYTES);
}

void JsonObjectStream::Item(const std::string& text)
{
    m_buffer += m_firstItem ? "" : ",";
    m_firstItem = false;
    WriteString(text, &m_buffer);
    Flush(BUFFER_BYTES);
}

void JsonObjectStream::EndArray()
{
    m_buffer += ']';
}

void JsonObjectStream::End()
{
    m_buffer += "}\n";
    Flush(0);
}

} // namespace voicelib::cli
