#include "core/voice_list.h"

#include <algorithm>
#include <utility>

namespace voicelib {

namespace {

const std::string NO_PATH;

} // namespace

std::string ResolvePath(const std::string& base, const std::string& path)
{
    if (base.empty() || path.empty() || path.front() == '/')
        return path;
    std::string resolved = base;
    if (resolved.back() != '/')
        resolved += '/';
    return resolved + path;
}

// Observers are called on a copy of the list, so one may detach itself (or
// another) from inside a notification.
template <typename Fn> void VoiceList::Notify(Fn&& fn)
{
    const std::vector<VoiceListObserver*> observers = m_observers;
    for (VoiceListObserver* o : observers) {
        if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end())
            fn(*o);
    }
}

const std::string& VoiceList::GetPath(int row) const
{
    return IsValidRow(row) ? m_paths[static_cast<std::size_t>(row)] : NO_PATH;
}

std::string VoiceList::GetResolvedPath(int row) const
{
    return ResolvePath(m_baseFolder, GetPath(row));
}

std::vector<std::string> VoiceList::GetResolvedPaths() const
{
    if (m_baseFolder.empty())
        return m_paths;
    std::vector<std::string> paths;
    paths.reserve(m_paths.size());
    for (const std::string& p : m_paths)
        paths.push_back(ResolvePath(m_baseFolder, p));
    return paths;
}

void VoiceList::SetSelected(int row)
{
    const int selected = IsValidRow(row) ? row : -1;
    if (selected == m_selected)
        return;
    m_selected = selected;
    Notify([&](VoiceListObserver& o) { o.SelectionChanged(m_selected); });
}

bool VoiceList::Append(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return false;
    const int first = GetItemCount();
    const int last = first + static_cast<int>(paths.size()) - 1;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeInserted(first, last); });
    m_paths.insert(m_paths.end(), paths.begin(), paths.end());
    Notify([&](VoiceListObserver& o) { o.RowsInserted(first, last); });
    return true;
}

bool VoiceList::Insert(const std::string& path)
{
    // An empty path is what a cancelled file dialog gives.
    const int s = m_selected;
    if (s < 0 || path.empty())
        return false;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeInserted(s, s); });
    m_paths.insert(m_paths.begin() + s, path);
    m_selected = s + 1;
    Notify([&](VoiceListObserver& o) { o.RowsInserted(s, s); });
    Notify([&](VoiceListObserver& o) { o.SelectionChanged(m_selected); });
    return true;
}

bool VoiceList::DeleteSelected()
{
    const int s = m_selected;
    if (s < 0)
        return false;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeRemoved(s, s); });
    m_paths.erase(m_paths.begin() + s);
    m_selected = -1;
    Notify([&](VoiceListObserver& o) { o.RowsRemoved(s, s); });
    Notify([&](VoiceListObserver& o) { o.SelectionChanged(-1); });
    return true;
}

bool VoiceList::MoveUp()
{
    const int s = m_selected;
    if (s <= 0)
        return false;
    Notify([&](VoiceListObserver& o) { o.RowAboutToBeMoved(s, s - 1); });
    std::swap(m_paths[static_cast<std::size_t>(s)], m_paths[static_cast<std::size_t>(s - 1)]);
    m_selected = s - 1;
    Notify([&](VoiceListObserver& o) { o.RowMoved(s, s - 1); });
    Notify([&](VoiceListObserver& o) { o.SelectionChanged(m_selected); });
    return true;
}

bool VoiceList::MoveDown()
{
    const int s = m_selected;
    if (s < 0 || s >= GetItemCount() - 1)
        return false;
    Notify([&](VoiceListObserver& o) { o.RowAboutToBeMoved(s, s + 1); });
    std::swap(m_paths[static_cast<std::size_t>(s)], m_paths[static_cast<std::size_t>(s + 1)]);
    m_selected = s + 1;
    Notify([&](VoiceListObserver& o) { o.RowMoved(s, s + 1); });
    Notify([&](VoiceListObserver& o) { o.SelectionChanged(m_selected); });
    return true;
}

bool VoiceList::Replace(int row, const std::string& path)
{
    return !path.empty() && SetPath(row, path);
}

int RowAfterMove(int row, int first, int last, int to)
{
    const int n = last - first + 1;
    if (row >= first && row <= last)
        return row - first + to;
    if (to < first && row >= to && row < first)
        return row + n;
    if (to > first && row > last && row < to + n)
        return row - n;
    return row;
}

bool VoiceList::SetPath(int row, const std::string& path)
{
    if (!IsValidRow(row) || m_paths[static_cast<std::size_t>(row)] == path)
        return false;
    Notify([&](VoiceListObserver& o) { o.RowAboutToChange(row); });
    m_paths[static_cast<std::size_t>(row)] = path;
    Notify([&](VoiceListObserver& o) { o.RowChanged(row); });
    return true;
}

std::vector<int> VoiceList::ValidRows(const std::vector<int>& rows) const
{
    std::vector<int> valid;
    valid.reserve(rows.size());
    for (int r : rows)
        if (IsValidRow(r))
            valid.push_back(r);
    std::sort(valid.begin(), valid.end());
    valid.erase(std::unique(valid.begin(), valid.end()), valid.end());
    return valid;
}

void VoiceList::SelectQuietly(int row, int before)
{
    m_selected = row;
    if (row != before)
        Notify([&](VoiceListObserver& o) { o.SelectionChanged(m_selected); });
}

