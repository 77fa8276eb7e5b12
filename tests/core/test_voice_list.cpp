#include "core/list_edit.h"
#include "core/voice_list.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace voicelib {
namespace {

using Paths = std::vector<std::string>;

// Rebuilds the list from the notifications alone and checks, at every call,
// that "about to" sees the old row count and the matching call the new one.
class MirrorObserver : public VoiceListObserver
{
public:
    explicit MirrorObserver(const VoiceList& list) : rows(list.GetPaths()), m_list(list) {}

    void RowsAboutToBeInserted(int first, int last) override
    {
        Expect(m_list.GetItemCount() == static_cast<int>(rows.size()), "insert: count already changed");
        Expect(first >= 0 && first <= last && first <= static_cast<int>(rows.size()), "insert: bad range");
        m_pending = {first, last};
    }
    void RowsInserted(int first, int last) override
    {
        Expect(m_pending == std::pair{first, last}, "insert: unmatched");
        for (int r = first; r <= last; ++r)
            rows.insert(rows.begin() + r, m_list.GetPath(r));
        Expect(m_list.GetItemCount() == static_cast<int>(rows.size()), "insert: count mismatch");
        m_pending = {-1, -1};
    }
    void RowsAboutToBeRemoved(int first, int last) override
    {
        Expect(m_list.GetItemCount() == static_cast<int>(rows.size()), "remove: count already changed");
        Expect(first >= 0 && first <= last && last < static_cast<int>(rows.size()), "remove: bad range");
        m_pending = {first, last};
    }
    void RowsRemoved(int first, int last) override
    {
        Expect(m_pending == std::pair{first, last}, "remove: unmatched");
        rows.erase(rows.begin() + first, rows.begin() + last + 1);
        Expect(m_list.GetItemCount() == static_cast<int>(rows.size()), "remove: count mismatch");
        m_pending = {-1, -1};
    }
    void RowAboutToBeMoved(int from, int to) override
    {
        Expect(m_list.GetPath(from) == rows[static_cast<std::size_t>(from)], "move: already moved");
        m_pending = {from, to};
    }
    void RowMoved(int from, int to) override
    {
        Expect(m_pending == std::pair{from, to}, "move: unmatched");
        std::string moving = rows[static_cast<std::size_t>(from)];
        rows.erase(rows.begin() + from);
        rows.insert(rows.begin() + to, moving);
        m_pending = {-1, -1};
    }
    void RowsAboutToBeMoved(int first, int last, int to) override
    {
        Expect(first >= 0 && first <= last && to >= 0 && to + last - first < static_cast<int>(rows.size()),
               "block move: bad range");
        m_pending = {first, to};
    }
    void RowsMoved(int first, int last, int to) override
    {
        Expect(m_pending == std::pair{first, to}, "block move: unmatched");
        Paths block(rows.begin() + first, rows.begin() + last + 1);
        rows.erase(rows.begin() + first, rows.begin() + last + 1);
        rows.insert(rows.begin() + to, block.begin(), block.end());
        m_pending = {-1, -1};
    }
    void RowChanged(int row) override { rows[static_cast<std::size_t>(row)] = m_list.GetPath(row); }
    void AboutToReset() override { m_resetting = true; }
    void Reset() override
    {
        Expect(m_resetting, "reset: unmatched");
        rows = m_list.GetPaths();
        m_resetting = false;
    }
    void SelectionChanged(int row) override
    {
        Expect(row == m_list.GetSelected(), "selection: reported row is not the selected one");
        selected = row;
        ++selectionCalls;
    }

    Paths rows;
    int selected = -1;
    int selectionCalls = 0;
    std::vector<std::string> faults;

private:
    void Expect(bool ok, const char* what)
    {
        if (!ok)
            faults.emplace_back(what);
    }

