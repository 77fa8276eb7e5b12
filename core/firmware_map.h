#pragma once

// What firmware needs to find the prompts in a built library: a C header
// with an index per entry named after its file, and a CSV map.

#include <cstdint>
#include <string>
#include <vector>

namespace voicelib {

struct BuildSummary;

inline constexpr const char* DEFAULT_MAP_PREFIX = "VOICE_";

// One library entry as the header and the map describe it.
struct MapEntry
{
    std::string name;   // unique C identifier
    std::string source; // the row's path
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

// The names the header itself defines besides the entries' ("COUNT", ...).
std::vector<std::string> FirmwareMapReservedNames(const std::string& prefix);

// One C identifier per path from its file stem: the prefix, then the stem in
// capitals with every run of other characters as one '_' (the row's index
// when nothing is left), a leading digit prefixed with 'N', keywords and the
// header's own and reserved names avoided, clashes numbered _2, _3, ...
std::vector<std::string> FirmwareNames(const std::vector<std::string>& paths, const std::string& prefix);

// The entries of a library built from these paths with these sizes.
std::vector<MapEntry> FirmwareMapEntries(const std::vector<std::string>& paths, const BuildSummary& summary,
                                         const std::string& prefix);

// The header's text; library is the library's file name, for its comment.
std::string FirmwareHeaderText(const std::vector<MapEntry>& entries, const std::string& prefix,
                               const std::string& headerPath, const std::string& library);

// "index,name,source,offset,size,seconds" and a line per entry, CRLF, RFC 4180 quoting.
std::string FirmwareMapCsv(const std::vector<MapEntry>& entries);

} // namespace voicelib
