#include "core/list_edit.h"

#include <utility>

namespace voicelib {

void VoiceListEdit::Apply(VoiceList& list, const Step& step, bool forward)
{
    const int n = static_cast<int>(step.paths.size());
    switch (step.kind) {
    case Kind::Insert:
        if (forward)
            list.InsertAt(step.first, step.paths);
        else
            list.RemoveRange(step.first, step.first + n - 1);
        break;
    case Kind::Remove:
        if (forward)
            list.RemoveRange(step.first, step.first + n - 1);
        else
            list.InsertAt(step.first, step.paths);
        break;
    case Kind::Move:
        if (forward)
            list.MoveBlock(step.first, step.last, step.to);
        else
            list.MoveBlock(step.to, step.to + step.last - step.first, step.first);
        break;
    case Kind::Change:
        list.SetPath(step.first, forward ? step.paths.front() : step.oldPaths.front());
        break;
    case Kind::Reset:
        if (forward)
            list.Assign(step.paths, step.base);
        else
            list.Assign(step.oldPaths, step.oldBase);
        break;
    }
}

void VoiceListEdit::Undo(VoiceList& list) const
{
    for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it)
        Apply(list, *it, false);
}

void VoiceListEdit::Redo(VoiceList& list) const
{
    for (const Step& step : m_steps)
        Apply(list, step, true);
}

VoiceListRecorder::VoiceListRecorder(VoiceList& list) : m_list(list)
{
    m_list.AddObserver(this);
}

VoiceListRecorder::~VoiceListRecorder()
{
    m_list.RemoveObserver(this);
}

VoiceListEdit VoiceListRecorder::Take()
{
    return std::exchange(m_edit, {});
}

std::vector<std::string> VoiceListRecorder::Slice(int first, int last) const
{
    const auto& p = m_list.GetPaths();
    return {p.begin() + first, p.begin() + last + 1};
}

void VoiceListRecorder::RowsInserted(int first, int last)
{
    m_edit.m_steps.push_back({VoiceListEdit::Kind::Insert, first, last, 0, Slice(first, last), {}, {}, {}});
}

void VoiceListRecorder::RowsAboutToBeRemoved(int first, int last)
{
    m_edit.m_steps.push_back({VoiceListEdit::Kind::Remove, first, last, 0, Slice(first, last), {}, {}, {}});
}

void VoiceListRecorder::RowMoved(int from, int to)
{
    RowsMoved(from, from, to);
}

void VoiceListRecorder::RowsMoved(int first, int last, int to)
{
    m_edit.m_steps.push_back({VoiceListEdit::Kind::Move, first, last, to, {}, {}, {}, {}});
}

void VoiceListRecorder::RowAboutToChange(int row)
{
    m_edit.m_steps.push_back({VoiceListEdit::Kind::Change, row, row, 0, {}, {m_list.GetPath(row)}, {}, {}});
}

void VoiceListRecorder::RowChanged(int row)
{
    if (m_edit.m_steps.empty())
        return;
    VoiceListEdit::Step& step = m_edit.m_steps.back();
    if (step.kind == VoiceListEdit::Kind::Change && step.first == row && step.paths.empty())
        step.paths = {m_list.GetPath(row)};
}

void VoiceListRecorder::AboutToReset()
{
    m_edit.m_steps.push_back(
        {VoiceListEdit::Kind::Reset, 0, 0, 0, {}, m_list.GetPaths(), {}, m_list.GetBaseFolder()});
}

void VoiceListRecorder::Reset()
{
    if (m_edit.m_steps.empty() || m_edit.m_steps.back().kind != VoiceListEdit::Kind::Reset)
        return;
    VoiceListEdit::Step& step = m_edit.m_steps.back();
    step.paths = m_list.GetPaths();
    step.base = m_list.GetBaseFolder();
}

} // namespace voicelib