    const VoiceList& m_list;
    std::pair<int, int> m_pending{-1, -1};
    bool m_resetting = false;
};

VoiceList MakeList(int rows, int selected)
{
    VoiceList list;
    Paths paths;
    for (int i = 0; i < rows; ++i)
        paths.push_back("/v/" + std::to_string(i) + ".wav");
    list.Assign(paths);
    list.SetSelected(selected);
    return list;
}

struct OpCase
{
    const char* name;
    int rows;
    int selected;
    std::function<bool(VoiceList&)> op;
    bool changed;
    Paths expectRows; // row numbers of the starting list, "n" for the new path
    int expectSelected;
    friend void PrintTo(const OpCase& c, std::ostream* os) { *os << c.name; }
};

Paths Expand(const Paths& names)
{
    Paths out;
    for (const auto& s : names)
        out.push_back(s == "n" ? "/new.wav" : "/v/" + s + ".wav");
    return out;
}

class VoiceListOpTest : public ::testing::TestWithParam<OpCase>
{
};

TEST_P(VoiceListOpTest, RowsAndSelection)
{
    const OpCase& c = GetParam();
    VoiceList list = MakeList(c.rows, c.selected);
    MirrorObserver mirror(list);
    mirror.selected = list.GetSelected();
    list.AddObserver(&mirror);

    EXPECT_EQ(c.op(list), c.changed);
    EXPECT_EQ(list.GetPaths(), Expand(c.expectRows));
    EXPECT_EQ(list.GetSelected(), c.expectSelected);
    EXPECT_EQ(mirror.rows, list.GetPaths());
    EXPECT_EQ(mirror.selected, list.GetSelected());
    EXPECT_TRUE(mirror.faults.empty()) << mirror.faults.front();
}

const auto Append2 = [](VoiceList& l) { return l.Append({"/new.wav", "/new.wav"}); };
const auto AppendNone = [](VoiceList& l) { return l.Append({}); };
const auto Insert = [](VoiceList& l) { return l.Insert("/new.wav"); };
const auto InsertCancelled = [](VoiceList& l) { return l.Insert(""); };
const auto Delete = [](VoiceList& l) { return l.DeleteSelected(); };
const auto Up = [](VoiceList& l) { return l.MoveUp(); };
const auto Down = [](VoiceList& l) { return l.MoveDown(); };

INSTANTIATE_TEST_SUITE_P(
    Operations, VoiceListOpTest,
    ::testing::Values(OpCase{"AppendKeepsSelection", 3, 1, Append2, true, {"0", "1", "2", "n", "n"}, 1},
                      OpCase{"AppendToEmpty", 0, -1, Append2, true, {"n", "n"}, -1},
                      OpCase{"AppendNothing", 2, 0, AppendNone, false, {"0", "1"}, 0},
                      OpCase{"InsertBeforeFirst", 3, 0, Insert, true, {"n", "0", "1", "2"}, 1},
                      OpCase{"InsertBeforeLast", 3, 2, Insert, true, {"0", "1", "n", "2"}, 3},
                      OpCase{"InsertWithoutSelection", 3, -1, Insert, false, {"0", "1", "2"}, -1},
                      OpCase{"InsertCancelled", 3, 1, InsertCancelled, false, {"0", "1", "2"}, 1},
                      OpCase{"DeleteMiddle", 5, 2, Delete, true, {"0", "1", "3", "4"}, -1},
                      OpCase{"DeleteOnlyRow", 1, 0, Delete, true, {}, -1},
                      OpCase{"DeleteWithoutSelection", 2, -1, Delete, false, {"0", "1"}, -1},
                      OpCase{"MoveUpMiddle", 4, 2, Up, true, {"0", "2", "1", "3"}, 1},
                      OpCase{"MoveUpLast", 3, 2, Up, true, {"0", "2", "1"}, 1},
                      OpCase{"MoveUpFirst", 3, 0, Up, false, {"0", "1", "2"}, 0},
                      OpCase{"MoveUpWithoutSelection", 3, -1, Up, false, {"0", "1", "2"}, -1},
                      OpCase{"MoveDownFirst", 3, 0, Down, true, {"1", "0", "2"}, 1},
                      OpCase{"MoveDownLast", 3, 2, Down, false, {"0", "1", "2"}, 2},
                      OpCase{"MoveDownWithoutSelection", 3, -1, Down, false, {"0", "1", "2"}, -1},
                      OpCase{"MoveUpOneRow", 1, 0, Up, false, {"0"}, 0},
                      OpCase{"MoveDownOneRow", 1, 0, Down, false, {"0"}, 0},
                      OpCase{"ReplaceKeepsSelection",
                             3,
                             0,
                             [](VoiceList& l) { return l.Replace(2, "/new.wav"); },
                             true,
                             {"0", "1", "n"},
                             0},
                      OpCase{"ReplaceOutsideList",
                             3,
                             0,
                             [](VoiceList& l) { return l.Replace(3, "/new.wav"); },
                             false,
                             {"0", "1", "2"},
                             0},
                      OpCase{"ReplaceCancelled",
                             3,
                             0,
                             [](VoiceList& l) { return l.Replace(1, ""); },
                             false,
                             {"0", "1", "2"},
                             0}),
    [](const auto& info) { return info.param.name; });

const auto Rows = [](std::vector<int> set, auto op) { return [=](VoiceList& l) { return op(l, set); }; };
const auto Remove = [](VoiceList& l, const std::vector<int>& r) { return l.RemoveRows(r); };
const auto Raise = [](VoiceList& l, const std::vector<int>& r) { return !l.MoveRows(r, -1).empty(); };
const auto Lower = [](VoiceList& l, const std::vector<int>& r) { return !l.MoveRows(r, 1).empty(); };
const auto To = [](int target) {
    return [=](VoiceList& l, const std::vector<int>& r) { return !l.MoveRowsTo(r, target).empty(); };
};

INSTANTIATE_TEST_SUITE_P(
    SeveralRows, VoiceListOpTest,
    ::testing::Values(
        OpCase{"RemoveSetFollowsSelection", 6, 5, Rows({4, 1, 3, 3}, Remove), true, {"0", "2", "5"}, 2},
        OpCase{"RemoveSetWithSelected", 5, 1, Rows({1, 2}, Remove), true, {"0", "3", "4"}, -1},
        OpCase{"RemoveOutsideList", 2, 0, Rows({2, -1}, Remove), false, {"0", "1"}, 0},
        OpCase{"RaiseBlock", 6, 3, Rows({2, 3}, Raise), true, {"0", "2", "3", "1", "4", "5"}, 2},
        OpCase{"RaiseTwoRuns", 6, 0, Rows({1, 3, 4}, Raise), true, {"1", "0", "3", "4", "2", "5"}, 1},
        OpCase{"RaiseAtTop", 6, 3, Rows({3, 0}, Raise), false, {"0", "1", "2", "3", "4", "5"}, 3},
        OpCase{"LowerTwoRuns", 7, 4, Rows({1, 2, 4}, Lower), true, {"0", "3", "1", "2", "5", "4", "6"}, 5},
        OpCase{"LowerAtBottom", 6, 2, Rows({2, 5}, Lower), false, {"0", "1", "2", "3", "4", "5"}, 2},
        OpCase{"LowerWholeList", 3, 1, Rows({0, 1, 2}, Lower), false, {"0", "1", "2"}, 1},
        OpCase{"MoveSetToTop", 6, 4, Rows({4, 2}, To(0)), true, {"2", "4", "0", "1", "3", "5"}, 1},
        OpCase{"MoveSetToEnd", 6, 0, Rows({0, 3}, To(6)), true, {"1", "2", "4", "5", "0", "3"}, 4},
        OpCase{"MoveSetAcrossTarget", 6, 2, Rows({0, 5}, To(3)), true, {"1", "2", "0", "5", "3", "4"}, 1},
        OpCase{"MoveSetOntoItself", 6, 2, Rows({2, 3}, To(3)), false, {"0", "1", "2", "3", "4", "5"}, 2},
        OpCase{"MoveSetPastEnd", 3, 2, Rows({0}, To(4)), false, {"0", "1", "2"}, 2},
        OpCase{"InsertSeveralBeforeSelected",
               3,
               1,
               [](VoiceList& l) { return l.InsertAt(1, {"/new.wav", "/new.wav"}); },
               true,
               {"0", "n", "n", "1", "2"},
               3},
        OpCase{"InsertSeveralAtEnd",
               2,
               1,
               [](VoiceList& l) { return l.InsertAt(2, {"/new.wav"}); },
               true,
               {"0", "1", "n"},
               1},
        OpCase{"InsertPastEnd",
               2,
               1,
               [](VoiceList& l) { return l.InsertAt(3, {"/new.wav"}); },
               false,
               {"0", "1"},
               1},
        OpCase{"BlockPastEnd",
               3,
               0,
               [](VoiceList& l) { return l.MoveBlock(1, 2, 2); },
               false,
               {"0", "1", "2"},
               0}),
    [](const auto& info) { return info.param.name; });

// Random edits of every kind, each recorded: taking them back one by one
// passes through every earlier list, and doing them again ends where they did.
TEST(VoiceListEditTest, UndoAndRedoRetraceRandomEdits)
{
    std::mt19937 rng(7);
    VoiceList list = MakeList(12, 3);
    MirrorObserver mirror(list);
    list.AddObserver(&mirror);
    struct State
    {
        Paths rows;
        std::string base;
        bool operator==(const State&) const = default;
    };
    const auto now = [&] { return State{list.GetPaths(), list.GetBaseFolder()}; };
    std::vector<State> states{now()};
    std::vector<VoiceListEdit> edits;
    const auto anyRow = [&] {
        return static_cast<int>(rng() % static_cast<unsigned>(list.GetItemCount() + 1));
    };
    for (int step = 0; step < 400; ++step) {
        std::vector<int> set;
        for (int k = static_cast<int>(rng() % 4); k >= 0; --k)
            set.push_back(anyRow());
        VoiceListRecorder recorder(list);
        switch (rng() % 10) {
        case 0:
            list.Append({"/a" + std::to_string(step) + ".wav", ""});
            break;
        case 1:
            list.InsertAt(anyRow(), {"/i" + std::to_string(step) + ".wav"});
            break;
        case 2:
            list.RemoveRows(set);
            break;
        case 3:
            list.MoveRows(set, rng() % 2 ? 1 : -1);
            break;
        case 4:
            list.MoveRowsTo(set, anyRow());
            break;
        case 5:
            list.Replace(anyRow(), "/r" + std::to_string(step) + ".wav");
            break;
        case 6:
            list.SetPath(anyRow(), "");
            break;
        case 7:
            if (rng() % 8 == 0)
                list.Assign({"/x.wav", "/y.wav", "/x.wav"}, "/base" + std::to_string(step));
            break;
        case 8:
            list.SetSelected(anyRow());
            list.MoveUp();
            list.MoveDown();
            list.Insert("/s.wav");
            break;
        default:
            list.SetSelected(anyRow());
            list.DeleteSelected();
            break;
        }
        edits.push_back(recorder.Take());
        if (edits.back().IsEmpty()) { // a change that was not recorded could never be undone
            EXPECT_EQ(now(), states.back()) << "step " << step;
        }
        states.push_back(now());
    }
    for (std::size_t i = edits.size(); i-- > 0;) {
        edits[i].Undo(list);
        ASSERT_EQ(now(), states[i]) << "undo of step " << i;
    }
    for (std::size_t i = 0; i < edits.size(); ++i)
        edits[i].Redo(list);
    EXPECT_EQ(now(), states.back());
    EXPECT_EQ(mirror.rows, list.GetPaths());
    EXPECT_TRUE(mirror.faults.empty()) << mirror.faults.front();
}

TEST(VoiceListTest, SelectionOutsideListClears)
{
    VoiceList list = MakeList(3, 1);
    list.SetSelected(3);
    EXPECT_EQ(list.GetSelected(), -1);
    list.SetSelected(2);
    list.SetSelected(-7);
    EXPECT_EQ(list.GetSelected(), -1);
    EXPECT_EQ(list.GetPath(3), "");
    EXPECT_EQ(list.GetPath(-1), "");
}

TEST(VoiceListTest, AssignClearsSelectionAndKeepsEmptyPaths)
{
    VoiceList list = MakeList(3, 2);
    MirrorObserver mirror(list);
    mirror.selected = 2;
    list.AddObserver(&mirror);
    list.Assign({"", "/a.wav", "/a.wav"});
    EXPECT_EQ(list.GetPaths(), (Paths{"", "/a.wav", "/a.wav"}));
    EXPECT_EQ(list.GetSelected(), -1);
    EXPECT_EQ(mirror.rows, list.GetPaths());
    EXPECT_EQ(mirror.selected, -1);
}

TEST(VoiceListTest, ObserverMayDetachDuringNotification)
{
    struct Detacher : VoiceListObserver
    {
        VoiceList* list = nullptr;
        VoiceListObserver* other = nullptr;
        int calls = 0;
        void RowsInserted(int, int) override
        {
            ++calls;
            list->RemoveObserver(other);
        }
    };
    struct Counter : VoiceListObserver
    {
        int calls = 0;
        void RowsInserted(int, int) override { ++calls; }
    };
    VoiceList list;
    Counter counter;
    Detacher detacher;
    detacher.list = &list;
    detacher.other = &counter;
    list.AddObserver(&detacher);
    list.AddObserver(&counter);
    list.AddObserver(&counter); // a second registration is ignored
    list.Append({"/a.wav"});
    EXPECT_EQ(detacher.calls, 1);
    EXPECT_EQ(counter.calls, 0); // removed before its turn, so it is not called
    list.Append({"/b.wav"});
    EXPECT_EQ(counter.calls, 0);
}

// The same operations on a plain vector, written from the rules rather than
// from the implementation.
struct ReferenceList
{
    Paths rows;
    int sel = -1;

