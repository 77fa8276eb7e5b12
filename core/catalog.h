#pragma once

// Compiled GNU gettext message catalogs (.mo files), read without libintl so
// that the language does not depend on which locales the system has.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace voicelib {

// Each original string of a catalog and its translation.
using CatalogTexts = std::unordered_map<std::string, std::string>;

// The texts of a .mo file's bytes, in either byte order; nullopt when the
// bytes are not a whole, well-formed catalog. The header entry (the empty
// original) and entries with a context or plural forms are left out.
std::optional<CatalogTexts> ParseCatalog(std::string_view bytes);

// A catalog compiled into the program from po/ at build time.
struct BuiltinCatalog
{
    const char* language;
    std::string_view bytes;
};

// English and Simplified Chinese, so a program finds every text even where
// no catalog is installed.
std::span<const BuiltinCatalog> BuiltinCatalogs();

} // namespace voicelib
