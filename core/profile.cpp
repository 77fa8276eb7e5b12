#include "core/profile.h"

#include "core/fileio.h"
#include "core/key_index.h"
#include "core/messages.h"
#include "core/syscall.h"
#include "core/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace voicelib {

namespace {

// Larger files are not profiles anyone wrote by hand or by export; refusing
// them keeps a stray device or disk image from being read into memory.
constexpr long long MAX_FILE_BYTES = 512ll * 1024 * 1024;

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

std::string_view EolBytes(ProfileDocument::Eol eol)
{
    switch (eol) {
    case ProfileDocument::Eol::Lf:
        return "\n";
    case ProfileDocument::Eol::CrLf:
        return "\r\n";
    case ProfileDocument::Eol::Cr:
        return "\r";
    case ProfileDocument::Eol::None:
        break;
    }
    return {};
}

} // namespace

std::int32_t ParseProfileInt(std::string_view value, std::int32_t def)
{
    if (value.empty())
        return def;
    std::size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-') {
        negative = value[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < value.size() && value[i] == '0' && value[i + 1] == 'x') {
        base = 16;
        i += 2;
    }
    std::uint32_t total = 0; // wraps modulo 2^32 like the original reader
    for (; i < value.size(); ++i) {
        char c = value[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        total = total * base + digit;
    }
    if (negative)
        total = 0u - total;
    return static_cast<std::int32_t>(total);
}

std::string_view ProfileValue(std::string_view stored)
{
    while (!stored.empty() && IsSpace(stored.front()))
        stored.remove_prefix(1);
    while (!stored.empty() && IsSpace(stored.back()))
        stored.remove_suffix(1);
    stored = CutAtNul(stored);
    if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
        stored.back() == stored.front())
        stored = stored.substr(1, stored.size() - 2);
    return stored;
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes)
{
    return ParseOwned(std::string(bytes));
}

ProfileDocument ProfileDocument::ParseOwned(std::string bytes)
{
    ProfileDocument doc;
    // Line records keep 32-bit offsets and indices; no profile comes near.
    if (bytes.size() > static_cast<std::size_t>(MAX_FILE_BYTES))
        bytes.resize(static_cast<std::size_t>(MAX_FILE_BYTES));
    std::size_t start = 0;
    if (std::string_view(bytes).substr(0, UTF8_BOM.size()) == UTF8_BOM) {
        doc.m_bom = true;
        start = UTF8_BOM.size();
    }
    // The lines simply start after a mark.
    doc.m_fromGbk = !IsValidUtf8(std::string_view(bytes).substr(start));
    doc.m_text = std::move(bytes);
    doc.ParseText(start, !doc.m_fromGbk);
    if (doc.m_fromGbk)
        doc.DecodeGbkLines();
    return doc;
}

void ProfileDocument::DecodeGbkLines()
{
    // Line by line, so that the lines are those of the bytes and each keeps
    // its own; GBK never uses CR or LF inside a character.
    m_raw = std::move(m_text);
    m_text.clear();
    m_text.reserve(m_raw.size() * 3 / 2);
    GbkCodec codec;
    for (Line& line : m_lines) {
        line.rawOff = static_cast<std::uint32_t>(line.off);
        line.rawLen = line.len;
        line.off = m_text.size();
        Conversion decoded =
            codec.Decode(std::string_view(m_raw).substr(line.rawOff, line.rawLen), std::move(m_text));
        m_text = std::move(decoded.text);
        line.lossy = !decoded.exact;
        line.len = static_cast<std::uint32_t>(m_text.size() - line.off);
        Classify(line);
    }
}

void ProfileDocument::ParseText(std::size_t pos, bool classify)
{
    m_lines.clear();
    const char* base = m_text.data();
    const std::size_t size = m_text.size();
    // Reserving by the number of LFs saves regrowing a large vector.
    std::size_t lf = static_cast<std::size_t>(
        std::count(m_text.begin() + static_cast<std::ptrdiff_t>(pos), m_text.end(), '\n'));
    m_lines.reserve(lf + 1);

    bool styleSeen = false;
    while (pos < size) {
        const char* start = base + pos;
        std::size_t left = size - pos;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', left));
        std::size_t span = nl ? static_cast<std::size_t>(nl - start) : left;
        const char* cr = static_cast<const char*>(std::memchr(start, '\r', span));
        Line line;
        line.off = pos;
        std::size_t len;
        std::size_t eolLen;
        if (cr && cr + 1 != nl) {
            // A lone CR ends the line (CR-only files), unless it precedes an LF.
            len = static_cast<std::size_t>(cr - start);
            line.eol = Eol::Cr;
            eolLen = 1;
        } else if (cr) {
            len = span - 1;
            line.eol = Eol::CrLf;
            eolLen = 2;
        } else if (nl) {
            len = span;
            line.eol = Eol::Lf;
            eolLen = 1;
        } else {
            len = span;
            line.eol = Eol::None;
            eolLen = 0;
        }
        line.len = static_cast<std::uint32_t>(len);
        if (!styleSeen && line.eol != Eol::None) {
            m_eol = line.eol;
            styleSeen = true;
        }
        if (classify)
            Classify(line);
        m_lines.push_back(line);
        pos += len + eolLen;
    }
}

