#pragma once

// What an edit did to a VoiceList, recorded from its notifications, so that
// it can be taken back and done again. Only the difference is kept: the
// paths of inserted, removed and changed rows, the runs that moved, and the
// whole list only when the list was replaced at once.

#include "core/voice_list.h"

#include <string>
#include <vector>

namespace voicelib {

class VoiceListEdit
{
public:
    bool IsEmpty() const { return m_steps.empty(); }
    // Takes the edit back on a list that is as the edit left it.
    void Undo(VoiceList& list) const;
    // Does the edit again on a list that is as it was before the edit.
    void Redo(VoiceList& list) const;

private:
    friend class VoiceListRecorder;

    enum class Kind
    {
        Insert,
        Remove,
        Move,
        Change,
        Reset
    };
    struct Step
    {
        Kind kind;
        int first = 0;
        int last = 0;
        int to = 0;
        std::vector<std::string> paths;    // inserted or removed rows; the new path or list
        std::vector<std::string> oldPaths; // the old path or list
        std::string base, oldBase;         // folders of a replaced list
    };
    static void Apply(VoiceList& list, const Step& step, bool forward);

    std::vector<Step> m_steps;
};

// Records every change of a list while it lives (or until Take).
class VoiceListRecorder : private VoiceListObserver
{
public:
    explicit VoiceListRecorder(VoiceList& list);
    ~VoiceListRecorder() override;
    VoiceListRecorder(const VoiceListRecorder&) = delete;
    VoiceListRecorder& operator=(const VoiceListRecorder&) = delete;

    // The changes so far; recording goes on with an empty edit.
    VoiceListEdit Take();

private:
    void RowsInserted(int first, int last) override;
    void RowsAboutToBeRemoved(int first, int last) override;
    void RowMoved(int from, int to) override;
    void RowsMoved(int first, int last, int to) override;
    void RowAboutToChange(int row) override;
    void RowChanged(int row) override;
    void AboutToReset() override;
    void Reset() override;

    std::vector<std::string> Slice(int first, int last) const;

    VoiceList& m_list;
    VoiceListEdit m_edit;
};

} // namespace voicelib
