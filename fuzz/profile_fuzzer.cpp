// Feeds arbitrary bytes to the INI reader and the list file layer and checks
// what must hold for any file: no crash, an untouched file comes back byte for
// byte, a key that was set reads back, and rows exported over any file load
// back exactly while the file's other lines stay as they were.
//
// Input: ROW \x1e ROW ... \x1d FILE, or just FILE (rows then a fixed set).

#include "core/list_file.h"
#include "core/profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using voicelib::ProfileDocument;

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names are read as C strings: up to a NUL byte.
std::string_view Name(std::string_view s)
{
    s = Trim(s);
    return s.substr(0, s.find('\0'));
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

// Lines as the reader splits them (LF, CR LF, lone CR), without endings.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// A line an export may add or change: a ZuLibItem header, ZuCount or a D key
// (in any section, which only makes the check below a little weaker).
bool ExportMayTouch(std::string_view line)
{
    std::string_view body = Trim(line);
    if (!body.empty() && body.front() == '[') {
        auto close = body.rfind(']');
        return close != std::string_view::npos && close > 0 &&
               EqualsNoCase(Name(body.substr(1, close - 1)), "zulibitem");
    }
    auto eq = body.find('=');
    if (body.empty() || body.front() == ';' || eq == std::string_view::npos)
        return false;
    std::string_view key = Name(body.substr(0, eq));
    if (EqualsNoCase(key, "zucount"))
        return true;
    return key.size() > 1 && (key[0] == 'D' || key[0] == 'd') &&
           key.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

std::vector<std::string> Untouched(std::string_view bytes, bool decodeGbk)
{
    if (bytes.substr(0, kBom.size()) == kBom)
        bytes.remove_prefix(kBom.size());
    std::vector<std::string> kept;
    for (std::string_view line : Lines(bytes)) {
        std::string text = decodeGbk ? voicelib::GbkToUtf8(line) : std::string(line);
        if (!ExportMayTouch(text))
            kept.push_back(std::move(text));
    }
    return kept;
}

bool StorableRow(const std::string& row)
{
    return row.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos &&
           voicelib::IsValidUtf8(row);
}

void CheckProfile(std::string_view bytes)
{
    ProfileDocument doc = ProfileDocument::Parse(bytes);
    Check(doc.Serialize() == bytes);

    // Use the first line of the input as a section name, so sections that
    // really occur in the file are looked up and rewritten too.
    std::string_view section = bytes.substr(0, bytes.find_first_of("\r\n"));
    section = section.substr(0, 16);
    (void)doc.GetInt("ZuLibItem", "ZuCount", 0);
    (void)doc.GetInt(section, "ZuCount", 0);
    std::size_t entries = 0;
    doc.ForEachEntry("ZuLibItem", [&](std::string_view key, std::string_view value) {
        entries += key.size() + value.size() > 0;
        (void)voicelib::ParseProfileInt(value, 0);
    });

    const ProfileDocument::Entry edits[] = {{"ZuCount", "2"}, {"D000", "/a b.wav"}, {"d001", "x"}};
    doc.SetStrings("ZuLibItem", edits);
    doc.SetString("zulibitem", "D001", "/c.wav");
    Check(doc.GetString("ZuLibItem", "ZuCount") == "2");
    Check(doc.GetString("ZuLibItem", "D000") == "/a b.wav");
    Check(doc.GetString("ZuLibItem", "D001") == "/c.wav");

    voicelib::Result<std::string> out = doc.Bytes();
    if (!out) {
        Check(doc.IsDecodedFromGbk() && !out.reason().empty()); // only an old line that is not GBK stops it
        return;
    }
    ProfileDocument again = ProfileDocument::Parse(*out);
    Check(again.GetString("ZuLibItem", "D000") == "/a b.wav");
    Check(again.GetInt("ZuLibItem", "ZuCount", 0) == 2);
}

void CheckListFile(std::string_view file, const std::vector<std::string>& rows)
{
    ProfileDocument doc = ProfileDocument::Parse(file);
    const bool gbk = doc.IsDecodedFromGbk();
    (void)voicelib::RowsFromDocument(doc, "f");

    const bool storable = std::all_of(rows.begin(), rows.end(), StorableRow);
    voicelib::IoStatus set = voicelib::SetRowsInDocument(doc, "f", rows);
    Check(set.ok() == storable);
    if (!set.ok())
        return;
    voicelib::Result<std::string> bytes = doc.Bytes();
    if (!bytes) {
        Check(gbk && !bytes.reason().empty());
        return;
    }
    const std::string& out = *bytes;

    // Export then load gives back exactly the rows.
    ProfileDocument back = ProfileDocument::Parse(out);
    voicelib::Result<std::vector<std::string>> loaded = voicelib::RowsFromDocument(back, "f");
    Check(loaded.ok() && *loaded == rows);

    // Every other line is kept: as bytes, or as text where GBK became UTF-8.
    const bool transcoded = gbk && !back.IsDecodedFromGbk();
    Check(Untouched(file, transcoded) == Untouched(out, false));
    Check((out.substr(0, kBom.size()) == kBom) == (file.substr(0, kBom.size()) == kBom));
    Check(gbk || !back.IsDecodedFromGbk()); // a UTF-8 file stays UTF-8

    // Exporting the same rows again changes nothing.
    Check(voicelib::SetRowsInDocument(back, "f", rows).ok());
    Check(back.Serialize() == out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckProfile(bytes);

    std::vector<std::string> rows;
    std::string_view file = bytes;
    if (auto split = bytes.find('\x1d'); split != std::string_view::npos) {
        file = bytes.substr(split + 1);
        std::string_view list = bytes.substr(0, split);
        while (rows.size() < 64) {
            auto sep = list.find('\x1e');
            rows.emplace_back(list.substr(0, sep));
            if (sep == std::string_view::npos)
                break;
            list.remove_prefix(sep + 1);
        }
    } else if (size % 2 == 0) {
        rows = {"/v/a b.wav", "语音/欢迎.wav", "\"q\"", " lead"};
    } else {
        rows = {"/v/中.wav", "rel/🎵.wav", ""}; // the note is not in GBK
    }
    CheckListFile(file, rows);
    return 0;
}
