#pragma once

// The voice list file: section "ZuLibItem", key "ZuCount" with the number of
// rows, keys D000, D001, ... D999, D1000, ... with each row's path.

#include "core/fileio.h"

#include <string>
#include <vector>

namespace voicelib {

class VoiceList;

// A count above this is taken as a damaged file rather than a list to load.
inline constexpr long long MAX_LIST_ROWS = 1000000;

// Key of row i: "D%03d".
std::string ListKey(int row);

// Reads the rows of a list file. On failure (missing or unreadable file,
// implausible count) *rows is left untouched.
IoStatus ReadListFile(const std::string& path, std::vector<std::string>* rows);

// Writes ZuCount and every row's key into the file, keeping every other line
// of an existing file as it was. Atomic: on failure the old file is intact.
// The target rules (see CheckTarget) are applied before the old file is read.
IoStatus WriteListFile(const std::string& path, const std::vector<std::string>& rows,
                       const WriteOptions& options = {});

// Load replaces the list's rows (nothing selected afterwards) and keeps the
// list as it was when the file cannot be read.
IoStatus LoadListFile(const std::string& path, VoiceList& list);
IoStatus ExportListFile(const std::string& path, const VoiceList& list, const WriteOptions& options = {});

} // namespace voicelib
