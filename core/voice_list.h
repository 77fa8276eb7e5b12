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
    // Rows first..last move as one block so that row `first` ends at index `to`.
    virtual void RowsAboutToBeMoved(int /*first*/, int /*last*/, int /*to*/) {}
    virtual void RowsMoved(int /*first*/, int /*last*/, int /*to*/) {}
    // Before a row's path changes, while the old one can still be read.
    virtual void RowAboutToChange(int /*row*/) {}
    virtual void RowChanged(int /*row*/) {}
    virtual void AboutToReset() {}
    virtual void Reset() {}
    // The selected index has changed (after the row change that caused it).
    virtual void SelectionChanged(int /*row*/) {}
};

// A path as it names a file from folder base ("" for the current folder):
// a relative path is appended to base; an empty or absolute one stays.
std::string ResolvePath(const std::string& base, const std::string& path);

// Where row stands once rows first..last have moved as one block so that
// first ends at to; -1 stays -1.
int RowAfterMove(int row, int first, int last, int to);

class VoiceList
{
public:
    int GetItemCount() const { return static_cast<int>(m_paths.size()); }
    bool IsValidRow(int row) const { return row >= 0 && row < GetItemCount(); }
    // Path of a row; an empty string for an index outside the list.
    const std::string& GetPath(int row) const;
    const std::vector<std::string>& GetPaths() const { return m_paths; }

    // The folder the relative rows are relative to: that of the list file
    // they were loaded from, or "" for the process's current folder.
    const std::string& GetBaseFolder() const { return m_baseFolder; }
    // The file a row names: a relative path resolved against the base
    // folder, anything else as it stands. The row's text is not changed.
    std::string GetResolvedPath(int row) const;
    std::vector<std::string> GetResolvedPaths() const;

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
    // Sets a row's path as given, an empty one included (an undone replace).
    bool SetPath(int row, const std::string& path);

    // Several rows at once. The selected row follows its file; it is cleared
    // only when its row is removed. Rows outside the list and repeated rows in
    // a set are ignored.
    // Inserts rows so that the first one takes index row (0..count).
    bool InsertAt(int row, const std::vector<std::string>& paths);
    // Removes the rows first..last.
    bool RemoveRange(int first, int last);
    // Removes a set of rows, one notification per contiguous run.
    bool RemoveRows(const std::vector<int>& rows);
    // Moves rows first..last as one block so that row `first` ends at `to`.
    bool MoveBlock(int first, int last, int to);
    // Moves every row of a set one place up (delta -1) or down (+1), each
    // contiguous run as one block. When a row of the set is already at that
    // end of the list nothing moves. Returns the new indices of the set's rows.
    std::vector<int> MoveRows(const std::vector<int>& rows, int delta);
    // Moves a set of rows, in their order, to stand together before row
    // `target` as numbered before the move (the row count: to the end).
    // Returns the new indices of the set's rows; empty when nothing moved.
    std::vector<int> MoveRowsTo(const std::vector<int>& rows, int target);

    // Replaces all rows (a loaded list file, whose folder is the new base
    // folder); nothing is selected afterwards.
    void Assign(std::vector<std::string> paths, std::string baseFolder = {});

    void AddObserver(VoiceListObserver* observer);
    void RemoveObserver(VoiceListObserver* observer);

private:
    template <typename Fn> void Notify(Fn&& fn);
    // The set's valid rows, sorted, each once.
    std::vector<int> ValidRows(const std::vector<int>& rows) const;
    void SelectQuietly(int row, int before);

    std::vector<std::string> m_paths;
    std::string m_baseFolder;
    int m_selected = -1;
    std::vector<VoiceListObserver*> m_observers;
};

} // namespace voicelib
