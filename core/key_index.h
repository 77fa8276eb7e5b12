#pragma once

// An open-addressing hash table from names (ASCII case ignored) to small
// non-zero numbers. It stores the numbers only and asks nameOf(number) for
// a name, so the names can live in storage that grows while the table is
// in use.

#include "core/text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace voicelib {

// FNV-1a over the lowercased bytes.
inline std::size_t HashNoCase(std::string_view s)
{
    std::uint64_t h = 14695981039346656037ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(AsciiLower(c));
        h *= 1099511628211ull;
    }
    // Keys differ in their last digits; mix those into the low bits the table uses.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

template <typename NameOf> class KeyIndex
{
public:
    static constexpr std::uint32_t EMPTY_SLOT = 0;

    // Room for at least `names` names at most half full.
    KeyIndex(std::size_t names, NameOf nameOf) : m_nameOf(nameOf)
    {
        std::size_t capacity = 16;
        while (capacity < 2 * names)
            capacity *= 2;
        m_table.assign(capacity, EMPTY_SLOT);
        m_mask = capacity - 1;
    }

    // The slot of a name with that hash: its number, or EMPTY_SLOT where the
    // name would go.
    std::uint32_t& Probe(std::string_view name, std::size_t hash)
    {
        std::size_t i = hash & m_mask;
        while (m_table[i] != EMPTY_SLOT && !EqualsNoCase(m_nameOf(m_table[i]), name))
            i = (i + 1) & m_mask;
        return m_table[i];
    }

    // A large table is one cache miss a lookup; hashing a few names ahead
    // and prefetching their slots lets those misses overlap.
    void Prefetch(std::size_t hash) const { __builtin_prefetch(&m_table[hash & m_mask]); }

private:
    std::vector<std::uint32_t> m_table;
    std::size_t m_mask = 0;
    NameOf m_nameOf;
};

} // namespace voicelib
