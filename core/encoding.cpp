#include "core/encoding.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

namespace voicelib {

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, 32 and then eight bytes at a time.
        while (end - p >= 32) {
            std::uint64_t w[4];
            std::memcpy(w, p, 32);
            if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ull)
                break;
            p += 32;
        }
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

// One iconv descriptor used for many conversions.
class GbkCodec::Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (IsValid())
            ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsValid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // out with the conversion of in after it, and whether that was exact. A
    // byte that does not convert ends a strict conversion; otherwise it
    // becomes U+FFFD and the conversion goes on after it.
    Conversion Convert(std::string_view in, bool strict, std::string out)
    {
        bool exact = true;
        char* src = const_cast<char*>(in.data());
        std::size_t left = in.size();
        std::size_t used = out.size();
        out.resize(used + in.size() * 2 + 8);
        while (left > 0) {
            char* dst = out.data() + used;
            std::size_t room = out.size() - used;
            std::size_t r = ::iconv(m_cd, &src, &left, &dst, &room);
            used = out.size() - room;
            if (r != static_cast<std::size_t>(-1)) {
                exact = exact && r == 0; // a count of inexact conversions
                break;
            }
            if (errno == E2BIG) {
                out.resize(out.size() * 2 + 16);
                continue;
            }
            exact = false;
            ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset the shift state
            if (strict)
                break;
            if (out.size() - used < REPLACEMENT_CHAR.size())
                out.resize(out.size() + 16);
            std::memcpy(out.data() + used, REPLACEMENT_CHAR.data(), REPLACEMENT_CHAR.size());
            used += REPLACEMENT_CHAR.size();
            ++src;
            --left;
        }
        out.resize(used);
        return {std::move(out), exact};
    }

private:
    iconv_t m_cd;
};

GbkCodec::GbkCodec()
    : m_decode(std::make_unique<Converter>("UTF-8", "GBK")),
      m_encode(std::make_unique<Converter>("GBK", "UTF-8"))
{
}

GbkCodec::~GbkCodec() = default;

Conversion GbkCodec::Decode(std::string_view bytes, std::string text)
{
    if (m_decode->IsValid())
        return m_decode->Convert(bytes, false, std::move(text));
    // No converter installed: keep what is ASCII, mark the rest.
    bool exact = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            text += c;
        } else {
            text.append(REPLACEMENT_CHAR);
            exact = false;
        }
    }
    return {std::move(text), exact};
}

std::optional<std::string_view> GbkCodec::Encode(std::string_view text)
{
    if (!m_encode->IsValid() || !IsValidUtf8(text))
        return std::nullopt;
    m_encoded.clear();
    Conversion encoded = m_encode->Convert(text, true, std::move(m_encoded));
    m_encoded = std::move(encoded.text);
    if (!encoded.exact)
        return std::nullopt;
    m_check.clear();
    Conversion back = Decode(m_encoded, std::move(m_check));
    m_check = std::move(back.text);
    if (!back.exact || m_check != text)
        return std::nullopt;
    return m_encoded;
}

std::string GbkToUtf8(std::string_view bytes)
{
    GbkCodec codec;
    std::string text;
    text.reserve(bytes.size() * 3 / 2 + 8);
    return codec.Decode(bytes, std::move(text)).text;
}

std::optional<std::string> Utf8ToGbk(std::string_view text)
{
    GbkCodec codec;
    if (std::optional<std::string_view> gbk = codec.Encode(text))
        return std::string(*gbk);
    return std::nullopt;
}

} // namespace voicelib