    void Apply(int op, const std::string& path)
    {
        const int n = static_cast<int>(rows.size());
        switch (op) {
        case 0:
            rows.push_back(path);
            break;
        case 1:
            if (sel >= 0 && !path.empty()) {
                rows.insert(rows.begin() + sel, path);
                ++sel;
            }
            break;
        case 2:
            if (sel >= 0) {
                rows.erase(rows.begin() + sel);
                sel = -1;
            }
            break;
        case 3:
            if (sel > 0) {
                std::swap(rows[sel], rows[sel - 1]);
                --sel;
            }
            break;
        case 4:
            if (sel >= 0 && sel < n - 1) {
                std::swap(rows[sel], rows[sel + 1]);
                ++sel;
            }
            break;
        }
    }
};

TEST(VoiceListTest, RandomOperationsMatchReference)
{
    std::mt19937 rng(20240611);
    VoiceList list;
    ReferenceList ref;
    MirrorObserver mirror(list);
    list.AddObserver(&mirror);

    for (int step = 0; step < 5000; ++step) {
        const int n = list.GetItemCount();
        const int op = static_cast<int>(rng() % 7);
        const std::string path = rng() % 8 == 0 ? "" : "/p" + std::to_string(rng() % 20) + ".wav";
        if (op == 5) {
            const int row = static_cast<int>(rng() % static_cast<unsigned>(n + 2)) - 1;
            list.SetSelected(row);
            ref.sel = row >= 0 && row < n ? row : -1;
        } else if (op == 6) {
            const int row = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
            list.Replace(row, path);
            if (row < n && !path.empty())
                ref.rows[static_cast<std::size_t>(row)] = path;
        } else {
            if (op == 0)
                list.Append({path});
            else if (op == 1)
                list.Insert(path);
            else if (op == 2)
                list.DeleteSelected();
            else if (op == 3)
                list.MoveUp();
            else
                list.MoveDown();
            ref.Apply(op, path);
        }
        ASSERT_EQ(list.GetPaths(), ref.rows) << "step " << step << " op " << op;
        ASSERT_EQ(list.GetSelected(), ref.sel) << "step " << step << " op " << op;
        ASSERT_TRUE(list.GetSelected() == -1 || list.IsValidRow(list.GetSelected()));
        ASSERT_EQ(mirror.rows, list.GetPaths()) << "step " << step;
        ASSERT_EQ(mirror.selected, list.GetSelected()) << "step " << step;
        ASSERT_TRUE(mirror.faults.empty()) << mirror.faults.front();
    }
}

} // namespace
} // namespace voicelib
