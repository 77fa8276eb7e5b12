#pragma once

// An INI document read and written the way the Windows private-profile
// functions behave, for the little the voice list file needs: look a key up
// in a section, read it as a string or as an integer, and set keys.
//
// The file is parsed once into lines. Every line keeps its own bytes and
// line ending, so a rewrite changes only the lines of the keys that were set
// to a new value and leaves the rest of the file byte for byte as it was.
// A file that is not UTF-8 is read as GBK (code page 936); it stays GBK
// when what was set can be written in GBK, and becomes UTF-8 otherwise.

#include "core/encoding.h"
#include "core/fileio.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace voicelib {

class ProfileDocument
{
public:
    // Line ending of the lines this document adds.
    enum class Eol : std::uint8_t
    {
        None,
        Lf,
        CrLf,
        Cr
    };

    ProfileDocument() = default;

    // Parses file bytes (at most the first 512 MiB). Text that is not valid
    // UTF-8 is taken as GBK and read line by line as UTF-8, so every name and
    // value the document gives or takes is UTF-8.
    static ProfileDocument Parse(std::string_view bytes);

    // Reads and parses a file. A missing file is an error like any other
    // (its code is ENOENT); the caller decides whether that means "empty
    // document". Anything but a regular file (a folder, FIFO, device) is
    // refused before it is read.
    static Result<ProfileDocument> Load(const std::string& path);

    bool HasSection(std::string_view section) const;

    // The value of a key in the first section of that name, or nothing when
    // the section or the key is missing. Names match without regard to ASCII
    // case. The view is valid until the document is changed.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key, std::string_view def = {}) const;
    // The key read as the profile integer reader does (see ParseProfileInt);
    // the default when the key is missing or empty.
    std::int32_t GetInt(std::string_view section, std::string_view key, std::int32_t def = 0) const;

    // Calls fn(key, value) for every key line of the first section of that
    // name, in file order, duplicates included. Returns false when the
    // section does not exist.
    bool ForEachEntry(std::string_view section,
                      const std::function<void(std::string_view key, std::string_view value)>& fn) const;

    // Sets one key: the first line of the key gets the new value, a new key
    // goes after the last line of the section, a new section at the end. A
    // line that already reads as the new value is left as it is.
    void SetString(std::string_view section, std::string_view key, std::string_view value);
    // Sets many keys in one pass over the document, as if SetString were
    // called for each pair in order.
    using Entry = std::pair<std::string_view, std::string_view>;
    void SetStrings(std::string_view section, std::span<const Entry> entries);

    // The file's bytes: a byte-order mark if the file had one, then every
    // line. Lines not set since parsing keep their bytes. Fails, saying why,
    // when a line set is not valid UTF-8, or when a GBK document needs UTF-8
    // for its new lines but one of its old lines is not valid GBK and so
    // cannot be converted without loss.
    Result<std::string> Bytes() const;
    // The same for documents that serialise; "" where Bytes would fail.
    std::string Serialize() const;
    // Writes the document atomically: the old file stays intact on failure.
    // The target rules of CheckTarget apply (a list file is a document).
    IoStatus Save(const std::string& path, const WriteOptions& options = {}) const;

    bool IsDecodedFromGbk() const { return m_fromGbk; }
    bool HasBom() const { return m_bom; }
    Eol GetNewLineStyle() const { return m_eol; }
    std::size_t GetLineCount() const { return m_lines.size(); }

private:
    enum class Kind : std::uint8_t
    {
        Blank,
        Section,
        Entry,
        Other
    };

    // One physical line. Its text lives in m_text (as read) or in m_edits
    // (set or added since), at [off, off + len); the ending is not included.
    // Lines of a GBK file also keep their bytes, in m_raw at [rawOff, +rawLen).
    struct Line
    {
        std::size_t off = 0;
        std::uint32_t len = 0;
        // Name and value, relative to off: the section name, or the key and
        // its value, already trimmed and cut at a NUL byte.
        std::uint32_t nameOff = 0, nameLen = 0;
        std::uint32_t valueOff = 0, valueLen = 0;
        std::uint32_t rawOff = 0, rawLen = 0;
        Kind kind = Kind::Blank;
        Eol eol = Eol::None;
        bool edited = false;
        bool lossy = false; // bytes that are not GBK were read as U+FFFD
    };

    static ProfileDocument ParseOwned(std::string bytes);
    // Splits m_text into lines from pos on.
    void ParseText(std::size_t pos, bool classify);
    // Moves the bytes to m_raw and reads each line as GBK into m_text.
    void DecodeGbkLines();
    Result<std::string> SerializeGbk() const;
    void Classify(Line& line) const;
    std::string_view Text(const Line& line) const;
    std::string_view Name(const Line& line) const;
    std::string_view RawValue(const Line& line) const;
    // Index of the first section header of that name, or npos.
    std::size_t FindSection(std::string_view section) const;
    // One past the last line of the section that starts at header.
    std::size_t SectionEnd(std::size_t header) const;
    Line MakeLine(std::string_view text, Eol eol);

    std::string m_text;  // the file as UTF-8; a byte-order mark is in no line
    std::string m_edits; // text of lines set or added since parsing
    std::string m_raw;   // the bytes of a file read as GBK
    std::vector<Line> m_lines;
    Eol m_eol = Eol::Lf;
    bool m_bom = false;
    bool m_fromGbk = false;
};

// What GetPrivateProfileInt makes of a value: optional sign, then decimal
// digits (hex after "0x") up to the first other character, wrapping modulo
// 2^32. An empty value gives the default.
std::int32_t ParseProfileInt(std::string_view value, std::int32_t def);

// The value a reader sees for a stored one: trimmed, cut at a NUL byte, and
// without one pair of enclosing quotes.
std::string_view ProfileValue(std::string_view stored);

} // namespace voicelib
