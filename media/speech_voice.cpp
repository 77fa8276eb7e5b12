#include "media/speech.h"

#include <cstddef>
#include <string_view>

// Choosing a voice needs no synthesizer: it lives with the loader, in every program.

namespace voicelib {

namespace {

// The code point of the UTF-8 sequence at i, moving i past it; a byte that
// starts no whole sequence counts as one.
char32_t NextCodePoint(std::string_view s, std::size_t* i)
{
    const unsigned char lead = static_cast<unsigned char>(s[*i]);
    std::size_t n = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xe  ? 3
                    : (lead >> 3) == 0x1e ? 4
                                          : 1;
    if (*i + n > s.size())
        n = 1;
    char32_t c = n == 1 ? lead : lead & (0xffu >> (n + 1));
    for (std::size_t k = 1; k < n; ++k)
        c = (c << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3fu);
    *i += n;
    return c;
}

bool IsHan(char32_t c)
{
    return (c >= 0x3400 && c <= 0x4dbf) || (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xf900 && c <= 0xfaff) ||
           (c >= 0x20000 && c <= 0x2fa1f);
}

} // namespace

const char* DefaultSpeechVoice(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();)
        if (IsHan(NextCodePoint(text, &i)))
            return "cmn";
    return "en";
}

} // namespace voicelib