std::string_view ProfileDocument::Text(const Line& line) const
{
    const std::string& buf = line.edited ? m_edits : m_text;
    return std::string_view(buf.data() + line.off, line.len);
}

std::string_view ProfileDocument::Name(const Line& line) const
{
    return Text(line).substr(line.nameOff, line.nameLen);
}

std::string_view ProfileDocument::RawValue(const Line& line) const
{
    return Text(line).substr(line.valueOff, line.valueLen);
}

void ProfileDocument::Classify(Line& line) const
{
    std::string_view text = Text(line);
    std::size_t b = 0, e = text.size();
    while (b < e && IsSpace(text[b]))
        ++b;
    while (e > b && IsSpace(text[e - 1]))
        --e;
    line.nameOff = line.nameLen = line.valueOff = line.valueLen = 0;
    if (b == e) {
        line.kind = Kind::Blank;
        return;
    }
    std::string_view body = text.substr(b, e - b);
    if (body.front() == '[') {
        auto close = body.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            std::size_t nb = 1, ne = close;
            while (nb < ne && IsSpace(body[nb]))
                ++nb;
            while (ne > nb && IsSpace(body[ne - 1]))
                --ne;
            line.kind = Kind::Section;
            line.nameOff = static_cast<std::uint32_t>(b + nb);
            line.nameLen = static_cast<std::uint32_t>(CutAtNul(body.substr(nb, ne - nb)).size());
            return;
        }
        // Without a closing bracket it is read like any other line.
    }
    auto eq = body.find('=');
    if (body.front() == ';' || eq == std::string_view::npos) {
        line.kind = Kind::Other;
        return;
    }
    std::size_t ne = eq;
    while (ne > 0 && IsSpace(body[ne - 1]))
        --ne;
    std::size_t vb = eq + 1;
    while (vb < body.size() && IsSpace(body[vb]))
        ++vb;
    line.kind = Kind::Entry;
    line.nameOff = static_cast<std::uint32_t>(b);
    line.nameLen = static_cast<std::uint32_t>(CutAtNul(body.substr(0, ne)).size());
    line.valueOff = static_cast<std::uint32_t>(b + vb);
    line.valueLen = static_cast<std::uint32_t>(body.size() - vb);
}

Result<ProfileDocument> ProfileDocument::Load(const std::string& path)
{
    // Looked at before it is opened: opening a device can have effects, and
    // opening a FIFO waits for a writer.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return Error::FromErrno(path, errno);
    if (!S_ISREG(st.st_mode))
        return Error(path, Message(Msg::IsKind, KindOfFile(st.st_mode)));

    // It may have been swapped since: O_NONBLOCK keeps a FIFO from blocking
    // the open, and the open file is checked again.
    Result<int> fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
    if (!fd)
        return Error(fd.code(), path);
    FileHandle file(*fd);
    if (::fstat(file.fd(), &st) != 0)
        return Error::FromErrno(path, errno);
    if (!S_ISREG(st.st_mode))
        return Error(path, Message(Msg::IsKind, KindOfFile(st.st_mode)));
    const long long size = static_cast<long long>(st.st_size);
    if (size > MAX_FILE_BYTES)
        return Error(path, Message(Msg::ListFileTooLarge));

    // Read to the end rather than trusting the size: it may still be growing.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(size) + 1);
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (static_cast<long long>(bytes.size()) > MAX_FILE_BYTES)
                return Error(path, Message(Msg::ListFileTooLarge));
            bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4096));
        }
        Result<std::size_t> r = ReadAt(file.fd(), bytes.data() + have, bytes.size() - have, have);
        if (!r)
            return Error(r.code(), path);
        if (*r == 0)
            break;
        have += *r;
    }
    bytes.resize(have);
    return ParseOwned(std::move(bytes));
}

std::size_t ProfileDocument::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == Kind::Section && EqualsNoCase(Name(m_lines[i]), section))
            return i;
    }
    return std::string::npos;
}

bool ProfileDocument::HasSection(std::string_view section) const
{
    return FindSection(section) != std::string::npos;
}

std::size_t ProfileDocument::SectionEnd(std::size_t header) const
{
    std::size_t i = header + 1;
    while (i < m_lines.size() && m_lines[i].kind != Kind::Section)
        ++i;
    return i;
}

