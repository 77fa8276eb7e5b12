#include "core/list_file.h"

#include "core/messages.h"
#include "core/profile.h"
#include "core/text.h"
#include "core/voice_list.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>
#include <filesystem>
#include <sys/stat.h>

namespace voicelib {

namespace {

constexpr std::string_view LIST_SECTION = "ZuLibItem";
constexpr std::string_view COUNT_KEY = "ZuCount";

// The row a key stands for, when it is exactly ListKey(row) (any case).
// "D0001" is no row's key: indices of four digits and more are not padded.
long long RowOfKey(std::string_view key)
{
    if (key.size() < 4 || key.size() > 11 || (key[0] != 'D' && key[0] != 'd'))
        return -1;
    std::string_view digits = key.substr(1);
    if (digits.size() > 3 && digits[0] == '0')
        return -1;
    long long row = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        row = row * 10 + (c - '0');
    }
    return row;
}

// Reading trims a value and takes one pair of enclosing quotes off, so a
// path that would lose something that way is written inside quotes.
std::string_view StoredValue(std::string_view path, std::string& scratch)
{
    bool edgeSpace = !path.empty() && (IsSpace(path.front()) || IsSpace(path.back()));
    bool quoted =
        path.size() >= 2 && (path.front() == '"' || path.front() == '\'') && path.back() == path.front();
    if (!edgeSpace && !quoted)
        return path;
    scratch.assign("\"");
    scratch.append(path);
    scratch.append("\"");
    return scratch;
}

std::string CurrentFolder()
{
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    return ec ? std::string() : cwd;
}

// Whether two folders ("" for the current one) are the same, also when
// named differently or through a link.
bool SameFolder(const std::string& a, const std::string& b)
{
    const std::string x = a.empty() ? "." : a;
    const std::string y = b.empty() ? "." : b;
    if (x == y)
        return true;
    struct stat sx, sy;
    return ::stat(x.c_str(), &sx) == 0 && ::stat(y.c_str(), &sy) == 0 && sx.st_dev == sy.st_dev &&
           sx.st_ino == sy.st_ino;
}

} // namespace

std::string ListFolder(const std::string& listPath)
{
    const auto slash = listPath.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : listPath.substr(0, slash == 0 ? 1 : slash);
    if (!dir.empty() && dir.front() == '/')
        return dir;
    while (dir.rfind("./", 0) == 0)
        dir.erase(0, 2);
    if (dir == ".")
        dir.clear();
    const std::string cwd = CurrentFolder();
    if (cwd.empty())
        return dir; // the current folder is gone: relative is the best there is
    if (dir.empty())
        return cwd;
    return (cwd.back() == '/' ? cwd : cwd + "/") + dir;
}

std::string ListKey(int row)
{
    char digits[16];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, row);
    (void)ec; // an int always fits
    std::string key = "D";
    std::size_t n = static_cast<std::size_t>(end - digits);
    if (row >= 0 && n < 3)
        key.append(3 - n, '0');
    key.append(digits, n);
    return key;
}

Result<std::vector<std::string>> RowsFromDocument(const ProfileDocument& doc, const std::string& path)
{
    if (!doc.HasSection(LIST_SECTION))
        return Error(path, Message(Msg::NotListFile));
    std::int32_t count = doc.GetInt(LIST_SECTION, COUNT_KEY, 0);
    if (count > MAX_LIST_ROWS) {
        return Error(path, Message(Msg::ListCountTooLarge, count, MAX_LIST_ROWS));
    }
    if (count <= 0)
        return std::vector<std::string>();
    // One pass over the section instead of one lookup per row; the first
    // line of a key wins, as it does for a single lookup.
    std::vector<std::string_view> values(static_cast<std::size_t>(count));
    std::vector<bool> seen(static_cast<std::size_t>(count), false);
    doc.ForEachEntry(LIST_SECTION, [&](std::string_view key, std::string_view value) {
        long long row = RowOfKey(key);
        if (row < 0 || row >= count || seen[static_cast<std::size_t>(row)])
            return;
        seen[static_cast<std::size_t>(row)] = true;
        values[static_cast<std::size_t>(row)] = value;
    });
    std::vector<std::string> out;
    out.reserve(values.size());
    for (std::string_view v : values)
        out.emplace_back(v);
    return out;
}

