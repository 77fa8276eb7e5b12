#include "core/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <limits>

namespace voicelib {

namespace {

// Larger files are not profiles anyone wrote by hand or by export; refusing
// them keeps a stray device or disk image from being read into memory.
constexpr long long kMaxFileBytes = 512ll * 1024 * 1024;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// FNV-1a over the lowercased bytes.
std::size_t HashNoCase(std::string_view s)
{
    std::uint64_t h = 14695981039346656037ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(Lower(c));
        h *= 1099511628211ull;
    }
    // Keys differ in their last digits; mix those into the low bits the table uses.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

// Names and values reach the caller as C strings would: up to a NUL byte.
std::string_view CutAtNul(std::string_view s)
{
    auto nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

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

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int follow;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= follow)
            return false;
        for (int i = 1; i <= follow; ++i) {
            unsigned cc = p[i];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((follow == 2 && cp < 0x800) || (follow == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += follow + 1;
    }
    return true;
}

std::string GbkToUtf8(std::string_view bytes)
{
    std::string out;
    iconv_t cd = ::iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter installed: keep what is ASCII, mark the rest.
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                out += kReplacement;
        }
        return out;
    }
    // A GBK byte becomes at most three UTF-8 bytes (a replacement character
    // for a stray byte), so the output never needs to grow.
    out.resize(bytes.size() * 3 + 8);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            std::memcpy(dst, kReplacement.data(), kReplacement.size());
            dst += kReplacement.size();
            outLeft -= kReplacement.size();
            ++in;
            --inLeft;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr); // reset the shift state
        } else {
            break; // E2BIG cannot happen with the size above
        }
    }
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

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
    if (bytes.size() > static_cast<std::size_t>(kMaxFileBytes))
        bytes.resize(static_cast<std::size_t>(kMaxFileBytes));
    std::size_t start = 0;
    if (std::string_view(bytes).substr(0, kBom.size()) == kBom) {
        doc.m_bom = true;
        start = kBom.size();
    }
    std::string_view text = std::string_view(bytes).substr(start);
    if (IsValidUtf8(text)) {
        doc.m_text = std::move(bytes); // the lines simply start after a mark
    } else {
        doc.m_text = GbkToUtf8(text);
        doc.m_fromGbk = true;
        start = 0;
    }
    doc.ParseText(start);
    return doc;
}

void ProfileDocument::ParseText(std::size_t pos)
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

IoStatus ProfileDocument::Load(const std::string& path, ProfileDocument* doc, bool* missing)
{
    int err = 0;
    FileHandle file = FileHandle::OpenRead(path, &err);
    if (missing)
        *missing = !file.valid() && err == ENOENT;
    if (!file.valid())
        return IoStatus::FromErrno(path, err);
    long long size = FileSize(file.fd(), &err);
    if (size < 0)
        return IoStatus::FromErrno(path, err);
    if (size > kMaxFileBytes)
        return IoStatus::Error(path, "file is too large for a list file");

    // Read to the end rather than trusting the size: it may still be growing,
    // or not be a regular file at all.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(size) + 1);
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (static_cast<long long>(bytes.size()) > kMaxFileBytes)
                return IoStatus::Error(path, "file is too large for a list file");
            bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4096));
        }
        long long r = ReadAt(file.fd(), bytes.data() + have, bytes.size() - have, have, &err);
        if (r < 0)
            return IoStatus::FromErrno(path, err);
        if (r == 0)
            break;
        have += static_cast<std::size_t>(r);
    }
    bytes.resize(have);
    *doc = ParseOwned(std::move(bytes));
    return {};
}

std::size_t ProfileDocument::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == Kind::Section && EqualsNoCase(Name(m_lines[i]), section))
            return i;
    }
    return std::string::npos;
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

    // An open-addressing table of where each key is: an existing line, or a
    // line still to be added (tagged). It holds indices, not names, because
    // the names of edited lines live in m_edits, which grows below.
    constexpr std::uint32_t kEmpty = 0;
    constexpr std::uint32_t kAdded = 0x80000000u;
    std::size_t capacity = 16;
    while (capacity < 2 * (existing + entries.size()))
        capacity *= 2;
    std::vector<std::uint32_t> table(capacity, kEmpty);
    std::vector<Entry> added;

    auto nameOf = [&](std::uint32_t slot) -> std::string_view {
        std::uint32_t index = (slot & ~kAdded) - 1;
        return (slot & kAdded) ? added[index].first : Name(m_lines[index]);
    };
    // The slot of a name with that hash: where it is, or the empty slot it
    // would go to.
    const std::size_t mask = capacity - 1;
    auto probe = [&](std::string_view name, std::size_t hash) -> std::uint32_t& {
        std::size_t i = hash & mask;
        while (table[i] != kEmpty && !EqualsNoCase(nameOf(table[i]), name))
            i = (i + 1) & mask;
        return table[i];
    };
    // A large table is one cache miss a lookup; hashing a few names ahead and
    // prefetching their slots lets those misses overlap.
    constexpr std::size_t kAhead = 16;
    auto prefetch = [&](std::size_t hash) { __builtin_prefetch(&table[hash & mask]); };

    std::size_t anchor = std::string::npos; // new keys go after this line
    if (sec != std::string::npos) {
        anchor = sec;
        std::vector<std::size_t> hashes(end - sec - 1);
        for (std::size_t i = sec + 1; i < end; ++i)
            if (m_lines[i].kind == Kind::Entry)
                hashes[i - sec - 1] = HashNoCase(Name(m_lines[i]));
        for (std::size_t i = sec + 1; i < end; ++i) {
            if (i + kAhead < end)
                prefetch(hashes[i + kAhead - sec - 1]);
            if (m_lines[i].kind != Kind::Blank)
                anchor = i;
            if (m_lines[i].kind == Kind::Entry) {
                std::uint32_t& slot = probe(Name(m_lines[i]), hashes[i - sec - 1]);
                if (slot == kEmpty) // the first line of a key is the one read
                    slot = static_cast<std::uint32_t>(i + 1);
            }
        }
    }

    std::vector<std::size_t> hashes(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e)
        hashes[e] = HashNoCase(entries[e].first);
    std::string text;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (e + kAhead < entries.size())
            prefetch(hashes[e + kAhead]);
        const auto& [key, value] = entries[e];
        std::uint32_t& slot = probe(key, hashes[e]);
        if (slot == kEmpty) {
            added.emplace_back(key, value);
            slot = static_cast<std::uint32_t>(added.size()) | kAdded;
        } else if (slot & kAdded) {
            added[(slot & ~kAdded) - 1].second = value;
        } else {
            Line& line = m_lines[slot - 1];
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
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), newLines.begin(), newLines.end());
}

std::string ProfileDocument::Serialize() const
{
    std::size_t total = m_bom ? kBom.size() : 0;
    for (const Line& line : m_lines)
        total += line.len + EolBytes(line.eol).size();
    std::string out;
    out.reserve(total);
    if (m_bom)
        out.append(kBom);
    for (const Line& line : m_lines) {
        out.append(Text(line));
        out.append(EolBytes(line.eol));
    }
    return out;
}

IoStatus ProfileDocument::Save(const std::string& path, const WriteOptions& options) const
{
    std::string bytes = Serialize();
    AtomicFile file(path, options);
    if (IoStatus s = file.Open(); !s.ok())
        return s;
    if (IoStatus s = file.Write(bytes.data(), bytes.size()); !s.ok())
        return s;
    return file.Commit();
}

} // namespace voicelib