std::optional<std::string_view> ProfileDocument::Find(std::string_view section, std::string_view key) const
{
    std::size_t sec = FindSection(section);
    if (sec == std::string::npos)
        return std::nullopt;
    std::size_t end = SectionEnd(sec);
    for (std::size_t i = sec + 1; i < end; ++i) {
        if (m_lines[i].kind == Kind::Entry && EqualsNoCase(Name(m_lines[i]), key))
            return ProfileValue(RawValue(m_lines[i]));
    }
    return std::nullopt;
}

std::string ProfileDocument::GetString(std::string_view section, std::string_view key,
                                       std::string_view def) const
{
    auto value = Find(section, key);
    return std::string(value ? *value : def);
}

std::int32_t ProfileDocument::GetInt(std::string_view section, std::string_view key, std::int32_t def) const
{
    auto value = Find(section, key);
    return value ? ParseProfileInt(*value, def) : def;
}

bool ProfileDocument::ForEachEntry(std::string_view section,
                                   const std::function<void(std::string_view, std::string_view)>& fn) const
{
    std::size_t sec = FindSection(section);
    if (sec == std::string::npos)
        return false;
    std::size_t end = SectionEnd(sec);
    for (std::size_t i = sec + 1; i < end; ++i) {
        if (m_lines[i].kind == Kind::Entry)
            fn(Name(m_lines[i]), ProfileValue(RawValue(m_lines[i])));
    }
    return true;
}

ProfileDocument::Line ProfileDocument::MakeLine(std::string_view text, Eol eol)
{
    Line line;
    line.off = m_edits.size();
    line.len = static_cast<std::uint32_t>(text.size());
    line.edited = true;
    line.eol = eol;
    m_edits.append(text);
    Classify(line);
    return line;
}

void ProfileDocument::SetString(std::string_view section, std::string_view key, std::string_view value)
{
    const Entry entry{key, value};
    SetStrings(section, std::span<const Entry>(&entry, 1));
}

void ProfileDocument::SetStrings(std::string_view section, std::span<const Entry> entries)
{
    if (entries.empty())
        return;

    std::size_t sec = FindSection(section);
    std::size_t end = sec == std::string::npos ? sec : SectionEnd(sec);
    std::size_t existing = sec == std::string::npos ? 0 : end - sec - 1;

    // Where each key is: an existing line, or a line still to be added
    // (tagged). The index holds numbers, not names, because the names of
    // edited lines live in m_edits, which grows below.
    constexpr std::uint32_t ADDED_BIT = 0x80000000u;
    std::vector<Entry> added;
    auto nameOf = [&](std::uint32_t slot) -> std::string_view {
        std::uint32_t index = (slot & ~ADDED_BIT) - 1;
        return (slot & ADDED_BIT) ? added[index].first : Name(m_lines[index]);
    };
    KeyIndex<decltype(nameOf)> keys(existing + entries.size(), nameOf);
    constexpr std::uint32_t EMPTY_SLOT = decltype(keys)::EMPTY_SLOT;
    constexpr std::size_t PREFETCH_AHEAD = 16; // names hashed and prefetched ahead

    std::size_t anchor = std::string::npos; // new keys go after this line
    if (sec != std::string::npos) {
        anchor = sec;
        std::vector<std::size_t> hashes(end - sec - 1);
        for (std::size_t i = sec + 1; i < end; ++i)
            if (m_lines[i].kind == Kind::Entry)
                hashes[i - sec - 1] = HashNoCase(Name(m_lines[i]));
        for (std::size_t i = sec + 1; i < end; ++i) {
            if (i + PREFETCH_AHEAD < end)
                keys.Prefetch(hashes[i + PREFETCH_AHEAD - sec - 1]);
            if (m_lines[i].kind != Kind::Blank)
                anchor = i;
            if (m_lines[i].kind == Kind::Entry) {
                std::uint32_t& slot = keys.Probe(Name(m_lines[i]), hashes[i - sec - 1]);
                if (slot == EMPTY_SLOT) // the first line of a key is the one read
                    slot = static_cast<std::uint32_t>(i + 1);
            }
        }
    }

    std::vector<std::size_t> hashes(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e)
        hashes[e] = HashNoCase(entries[e].first);
    std::string text;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (e + PREFETCH_AHEAD < entries.size())
            keys.Prefetch(hashes[e + PREFETCH_AHEAD]);
        const auto& [key, value] = entries[e];
        std::uint32_t& slot = keys.Probe(key, hashes[e]);
        if (slot == EMPTY_SLOT) {
            added.emplace_back(key, value);
            slot = static_cast<std::uint32_t>(added.size()) | ADDED_BIT;
        } else if (slot & ADDED_BIT) {
            added[(slot & ~ADDED_BIT) - 1].second = value;
        } else {
            Line& line = m_lines[slot - 1];
            // A line that reads as the new value keeps its bytes.
            if (ProfileValue(RawValue(line)) == ProfileValue(value))
                continue;
            // Keep the line as it was up to the value: its indentation, the
            // key's spelling and the spacing around '='.
            text.assign(Text(line).substr(0, line.valueOff));
            text.append(value);
            line = MakeLine(text, line.eol);
        }
    }
    if (added.empty())
        return;

    std::vector<Line> newLines;
    newLines.reserve(added.size() + 1);
    if (sec == std::string::npos) {
        text.assign("[");
        text.append(section);
        text.append("]");
        newLines.push_back(MakeLine(text, m_eol));
        anchor = m_lines.empty() ? std::string::npos : m_lines.size() - 1;
    }
    for (const auto& [key, value] : added) {
        text.assign(key);
        text.append("=");
        text.append(value);
        newLines.push_back(MakeLine(text, m_eol));
    }
    std::size_t at = 0;
    if (anchor != std::string::npos) {
        // The line before the new ones may be the last of a file without a
        // final line break.
        if (m_lines[anchor].eol == Eol::None)
            m_lines[anchor].eol = m_eol;
        at = anchor + 1;
    }
    // A lone CR before an empty LF line would be read back as one CR LF, and
    // the empty line lost.
    if (at < m_lines.size() && m_lines[at].len == 0 && m_lines[at].eol == Eol::Lf &&
        newLines.back().eol == Eol::Cr)
        newLines.back().eol = Eol::CrLf;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), newLines.begin(), newLines.end());
}

