#include "media/convert.h"

#include <filesystem>

// Naming needs no media library: it lives with the loader, in every program.

namespace voicelib {

std::string ConvertedName(const std::string& dir, const std::string& input)
{
    std::filesystem::path stem = std::filesystem::path(input).stem();
    return (std::filesystem::path(dir.empty() ? "." : dir) / stem).string() + ".wav";
}

} // namespace voicelib
