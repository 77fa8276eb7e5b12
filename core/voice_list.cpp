#include "core/voice_list.h"

#include <algorithm>
#include <utility>

namespace voicelib {

namespace {

const std::string kNoPath;

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
    return IsValidRow(row) ? m_paths[static_cast<std::size_t>(row)] : kNoPath;
}

std::string VoiceList::GetResolvedPath(int row) const
{
    return ResolvePath(m_baseFolder, GetPath(row));
}

std::vector<std::string> VoiceList::ResolvedPaths() const
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
    if (!IsValidRow(row) || path.empty())
        return false;
    std::string& current = m_paths[static_cast<std::size_t>(row)];
    if (current == path)
        return false;
    current = path;
    Notify([&](VoiceListObserver& o) { o.RowChanged(row); });
    return true;
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
