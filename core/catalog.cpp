#include "core/catalog.h"

#include <cstdint>

namespace voicelib {

namespace {

constexpr std::uint32_t MO_MAGIC = 0x950412de;
constexpr std::uint32_t MO_MAGIC_SWAPPED = 0xde120495;
constexpr std::size_t MO_HEADER_BYTES = 20;

class MoReader
{
public:
    explicit MoReader(std::string_view bytes) : m_bytes(bytes) {}

    bool Start()
    {
        if (m_bytes.size() < MO_HEADER_BYTES)
            return false;
        const std::uint32_t magic = Raw(0);
        if (magic != MO_MAGIC && magic != MO_MAGIC_SWAPPED)
            return false;
        m_swapped = magic == MO_MAGIC_SWAPPED;
        // Only the major revision changes the layout.
        return (Word(4) >> 16) == 0;
    }

    std::uint32_t Word(std::size_t at) const
    {
        const std::uint32_t v = Raw(at);
        return m_swapped ? __builtin_bswap32(v) : v;
    }

    // String i of the table at offset table; nullopt when it lies outside the file.
    std::optional<std::string_view> String(std::uint32_t table, std::uint32_t i) const
    {
        const std::uint64_t entry = std::uint64_t(table) + std::uint64_t(i) * 8;
        if (entry + 8 > m_bytes.size())
            return std::nullopt;
        const std::uint64_t length = Word(entry);
        const std::uint64_t offset = Word(entry + 4);
        // The string is followed by a NUL that its length does not count.
        if (offset + length + 1 > m_bytes.size())
            return std::nullopt;
        return m_bytes.substr(offset, length);
    }

private:
    std::uint32_t Raw(std::size_t at) const
    {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(m_bytes[at + i]);
        return v;
    }

    std::string_view m_bytes;
    bool m_swapped = false;
};

} // namespace

std::optional<CatalogTexts> ParseCatalog(std::string_view bytes)
{
    MoReader mo(bytes);
    if (!mo.Start())
        return std::nullopt;
    const std::uint32_t count = mo.Word(8);
    const std::uint32_t originals = mo.Word(12);
    const std::uint32_t translations = mo.Word(16);
    if (std::uint64_t(count) * 8 > bytes.size())
        return std::nullopt;
    CatalogTexts texts;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto original = mo.String(originals, i);
        const auto translation = mo.String(translations, i);
        if (!original || !translation)
            return std::nullopt;
        // A context is joined to its original by EOT, plural forms by NUL.
        if (original->empty() || original->find('\x04') != std::string_view::npos ||
            original->find('\0') != std::string_view::npos)
            continue;
        texts.emplace(*original, *translation);
    }
    return texts;
}

} // namespace voicelib
