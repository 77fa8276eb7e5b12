// Feeds arbitrary bytes to the prompt script reader and checks what must hold
// for any file: no crash; a refusal has a line within the file; accepted rows
// have unique names that can be file stems, in the order of their lines; and
// the rows written back as CSV (every field quoted, CRLF) read back the same.

#include "core/prompt_script.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

std::string Quoted(const std::string& field)
{
    std::string out = "\"";
    for (char c : field) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const voicelib::PromptScript script = voicelib::ParsePromptScript(bytes);
    const long lines =
        1 + std::count(bytes.begin(), bytes.end(), '\n') + std::count(bytes.begin(), bytes.end(), '\r');
    if (!script.ok()) {
        Check(script.rows.empty());
        Check(script.error.line >= 1 && script.error.line <= lines);
        return 0;
    }
    Check(!script.rows.empty());
    std::set<std::string> names;
    int previous = 0;
    std::string csv = "text,FILE,name\r\n";
    for (const voicelib::ScriptRow& row : script.rows) {
        Check(!row.name.empty() && row.name != "." && row.name != "..");
        Check(row.name.find('/') == std::string::npos);
        Check(names.insert(row.name).second);
        Check(row.line > previous && row.line <= lines);
        previous = row.line;
        csv += Quoted(row.text) + "," + Quoted(row.file) + "," + Quoted(row.name) + "\r\n";
    }
    const voicelib::PromptScript again = voicelib::ParsePromptScript(csv);
    Check(again.ok() && again.rows.size() == script.rows.size());
    for (std::size_t i = 0; i < script.rows.size(); ++i) {
        Check(again.rows[i].name == script.rows[i].name);
        Check(again.rows[i].text == script.rows[i].text);
        Check(again.rows[i].file == script.rows[i].file);
    }
    return 0;
}