namespace {

std::string NotUtf8(std::size_t index)
{
    return Message(Msg::LineNotUtf8, index + 1);
}

} // namespace

Result<std::string> ProfileDocument::Bytes() const
{
    if (m_fromGbk)
        return SerializeGbk();
    std::size_t total = m_bom ? UTF8_BOM.size() : 0;
    for (const Line& line : m_lines)
        total += line.len + EolBytes(line.eol).size();
    std::string out;
    out.reserve(total);
    if (m_bom)
        out.append(UTF8_BOM);
    bool edited = false;
    for (const Line& line : m_lines) {
        edited = edited || line.edited;
        out.append(Text(line));
        out.append(EolBytes(line.eol));
    }
    // Text set that is not UTF-8 would make the whole file read as GBK. The
    // lines are apart by ASCII line breaks, so one check covers them all.
    if (edited && !IsValidUtf8(out)) {
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i].edited && !IsValidUtf8(Text(m_lines[i])))
                return Error(std::string(), NotUtf8(i));
        }
    }
    return out;
}

Result<std::string> ProfileDocument::SerializeGbk() const
{
    GbkCodec codec;
    std::string out;
    out.reserve(m_raw.size() + m_edits.size());
    if (m_bom)
        out.append(UTF8_BOM);
    const std::size_t body = out.size();

    // GBK while everything set can be written in GBK: old lines as they were.
    std::size_t needsUtf8 = std::string::npos;
    for (std::size_t i = 0; i < m_lines.size() && needsUtf8 == std::string::npos; ++i) {
        const Line& line = m_lines[i];
        if (!line.edited)
            out.append(std::string_view(m_raw).substr(line.rawOff, line.rawLen));
        else if (std::optional<std::string_view> encoded = codec.Encode(Text(line)))
            out.append(*encoded);
        else
            needsUtf8 = i;
        out.append(EolBytes(line.eol));
    }
    // Bytes that are valid UTF-8 would be read as UTF-8, not as the GBK meant.
    if (needsUtf8 == std::string::npos && !IsValidUtf8(std::string_view(out).substr(body)))
        return out;

    // Otherwise the whole file becomes UTF-8, if that loses nothing.
    out.resize(body);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.edited && !IsValidUtf8(Text(line)))
            return Error(std::string(), NotUtf8(i));
        if (line.lossy) {
            const std::string why = needsUtf8 == std::string::npos
                                        ? std::string()
                                        : Message(Msg::GbkLineNeedsUtf8, needsUtf8 + 1);
            return Error(std::string(), Message(Msg::GbkMustBecomeUtf8, why, i + 1));
        }
        out.append(Text(line));
        out.append(EolBytes(line.eol));
    }
    return out;
}

std::string ProfileDocument::Serialize() const
{
    return Bytes().value_or(std::string());
}

IoStatus ProfileDocument::Save(const std::string& path, const WriteOptions& options) const
{
    Result<std::string> bytes = Bytes();
    if (!bytes)
        return Error(bytes.error()).About(path);
    AtomicFile file(path, options);
    if (IoStatus s = file.Open(); !s.ok())
        return s;
    if (IoStatus s = file.Write(bytes->data(), bytes->size()); !s.ok())
        return s;
    return file.Commit();
}

} // namespace voicelib
