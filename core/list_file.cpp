#include "core/list_file.h"

#include "core/profile.h"
#include "core/voice_list.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>

namespace voicelib {

namespace {

constexpr std::string_view kSection = "ZuLibItem";
constexpr std::string_view kCountKey = "ZuCount";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

IoStatus RowsFromDocument(const ProfileDocument& doc, const std::string& path, std::vector<std::string>* rows)
{
    std::int32_t count = doc.GetInt(kSection, kCountKey, 0);
    if (count > MAX_LIST_ROWS) {
        return IoStatus::Error(path, "invalid list file: ZuCount is " + std::to_string(count) +
                                         ", more than " + std::to_string(MAX_LIST_ROWS) + " rows");
    }
    if (count <= 0) {
        rows->clear();
        return {};
    }
    // One pass over the section instead of one lookup per row; the first
    // line of a key wins, as it does for a single lookup.
    std::vector<std::string_view> values(static_cast<std::size_t>(count));
    std::vector<bool> seen(static_cast<std::size_t>(count), false);
    doc.ForEachEntry(kSection, [&](std::string_view key, std::string_view value) {
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
    *rows = std::move(out);
    return {};
}

} // namespace

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

IoStatus ReadListFile(const std::string& path, std::vector<std::string>* rows)
{
    ProfileDocument doc;
    if (IoStatus s = ProfileDocument::Load(path, &doc); !s.ok())
        return s;
    return RowsFromDocument(doc, path, rows);
}

IoStatus WriteListFile(const std::string& path, const std::vector<std::string>& rows,
                       const WriteOptions& options)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string& row = rows[i];
        if (std::memchr(row.data(), '\n', row.size()) || std::memchr(row.data(), '\r', row.size()) ||
            std::memchr(row.data(), '\0', row.size())) {
            return IoStatus::Error(path, "row " + std::to_string(i) +
                                             ": a path with a line break cannot be stored in a list file");
        }
    }

    // Before the old file is read: a FIFO there would never give an end.
    TargetInfo target;
    if (IoStatus s = CheckTarget(path, options, TargetKind::Document, &target); !s.ok())
        return s;
    ProfileDocument doc;
    bool missing = false;
    if (IoStatus s = ProfileDocument::Load(path, &doc, &missing); !s.ok() && !missing)
        return s;

    // The entries point into these, so neither may move its strings:
    // keys is reserved up front, a deque never moves its elements.
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    std::deque<std::string> quoted;
    std::vector<ProfileDocument::Entry> entries;
    entries.reserve(rows.size() + 1);
    std::string count = std::to_string(rows.size());
    entries.emplace_back(kCountKey, count);
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
    doc.SetStrings(kSection, entries);
    return doc.Save(path, options);
}

IoStatus LoadListFile(const std::string& path, VoiceList& list)
{
    std::vector<std::string> rows;
    if (IoStatus s = ReadListFile(path, &rows); !s.ok())
        return s;
    list.Assign(std::move(rows));
    return {};
}

IoStatus ExportListFile(const std::string& path, const VoiceList& list, const WriteOptions& options)
{
    if (list.GetItemCount() == 0)
        return {};
    return WriteListFile(path, list.Paths(), options);
}

} // namespace voicelib
