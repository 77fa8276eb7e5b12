// The window's keys: each does what its button (or the row's play icon) does,
// and the view's selection keys keep the list's selection in step.

#include "core/list_file.h"
#include "maindlg_fixture.h"

#include <QAction>
#include <functional>

using namespace apptest;

namespace {

// What a window shows and did, to compare a key with its button.
struct Outcome
{
    QStringList rows;
    int selected = -1;
    int viewSelected = -1;
    QStringList plays;
    std::size_t dialogs = 0;
    QStringList messages;
    int questions = 0;
    bool visible = true;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "rows " << o.rows.join(',').toStdString() << " selected " << o.selected << "/" << o.viewSelected
        << " plays " << o.plays.size() << " dialogs " << o.dialogs << " messages "
        << o.messages.join('|').toStdString() << " questions " << o.questions << " visible " << o.visible;
}

constexpr int kPlayIcon = -1; // the row's column-3 icon instead of a button
constexpr int kNothing = 0;   // the key has no counterpart: it must change nothing

class KeysTest : public MainDlgTest
{
public:
    // A window with rows w0..w3 and row 1 selected, then one action on it.
    Outcome Run(int key, Qt::KeyboardModifiers mods, int counterpart, bool byKey, const QStringList& answer)
    {
        auto owned = std::make_unique<ScriptedBackend>();
        ScriptedBackend* be = owned.get();
        TestDlg d(std::move(owned));
        d.Create();
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        QTableView* view = d.listView();
        d.answers.push_back(rows);
        QTest::mouseClick(d.button(IDC_APPEND), Qt::LeftButton);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(1, 1)).center());
        d.dialogs.clear();
        if (!answer.isEmpty())
            d.answers.push_back(answer);

        if (byKey) {
            view->setFocus();
            QTest::keyClick(view, static_cast<Qt::Key>(key), mods);
        } else if (counterpart == kPlayIcon) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->visualRect(view->model()->index(1, VoiceListModel::COL_PLAY)).center());
        } else if (counterpart != kNothing) {
            QTest::mouseClick(d.button(counterpart), Qt::LeftButton);
        }

        Outcome o;
        for (const std::string& p : d.voiceList().GetPaths())
            o.rows << VoiceListModel::ToDisplay(p);
        o.selected = d.voiceList().GetSelected();
        const QModelIndexList sel = view->selectionModel()->selectedRows();
        o.viewSelected = sel.size() == 1 ? sel.first().row() : (sel.isEmpty() ? -1 : -2);
        o.plays = be->plays;
        o.dialogs = d.dialogs.size();
        o.messages = d.messages;
        o.questions = d.questions;
        o.visible = d.isVisible();
        return o;
    }

    QStringList rows = Waves(4);
};