Result<std::vector<std::string>> ReadListFile(const std::string& path)
{
    Result<ProfileDocument> doc = ProfileDocument::Load(path);
    if (!doc)
        return doc.error();
    return RowsFromDocument(*doc, path);
}

namespace {

// Whether every row can be stored so that it reads back unchanged.
IoStatus CheckRows(const std::string& path, const std::vector<std::string>& rows)
{
    if (rows.size() > static_cast<std::size_t>(MAX_LIST_ROWS)) {
        return Error(path, Message(Msg::TooManyRows, rows.size(), MAX_LIST_ROWS));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string& row = rows[i];
        if (std::memchr(row.data(), '\n', row.size()) || std::memchr(row.data(), '\r', row.size()) ||
            std::memchr(row.data(), '\0', row.size())) {
            return Error(path, Message(Msg::RowLineBreak, i));
        }
        // The file is text: one such row would make the reader take it all as GBK.
        // Most rows are plain ASCII, which needs no closer look.
        if (!IsAscii(row) && !IsValidUtf8(row)) {
            return Error(path, Message(Msg::RowNotUtf8, i));
        }
    }

    return {};
}

void SetRows(ProfileDocument& doc, const std::vector<std::string>& rows)
{
    // The entries point into these, so neither may move its strings:
    // keys is reserved up front, a deque never moves its elements.
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    std::deque<std::string> quoted;
    std::vector<ProfileDocument::Entry> entries;
    entries.reserve(rows.size() + 1);
    std::string count = std::to_string(rows.size());
    entries.emplace_back(COUNT_KEY, count);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        keys.push_back(ListKey(static_cast<int>(i)));
        std::string scratch;
        std::string_view value = StoredValue(rows[i], scratch);
        if (!scratch.empty()) {
            quoted.push_back(std::move(scratch));
            value = quoted.back();
        }
        entries.emplace_back(keys.back(), value);
    }
    doc.SetStrings(LIST_SECTION, entries);
}

} // namespace

IoStatus SetRowsInDocument(ProfileDocument& doc, const std::string& path,
                           const std::vector<std::string>& rows)
{
    if (IoStatus s = CheckRows(path, rows); !s.ok())
        return s;
    SetRows(doc, rows);
    return {};
}

IoStatus WriteListFile(const std::string& path, const std::vector<std::string>& rows,
                       const WriteOptions& options, const std::string& baseFolder)
{
    // Relative rows stay relative only where they still name the same files.
    const std::vector<std::string>* stored = &rows;
    std::vector<std::string> resolved;
    const bool relative = std::any_of(rows.begin(), rows.end(),
                                      [](const std::string& r) { return !r.empty() && r.front() != '/'; });
    if (relative && rows.size() <= static_cast<std::size_t>(MAX_LIST_ROWS) &&
        !SameFolder(baseFolder, ListFolder(path))) {
        const std::string base = baseFolder.empty() ? CurrentFolder() : baseFolder;
        resolved.reserve(rows.size());
        for (const std::string& row : rows)
            resolved.push_back(ResolvePath(base, row));
        stored = &resolved;
    }

    if (IoStatus s = CheckRows(path, *stored); !s.ok())
        return s;
    // Before the old file is read: a FIFO there would never give an end.
    if (Result<TargetInfo> target = CheckTarget(path, options, TargetKind::Document); !target)
        return target.error();
    Result<ProfileDocument> loaded = ProfileDocument::Load(path);
    if (!loaded && loaded.code() != std::errc::no_such_file_or_directory)
        return loaded.error();
    ProfileDocument doc = loaded ? std::move(*loaded) : ProfileDocument();
    SetRows(doc, *stored);
    return doc.Save(path, options);
}

IoStatus LoadListFile(const std::string& path, VoiceList& list)
{
    Result<std::vector<std::string>> rows = ReadListFile(path);
    if (!rows)
        return rows.error();
    list.Assign(std::move(*rows), ListFolder(path));
    return {};
}

IoStatus ExportListFile(const std::string& path, const VoiceList& list, const WriteOptions& options)
{
    if (list.GetItemCount() == 0)
        return {};
    return WriteListFile(path, list.GetPaths(), options, list.GetBaseFolder());
}

} // namespace voicelib
