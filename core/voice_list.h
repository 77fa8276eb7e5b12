#pragma once

// The ordered list of source files a library is built from, with its single
// selection. Row i becomes entry i of the library. A row's number and its
// item data are its index, so they are derived rather than stored and can
// never drift from it.

#include <string>
#include <vector>

namespace voicelib {

// Told about every change, so a view (or the preview state) can follow rows.
class VoiceListObserver
{
public:
    virtual ~VoiceListObserver() = default;
    virtual void RowsAboutToBeInserted(int /*first*/, int /*last*/) {}
    virtual void RowsInserted(int /*first*/, int /*last*/) {}
    virtual void RowsAboutToBeRemoved(int /*first*/, int /*last*/) {}
    virtual void RowsRemoved(int /*first*/, int /*last*/) {}
    // One row moves from index `from` to index `to`; the rows between shift by one.
    virtual void RowAboutToBeMoved(int /*from*/, int /*to*/) {}
    virtual void RowMoved(int /*from*/, int /*to*/) {}
    virtual void RowChanged(int /*row*/) {}
    virtual void AboutToReset() {}
    virtual void Reset() {}
    // The selected index has changed (after the row change that caused it).
    virtual void SelectionChanged(int /*row*/) {}
};

// A path as it names a file from folder base ("" for the current folder):
// a relative path is appended to base; an empty or absolute one stays.
std::string ResolvePath(const std::string& base, const std::string& path);

class VoiceList
{
public:
    int GetItemCount() const { return static_cast<int>(m_paths.size()); }
    bool IsValidRow(int row) const { return row >= 0 && row < GetItemCount(); }
    // Path of a row; an empty string for an index outside the list.
    const std::string& GetPath(int row) const;
    const std::vector<std::string>& Paths() const { return m_paths; }

    // The folder the relative rows are relative to: that of the list file
    // they were loaded from, or "" for the process's current folder.
    const std::string& GetBaseFolder() const { return m_baseFolder; }
    // The file a row names: a relative path resolved against the base
    // folder, anything else as it stands. The row's text is not changed.
    std::string GetResolvedPath(int row) const;
    std::vector<std::string> ResolvedPaths() const;

    // The selected row, or -1.
    int GetSelected() const { return m_selected; }
    // Selects a row; -1 or an index outside the list clears the selection.
    void SetSelected(int row);

    // Each operation returns whether it changed anything.
    // Adds rows at the end in the given order; the selection is kept.
    bool Append(const std::vector<std::string>& paths);
    // Inserts before the selected row s; row s stays selected at s + 1. An
    // empty path (a cancelled dialog) changes nothing.
    bool Insert(const std::string& path);
    // Deletes the selected row; nothing is selected afterwards.
    bool DeleteSelected();
    // Swap the selected row with its neighbour; the moved row stays selected.
    bool MoveUp();
    bool MoveDown();
    // Replaces the path of a row; number, selection and icons stay. An empty
    // path changes nothing.
    bool Replace(int row, const std::string& path);
    // Replaces all rows (a loaded list file, whose folder is the new base
    // folder); nothing is selected afterwards.
    void Assign(std::vector<std::string> paths, std::string baseFolder = {});

    void AddObserver(VoiceListObserver* observer);
    void RemoveObserver(VoiceListObserver* observer);

private:
    template <typename Fn> void Notify(Fn&& fn);

    std::vector<std::string> m_paths;
    std::string m_baseFolder;
    int m_selected = -1;
    std::vector<VoiceListObserver*> m_observers;
};

} // namespace voicelib