TEST_F(KeysTest, EachKeyDoesWhatItsButtonDoes)
{
    const QString extra = Waves(1, QStringLiteral("x")).first();
    const QString listFile = File("two.ini");
    voicelib::VoiceList two;
    two.Append({VoiceListModel::FromDisplay(rows[3]), VoiceListModel::FromDisplay(rows[0])});
    ASSERT_TRUE(voicelib::ExportListFile(listFile.toStdString(), two).ok());

    struct Case
    {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        int counterpart;
        QStringList answer; // of the file dialog the action opens
    };
    const Case cases[] = {
        {"Delete", Qt::Key_Delete, {}, IDC_DELETE, {}},
        {"CtrlUp", Qt::Key_Up, Qt::ControlModifier, IDC_MOVE_UP, {}},
        {"CtrlDown", Qt::Key_Down, Qt::ControlModifier, IDC_MOVE_DOWN, {}},
        {"Insert", Qt::Key_Insert, {}, IDC_INSERT, {extra}},
        {"CtrlO", Qt::Key_O, Qt::ControlModifier, IDC_LOAD_LIST, {listFile}},
        {"CtrlS", Qt::Key_S, Qt::ControlModifier, IDC_EXPORT_LIST, {File("out.ini")}},
        {"Space", Qt::Key_Space, {}, kPlayIcon, {}},
        {"Enter", Qt::Key_Return, {}, kPlayIcon, {}},
        {"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, kPlayIcon, {}},
        {"Escape", Qt::Key_Escape, {}, kNothing, {}},
    };
    const Outcome before = Run(0, {}, kNothing, false, {});
    ASSERT_EQ(before.rows, rows);
    ASSERT_EQ(before.selected, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome byButton = Run(c.key, c.mods, c.counterpart, false, c.answer);
        const Outcome byKey = Run(c.key, c.mods, c.counterpart, true, c.answer);
        EXPECT_EQ(byKey, byButton);
        EXPECT_TRUE(byKey.visible);
        EXPECT_EQ(byKey.viewSelected, byKey.selected) << "the view shows the list's selection";
        if (c.counterpart == kNothing)
            EXPECT_EQ(byKey, before);
        else
            EXPECT_NE(byKey, before) << "the key must act";
    }
}

TEST_F(KeysTest, SelectionKeysKeepTheListInStep)
{
    Fill(Waves(40, QStringLiteral("p")));
    QTableView* view = dlg->listView();
    const int last = static_cast<int>(dlg->voiceList().GetItemCount()) - 1;
    ClickCell(5, 1);
    view->setFocus();

    struct Step
    {
        const char* name;
        Qt::Key key;
        int expectRow; // -1: somewhere past the start, checked by direction
        int direction;
    };
    const Step steps[] = {
        {"End", Qt::Key_End, last, 0},  {"PageUp", Qt::Key_PageUp, -1, -1},
        {"Home", Qt::Key_Home, 0, 0},   {"PageDown", Qt::Key_PageDown, -1, +1},
        {"Down", Qt::Key_Down, -1, +1}, {"Up", Qt::Key_Up, -1, -1},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const int start = Selected();
        QTest::keyClick(view, s.key);
        if (s.expectRow >= 0)
            EXPECT_EQ(Selected(), s.expectRow);
        else
            EXPECT_EQ((Selected() - start) * s.direction > 0, true) << start << " -> " << Selected();
        EXPECT_EQ(ViewSelected(), Selected());
        EXPECT_TRUE(
            view->visualRect(view->model()->index(Selected(), 0)).intersects(view->viewport()->rect()))
            << "the selected row is in sight";
    }
    // The moved row follows the selection the keys made.
    const QString row = Rows()[Selected()];
    const int at = Selected();
    QTest::keyClick(view, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Rows()[at + 1], row);
    EXPECT_EQ(Selected(), at + 1);
    EXPECT_EQ(ViewSelected(), at + 1);
}

// Each command is enabled exactly when it can act, through every change of state.
TEST_F(KeysTest, CommandsAreEnabledWhenTheyCanAct)
{
    using C = CMainDlg::Command;
    struct Step
    {
        const char* name;
        std::function<void()> act;
        std::vector<C> enabled;
    };
    const Step steps[] = {
        {"empty", [] {}, {C::Exit, C::LoadList, C::Append}},
        {"rows",
         [&] { Fill(rows); },
         {C::Exit, C::LoadList, C::Append, C::ExportList, C::Build, C::MoveUp, C::MoveDown, C::PlayRow,
          C::FirstRow, C::LastRow, C::Undo}},
        {"a selected row",
         [&] { ClickCell(1, 1); },
         {C::Exit, C::LoadList, C::Append, C::ExportList, C::Build, C::MoveUp, C::MoveDown, C::PlayRow,
          C::FirstRow, C::LastRow, C::Undo, C::Insert, C::Delete, C::ReplaceRow, C::DeleteRow}},
        {"undone",
         [&] { QTest::keyClick(dlg->listView(), Qt::Key_Z, Qt::ControlModifier); },
         {C::Exit, C::LoadList, C::Append, C::Redo}},
        {"busy", [&] { dlg->setEnabled(false); }, {}},
        {"idle again", [&] { dlg->setEnabled(true); }, {C::Exit, C::LoadList, C::Append, C::Redo}},
    };
    dlg->listView()->setFocus();
    for (const Step& s : steps) {
        s.act();
        for (int c = 0; c < static_cast<int>(C::Count); ++c) {
            const bool expected = std::find(s.enabled.begin(), s.enabled.end(), C(c)) != s.enabled.end();
            EXPECT_EQ(dlg->action(C(c))->isEnabled(), expected) << s.name << ", command " << c;
        }
    }
}

} // namespace
