#pragma once

// The commands' --json output: documents built as nlohmann JSON objects, keys
// in the order they were added; lists written item by item as they come.

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

namespace voicelib::cli {

using Json = nlohmann::ordered_json;

// The document on one line. Numbers that are not whole print with the
// decimals their field always had ("seconds":0.120, "gain_db":-3.50), where
// the library alone would shorten them (0.12); bytes that are not UTF-8 in a
// string (a path in another encoding) become U+FFFD.
// key: the member the value belongs to, whose decimals a number takes.
std::string JsonText(const Json& document, std::string_view key = {});

// One object on one line, written to out member by member, an array's items
// one by one: the text of a list of a million rows never stands whole in
// memory. The same text as JsonText of the whole document.
class JsonObjectStream
{
public:
    explicit JsonObjectStream(std::ostream& out);
    // Passes on what is buffered, even without End().
    ~JsonObjectStream();
    JsonObjectStream(const JsonObjectStream&) = delete;
    JsonObjectStream& operator=(const JsonObjectStream&) = delete;

    void Member(std::string_view key, const Json& value);
    void BeginArray(std::string_view key);
    void Item(const Json& value);
    void Item(const std::string& text);
    void EndArray();
    // Closes the object and its line.
    void End();

private:
    void Key(std::string_view key);
    void Flush(std::size_t atLeast);

    std::ostream& m_out;
    std::string m_buffer;
    std::string m_arrayKey;
    bool m_firstMember = true;
    bool m_firstItem = true;
};

} // namespace voicelib::cli
