#pragma once

// Text encodings of list files: UTF-8, and GBK (code page 936) for files
// written on systems that used it.

#include <memory>
#include <string>
#include <string_view>

namespace voicelib {

// U+FFFD in UTF-8: what a byte that does not decode becomes.
inline constexpr std::string_view REPLACEMENT_CHAR = "\xEF\xBF\xBD";

// Whether bytes are valid UTF-8 (no overlongs, surrogates or code points
// above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// GBK (code page 936) to UTF-8; bytes that are not GBK become U+FFFD, and
// *lossless (if given) says whether there were none.
std::string GbkToUtf8(std::string_view bytes, bool* lossless = nullptr);

// UTF-8 to GBK, only where that is exact: the result reads back as the same
// text. Returns false for text that is not UTF-8 or has characters GBK lacks.
bool Utf8ToGbk(std::string_view text, std::string* out);

// Both directions between UTF-8 and GBK, keeping its converters open for
// many conversions.
class GbkCodec
{
public:
    GbkCodec();
    ~GbkCodec();
    GbkCodec(const GbkCodec&) = delete;
    GbkCodec& operator=(const GbkCodec&) = delete;

    // Appends the text of GBK bytes; false when some were not GBK.
    bool Decode(std::string_view bytes, std::string* out);
    // GBK bytes that read back as exactly this text, or false.
    bool Encode(std::string_view text, std::string* out);

private:
    class Converter;
    std::unique_ptr<Converter> m_decode;
    std::unique_ptr<Converter> m_encode;
    std::string m_check;
};

} // namespace voicelib
