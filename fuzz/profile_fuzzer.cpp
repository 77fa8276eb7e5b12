// Feeds arbitrary bytes to the INI reader and checks what must hold for any
// file: no crash, untouched text comes back unchanged, and a key that was set
// reads back, also after a rewrite.

#include "core/profile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using voicelib::ProfileDocument;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    ProfileDocument doc = ProfileDocument::Parse(bytes);
    if (voicelib::IsValidUtf8(bytes))
        Check(doc.Serialize() == bytes);
    else
        Check(voicelib::IsValidUtf8(doc.Serialize()));

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

    ProfileDocument again = ProfileDocument::Parse(doc.Serialize());
    Check(again.GetString("ZuLibItem", "D000") == "/a b.wav");
    Check(again.GetInt("ZuLibItem", "ZuCount", 0) == 2);
    return 0;
}
