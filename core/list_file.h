#pragma once

// The voice list file: section "ZuLibItem", key "ZuCount" with the number of
// rows, keys D000, D001, ... D999, D1000, ... with each row's path.

#include "core/fileio.h"

#include <string>
#include <vector>

namespace voicelib {

class ProfileDocument;
class VoiceList;

// A count above this is taken as a damaged file rather than a list to load.
inline constexpr long long MAX_LIST_ROWS = 1000000;

// Key of row i: "D%03d".
std::string ListKey(int row);

// The folder a list file's relative rows are relative to: the file's own,
// as an absolute path.
std::string ListFolder(const std::string& listPath);

// Reads the rows of a list file, as they stand in it. Fails for a missing or
// unreadable file, not a regular file, no [ZuLibItem] section, an
// implausible count.
Result<std::vector<std::string>> ReadListFile(const std::string& path);

// Writes ZuCount and every row's key into the file, keeping every other line
// of an existing file as it was. Rows relative to baseFolder ("" for the
// current folder) are written as they stand when the file goes into that
// folder, and resolved otherwise, so that each still names the same file.
// Refuses more than MAX_LIST_ROWS rows and paths a list file cannot hold.
// Atomic: on failure the old file is intact. The target rules (see
// CheckTarget) are applied before the old file is read.
IoStatus WriteListFile(const std::string& path, const std::vector<std::string>& rows,
                       const WriteOptions& options = {}, const std::string& baseFolder = {});

// Load replaces the list's rows (nothing selected afterwards) and makes the
// file's folder the list's base folder; it keeps the list as it was when the
// file cannot be read.
IoStatus LoadListFile(const std::string& path, VoiceList& list);
IoStatus ExportListFile(const std::string& path, const VoiceList& list, const WriteOptions& options = {});

// The same on a parsed document; path only names the file in messages.
Result<std::vector<std::string>> RowsFromDocument(const ProfileDocument& doc, const std::string& path);
// Sets ZuCount and the rows' keys, exactly as given, after checking that
// every row can be stored so that it reads back unchanged.
IoStatus SetRowsInDocument(ProfileDocument& doc, const std::string& path,
                           const std::vector<std::string>& rows);

} // namespace voicelib