bool VoiceList::InsertAt(int row, const std::vector<std::string>& paths)
{
    if (paths.empty() || row < 0 || row > GetItemCount())
        return false;
    const int n = static_cast<int>(paths.size());
    const int before = m_selected;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeInserted(row, row + n - 1); });
    m_paths.insert(m_paths.begin() + row, paths.begin(), paths.end());
    m_selected = before >= row ? before + n : before;
    Notify([&](VoiceListObserver& o) { o.RowsInserted(row, row + n - 1); });
    SelectQuietly(m_selected, before);
    return true;
}

bool VoiceList::RemoveRange(int first, int last)
{
    if (!IsValidRow(first) || !IsValidRow(last) || first > last)
        return false;
    const int before = m_selected;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeRemoved(first, last); });
    m_paths.erase(m_paths.begin() + first, m_paths.begin() + last + 1);
    if (before > last)
        m_selected = before - (last - first + 1);
    else if (before >= first)
        m_selected = -1;
    Notify([&](VoiceListObserver& o) { o.RowsRemoved(first, last); });
    SelectQuietly(m_selected, before);
    return true;
}

bool VoiceList::RemoveRows(const std::vector<int>& rows)
{
    const std::vector<int> valid = ValidRows(rows);
    // From the last run up, so the runs above keep their indices.
    for (std::size_t end = valid.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (begin > 0 && valid[begin - 1] == valid[begin] - 1)
            --begin;
        RemoveRange(valid[begin], valid[end - 1]);
        end = begin;
    }
    return !valid.empty();
}

bool VoiceList::MoveBlock(int first, int last, int to)
{
    const int n = last - first + 1;
    if (!IsValidRow(first) || !IsValidRow(last) || n <= 0 || to < 0 || to + n > GetItemCount() || to == first)
        return false;
    const int before = m_selected;
    Notify([&](VoiceListObserver& o) { o.RowsAboutToBeMoved(first, last, to); });
    const auto b = m_paths.begin();
    if (to < first)
        std::rotate(b + to, b + first, b + last + 1);
    else
        std::rotate(b + first, b + last + 1, b + to + n);
    m_selected = RowAfterMove(before, first, last, to);
    Notify([&](VoiceListObserver& o) { o.RowsMoved(first, last, to); });
    SelectQuietly(m_selected, before);
    return true;
}

std::vector<int> VoiceList::MoveRows(const std::vector<int>& rows, int delta)
{
    const std::vector<int> valid = ValidRows(rows);
    if (valid.empty() || (delta != -1 && delta != 1) || (delta < 0 && valid.front() == 0) ||
        (delta > 0 && valid.back() == GetItemCount() - 1))
        return {};
    // Each run steps over its neighbour; runs are taken in the direction of
    // travel so the ones not yet moved keep their indices.
    const std::size_t count = valid.size();
    for (std::size_t k = 0; k < count;) {
        std::size_t i = delta < 0 ? k : count - 1 - k;
        std::size_t begin = i, end = i;
        if (delta < 0)
            while (end + 1 < count && valid[end + 1] == valid[end] + 1)
                ++end;
        else
            while (begin > 0 && valid[begin - 1] == valid[begin] - 1)
                --begin;
        MoveBlock(valid[begin], valid[end], valid[begin] + delta);
        k += end - begin + 1;
    }
    std::vector<int> moved = valid;
    for (int& r : moved)
        r += delta;
    return moved;
}

std::vector<int> VoiceList::MoveRowsTo(const std::vector<int>& rows, int target)
{
    const std::vector<int> valid = ValidRows(rows);
    if (valid.empty() || target < 0 || target > GetItemCount())
        return {};
    const auto split = std::lower_bound(valid.begin(), valid.end(), target);
    const int above = static_cast<int>(split - valid.begin());
    const int start = target - above;
    bool moved = false;
    // The runs above the target, last first, each closing up under the one
    // placed before it; then the runs below, first first.
    int end = target;
    for (auto hi = split; hi != valid.begin();) {
        auto lo = hi - 1;
        while (lo != valid.begin() && *(lo - 1) == *lo - 1)
            --lo;
        const int n = static_cast<int>(hi - lo);
        moved |= MoveBlock(*lo, *(hi - 1), end - n);
        end -= n;
        hi = lo;
    }
    int next = target;
    for (auto lo = split; lo != valid.end();) {
        auto hi = lo + 1;
        while (hi != valid.end() && *hi == *(hi - 1) + 1)
            ++hi;
        const int n = static_cast<int>(hi - lo);
        moved |= MoveBlock(*lo, *(hi - 1), next);
        next += n;
        lo = hi;
    }
    if (!moved)
        return {};
    std::vector<int> result(valid.size());
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = start + static_cast<int>(i);
    return result;
}

void VoiceList::Assign(std::vector<std::string> paths, std::string baseFolder)
{
    const bool hadSelection = m_selected >= 0;
    Notify([&](VoiceListObserver& o) { o.AboutToReset(); });
    m_paths = std::move(paths);
    m_baseFolder = std::move(baseFolder);
    m_selected = -1;
    Notify([&](VoiceListObserver& o) { o.Reset(); });
    if (hadSelection)
        Notify([&](VoiceListObserver& o) { o.SelectionChanged(-1); });
}

void VoiceList::AddObserver(VoiceListObserver* observer)
{
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void VoiceList::RemoveObserver(VoiceListObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

} // namespace voicelib
