#pragma once

// Text encodings of list files: UTF-8, and GBK (code page 936) for files
// written on systems that used it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace voicelib {

// U+FFFD in UTF-8: what a byte that does not decode becomes.
inline constexpr std::string_view REPLACEMENT_CHAR = "\xEF\xBF\xBD";

// Whether bytes are valid UTF-8 (no overlongs, surrogates or code points
// above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// GBK (code page 936) to UTF-8; bytes that are not GBK become U+FFFD.
std::string GbkToUtf8(std::string_view bytes);

// UTF-8 to GBK, only where that is exact: the result reads back as the same
// text. Nothing for text that is not UTF-8 or has characters GBK lacks.
std::optional<std::string> Utf8ToGbk(std::string_view text);

// A conversion's text, and whether it was exact.
struct Conversion
{
    std::string text;
    bool exact = true;
};

// Both directions between UTF-8 and GBK, keeping its converters open for
// many conversions.
class GbkCodec
{
public:
    GbkCodec();
    ~GbkCodec();
    GbkCodec(const GbkCodec&) = delete;
    GbkCodec& operator=(const GbkCodec&) = delete;

    // text with the text of GBK bytes after it; bytes that are not GBK become
    // U+FFFD and make the conversion inexact. Handing the text in and taking
    // it back lets many lines go into one buffer without a copy.
    Conversion Decode(std::string_view bytes, std::string text = {});
    // GBK bytes that read back as exactly this text, or nothing. They live in
    // the codec until its next Encode.
    std::optional<std::string_view> Encode(std::string_view text);

private:
    class Converter;
    std::unique_ptr<Converter> m_decode;
    std::unique_ptr<Converter> m_encode;
    std::string m_encoded;
    std::string m_check;
};

} // namespace voicelib
