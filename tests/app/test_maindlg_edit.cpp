// Editing several rows at once, undo and redo, and drag and drop, through the
// real window: its keys, clicks and drop events.

#include "core/list_file.h"
#include "maindlg_fixture.h"
#include "stable_first_column.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QTimer>
#include <QUndoStack>
#include <QUrl>
#include <memory>
#include <random>

using namespace apptest;

namespace {

struct Snapshot
{
    QStringList rows;
    std::vector<int> selected;
    bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* os)
{
    *os << s.rows.join(',').toStdString() << " selected";
    for (int r : s.selected)
        *os << ' ' << r;
}

class EditTest : public MainDlgTest
{
public:
    EditTest()
    {
        proxy.setSourceModel(dlg->listView()->model());
        dlg->listView()->setFocus();
    }

    Snapshot Now() const { return {Rows(), dlg->SelectedRows()}; }
    // The rows' file names without folder and extension, joined by commas.
    std::string Names() const
    {
        QStringList names;
        for (const QString& r : Rows())
            names << QFileInfo(r).baseName();
        return names.join(',').toStdString();
    }
    void ClickRow(int row, Qt::KeyboardModifiers mods = {})
    {
        QTableView* view = dlg->listView();
        view->scrollTo(view->model()->index(row, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, mods,
                          view->visualRect(view->model()->index(row, 1)).center());
    }
    void Select(const std::vector<int>& rows)
    {
        for (std::size_t i = 0; i < rows.size(); ++i)
            ClickRow(rows[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(dlg->listView(), key, mods); }
    // A drag from elsewhere that enters the list, moves to a point and drops there.
    bool Drop(QMimeData* data, QPoint at)
    {
        QWidget* viewport = dlg->listView()->viewport();
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
        QDropEvent drop(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        QCoreApplication::processEvents();
        return drop.isAccepted();
    }
    // Just inside the top of a row: the drop goes before it.
    QPoint Above(int row)
    {
        QTableView* view = dlg->listView();
        view->scrollTo(view->model()->index(row, 1));
        return view->visualRect(view->model()->index(row, 1)).topLeft() + QPoint(20, 1);
    }
    QPoint BelowRows() const { return {200, dlg->listView()->viewport()->height() - 5}; }

    StableFirstColumn proxy;
    QAbstractItemModelTester tester{&proxy, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// Every kind of edit, at random, then each taken back with Ctrl+Z and done
// again with Ctrl+Shift+Z or Ctrl+Y: the list and its selection pass through
// every earlier state, and the undone list is the unmodified one.
TEST_F(EditTest, UndoAndRedoRetraceRandomEdits)
{
    const QStringList files = Waves(8);
    const QString listFile = File(QStringLiteral("l.ini"));
    {
        voicelib::VoiceList saved;
        saved.Append({files[7].toStdString(), files[6].toStdString()});
        ASSERT_TRUE(voicelib::ExportListFile(listFile.toStdString(), saved).ok());
    }
    std::mt19937 rng(12);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(std::max(n, 1))); };
    std::vector<Snapshot> states{Now()};
    std::size_t savedAt = 0; // the state a file holds: the empty start, or the last load
    for (int step = 0; step < 60; ++step) {
        bool load = false;
        const int n = dlg->voiceList().GetItemCount();
        if (n > 0) {
            std::vector<int> set{pick(n)};
            for (int k = pick(3); k > 0; --k)
                set.push_back(pick(n));
            Select(set);
            states.back().selected = dlg->SelectedRows(); // selecting is no edit
        }
        switch (n < 3 ? 0 : pick(9)) {
        case 0:
            Fill({files[pick(8)], files[pick(8)]});
            break;
        case 1:
            dlg->answers.push_back({files[pick(8)]});
            Key(Qt::Key_Insert);
            break;
        case 2:
            Key(Qt::Key_Delete);
            break;
        case 3:
            Key(Qt::Key_Up, Qt::ControlModifier);
            break;
        case 4:
            Key(Qt::Key_Down, Qt::ControlModifier);
            break;
        case 5: {
            const int row = pick(n);
            ClickRow(row);
            states.back().selected = dlg->SelectedRows();
            dlg->answers.push_back({files[pick(8)]});
            ClickCell(row, VoiceListModel::COL_REPLACE);
            break;
        }
        case 6: { // none when Ctrl took the only row back out of the selection
            const std::unique_ptr<QMimeData> rows(
                dlg->listView()->model()->mimeData(dlg->listView()->selectionModel()->selectedRows()));
            if (rows)
                Drop(rows.get(), Above(pick(n)));
            break;
        }
        case 7: {
            auto* data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(files[pick(8)]), QUrl::fromLocalFile(files[pick(8)])});
            Drop(data, n > 8 || pick(2) ? Above(pick(n)) : BelowRows());
            delete data;
            break;
        }
        default:
            if (pick(4) == 0) {
                dlg->answers.push_back({listFile});
                Click(IDC_LOAD_LIST);
                load = true;
            }
            break;
        }
        if (dlg->undoStack()->count() == static_cast<int>(states.size())) {
            states.push_back(Now());
            if (load)
                savedAt = states.size() - 1;
        }
    }
    ASSERT_GT(states.size(), 20u);
    ASSERT_EQ(dlg->undoStack()->count(), static_cast<int>(states.size()) - 1);
    for (std::size_t i = states.size() - 1; i-- > 0;) {
        Key(Qt::Key_Z, Qt::ControlModifier);
        ASSERT_EQ(Now(), states[i]) << "undo to state " << i;
        EXPECT_EQ(dlg->IsModified(), i != savedAt) << "undo to state " << i;
    }
    for (std::size_t i = 1; i < states.size(); ++i) {
        if (i % 2)
            Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        else
            Key(Qt::Key_Y, Qt::ControlModifier);
        ASSERT_EQ(Now().rows, states[i].rows) << "redo to state " << i;
        EXPECT_EQ(dlg->IsModified(), i != savedAt) << "redo to state " << i;
    }
}

// Several rows move as one block; at either end nothing moves, by key or button.
TEST_F(EditTest, SelectedRowsMoveAsOneBlock)
{
    struct Case
    {
        std::vector<int> select;
        int how; // -1 / +1: Ctrl+Up / Ctrl+Down; -2 / +2: the buttons
        std::string names;
        std::vector<int> selected;
    };
    const Case cases[] = {
        {{1, 2}, -1, "w1,w2,w0,w3,w4", {0, 1}}, {{0, 1}, -1, "w0,w1,w2,w3,w4", {0, 1}},
        {{0, 3}, -2, "w0,w1,w2,w3,w4", {0, 3}}, {{2, 4}, 1, "w0,w1,w2,w3,w4", {2, 4}},
        {{1, 3}, 2, "w0,w2,w1,w4,w3", {2, 4}},  {{3, 4, 0}, -2, "w0,w1,w2,w3,w4", {0, 3, 4}},
        {{2, 3}, 1, "w0,w1,w4,w2,w3", {3, 4}},
    };
    const QStringList files = Waves(5);
    for (const Case& c : cases) {
        dlg->voiceList().Assign({});
        Fill(files);
        Select(c.select);
        const Snapshot before = Now();
        const int steps = dlg->undoStack()->count();
        if (std::abs(c.how) == 1)
            Key(c.how < 0 ? Qt::Key_Up : Qt::Key_Down, Qt::ControlModifier);
        else
            Click(c.how < 0 ? IDC_MOVE_UP : IDC_MOVE_DOWN);
        EXPECT_EQ(Names(), c.names) << c.how;
        EXPECT_EQ(dlg->SelectedRows(), c.selected) << c.how;
        const bool moved = Names() != "w0,w1,w2,w3,w4";
        EXPECT_EQ(dlg->undoStack()->count(), steps + (moved ? 1 : 0));
        if (moved) {
            dlg->listView()->setFocus();
            Key(Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(Now(), before);
        }
    }
}

// Delete takes the whole selection in one step; the delete icon only its row.
TEST_F(EditTest, DeleteTakesTheSelection)
{
    Fill(Waves(6));
    Select({1, 4});
    ClickRow(2, Qt::ShiftModifier); // 1..2 and 4, from the Ctrl-clicked anchor 4: 2..4
    const std::vector<int> shiftSelected = dlg->SelectedRows();
    ASSERT_GE(shiftSelected.size(), 2u);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Rows().size(), 6 - static_cast<int>(shiftSelected.size()));
    EXPECT_EQ(Selected(), -1);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Rows().size(), 6);
    EXPECT_EQ(dlg->SelectedRows(), shiftSelected);

    Select({0, 3});
    ClickCell(5, VoiceListModel::COL_DELETE);
    EXPECT_EQ(Names(), "w0,w1,w2,w3,w4");
}

// Files dropped from a file manager go in before the row under the drop (at
// the end below the rows), in their order, as one step; rows dragged within
// the list move there in one step; the indicator is drawn in the frame's blue.
TEST_F(EditTest, DropsOfFilesAndRows)
{
    const QStringList files = Waves(4);
    const QStringList more = Waves(2, QStringLiteral("d"));
    Fill(files);
    QTableView* view = dlg->listView();

    auto* urls = new QMimeData;
    urls->setUrls({QUrl::fromLocalFile(more[1]), QUrl(QStringLiteral("https://x/y.wav")),
                   QUrl::fromLocalFile(more[0])});
    EXPECT_TRUE(Drop(urls, Above(1)));
    EXPECT_EQ(Names(), "w0,d1,d0,w1,w2,w3");
    EXPECT_TRUE(Drop(urls, BelowRows()));
    EXPECT_EQ(Names(), "w0,d1,d0,w1,w2,w3,d1,d0");
    Key(Qt::Key_Z, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Names(), "w0,w1,w2,w3");
    delete urls;

    Select({0, 2});
    QMimeData* rows = view->model()->mimeData(view->selectionModel()->selectedRows());
    ASSERT_NE(rows, nullptr);
    // Hovering shows the drop line across the row in the list frame's colour.
    QDragEnterEvent enter(Above(3), Qt::MoveAction, rows, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(Above(3), Qt::MoveAction, rows, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
    EXPECT_TRUE(move.isAccepted());
    const QImage shot = view->viewport()->grab().toImage();
    const int lineY = view->visualRect(view->model()->index(3, 1)).top();
    for (int x : {10, 200, 520})
        EXPECT_EQ(shot.pixelColor(x, lineY), QColor(65, 105, 225)) << x;
    EXPECT_TRUE(Drop(rows, Above(3)));
    EXPECT_EQ(Names(), "w1,w0,w2,w3");
    EXPECT_EQ(dlg->SelectedRows(), (std::vector<int>{1, 2}));
    EXPECT_EQ(dlg->undoStack()->count(), 2) << "the append and the move; the undone drops are gone";
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Names(), "w0,w1,w2,w3");
    EXPECT_EQ(dlg->SelectedRows(), (std::vector<int>{0, 2}));
    delete rows;

    // Rows of another list mean nothing here.
    voicelib::VoiceList other;
    other.Append({"/x.wav"});
    VoiceListModel otherModel(other);
    QMimeData* foreign = otherModel.mimeData({otherModel.index(0, 0)});
    EXPECT_FALSE(Drop(foreign, Above(0)));
    EXPECT_EQ(Names(), "w0,w1,w2,w3");
    delete foreign;
}

// The previewed row is followed through block moves, drags and their undo.
TEST_F(EditTest, PreviewFollowsItsRowThroughBlockMoves)
{
    Fill(Waves(5));
    ClickCell(3, VoiceListModel::COL_PLAY);
    ASSERT_EQ(dlg->playingRow(), 3);
    Select({2, 3});
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(dlg->playingRow(), 2);
    Select({0, 1});
    const std::unique_ptr<QMimeData> rows(
        dlg->listView()->model()->mimeData(dlg->listView()->selectionModel()->selectedRows()));
    EXPECT_TRUE(Drop(rows.get(), BelowRows()));
    EXPECT_EQ(Names(), "w3,w1,w4,w0,w2");
    EXPECT_EQ(dlg->playingRow(), 0);
    Key(Qt::Key_Z, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Names(), "w0,w1,w2,w3,w4");
    EXPECT_EQ(dlg->playingRow(), 3);
    EXPECT_EQ(backend->plays.size(), 1) << "the preview went on throughout";
}

// A build takes no drop and no undo key, like any other input.
TEST_F(EditTest, NoDropOrUndoDuringABuild)
{
    const QStringList f = Waves(3);
    Fill(f);
    Select({0, 1});
    dlg->answers.push_back({File("lib.bin")});
    bool duringBuild = false;
    bool dropped = true;
    QTimer::singleShot(0, dlg.get(), [&] {
        duringBuild = dlg->IsBusy();
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(f[2])});
        const std::unique_ptr<QMimeData> rows(
            dlg->listView()->model()->mimeData(dlg->listView()->selectionModel()->selectedRows()));
        dropped = Drop(&files, Above(0)) || Drop(rows.get(), Above(2));
        Key(Qt::Key_Z, Qt::ControlModifier);
    });
    Click(IDC_BUILD);
    ASSERT_TRUE(duringBuild) << "the drops must land inside the build";
    EXPECT_FALSE(dropped);
    EXPECT_EQ(Rows(), f);
    EXPECT_EQ(dlg->undoStack()->count(), 1);
}

} // namespace
