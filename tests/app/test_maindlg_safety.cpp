// What the window must never do to a user's work: let input in during a
// build, act twice on a double click, or drop unsaved edits without asking.

#include "maindlg_fixture.h"

#include <QTimer>

using namespace apptest;

namespace {

using SafetyTest = MainDlgTest;

TEST_F(SafetyTest, InputDuringABuildChangesNothing)
{
    const QStringList f = Waves(4);
    Fill(f);
    ClickCell(1, 1); // a selection, so that move and delete would act
    const QString target = File("lib.bin");
    dlg->answers.push_back({target});
    dlg->answers.push_back({File("other.ini")}); // for any dialog that got through
    dlg->answers.push_back({File("second.bin")});
    dlg->dialogs.clear();

    bool duringBuild = false;
    // Runs inside the build, while it waits for its worker; the input comes
    // the window system's way.
    QWindow* window = dlg->windowHandle();
    const auto clickAt = [&](QWidget* w, QPoint p) {
        QTest::mouseClick(window, Qt::LeftButton, {}, w->mapTo(dlg.get(), p));
    };
    QTimer::singleShot(0, dlg.get(), [&] {
        duringBuild = dlg->IsBusy();
        for (int id : {IDC_LOAD_LIST, IDC_MOVE_DOWN, IDC_MOVE_UP, IDC_DELETE, IDC_APPEND, IDC_INSERT,
                       IDC_EXPORT_LIST, IDC_BUILD, IDC_EXIT})
            clickAt(dlg->button(id), dlg->button(id)->rect().center());
        QTableView* view = dlg->listView();
        for (int column = 0; column < VoiceListModel::COLUMN_COUNT; ++column)
            clickAt(view->viewport(), view->visualRect(view->model()->index(0, column)).center());
        view->setFocus();
        QTest::keyClick(window, Qt::Key_Down);
        QTest::keyClick(window, Qt::Key_Space);
        for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Insert, Qt::Key_Return, Qt::Key_End})
            QTest::keyClick(window, key);
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_O, Qt::Key_S})
            QTest::keyClick(window, key, Qt::ControlModifier);
        dlg->close();
    });
    Click(IDC_BUILD);

    ASSERT_TRUE(duringBuild) << "the clicks must land inside the build";
    EXPECT_EQ(Rows(), f);
    EXPECT_EQ(Selected(), 1);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->dialogs.size(), 1u) << "only the build's own target dialog";
    EXPECT_EQ(dlg->questions, 0);
    EXPECT_TRUE(backend->plays.isEmpty());
    EXPECT_EQ(dlg->messages, QStringList{"语音库合成结束,共计4个文件,成功:4个,失败0个."});
    const std::string lib = Slurp(target);
    ASSERT_EQ(lib.size(), 4u + 4u * 4 + 160u * 10);
    for (int i = 0; i < 4; ++i) // entry i is 160 * (i + 1) bytes of 'a' + i, in list order
        EXPECT_EQ(lib.substr(20 + 160 * static_cast<std::size_t>(i * (i + 1) / 2), 160),
                  std::string(160, char('a' + i)))
            << "entry " << i;
    EXPECT_FALSE(dlg->IsBusy());
}

TEST_F(SafetyTest, DoubleClickOnAnIconActsOnce)
{
    struct Row
    {
        const char* name;
        int column;
        std::size_t dialogs;
        int plays;
        int rowsLeft;
    };
    const Row rows[] = {
        {"replace", VoiceListModel::COL_REPLACE, 1, 0, 3},
        {"play", VoiceListModel::COL_PLAY, 0, 1, 3},
        {"delete", VoiceListModel::COL_DELETE, 0, 0, 2},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        Fill(Waves(3));
        dlg->dialogs.clear();
        backend->plays.clear();
        dlg->answers.push_back({File("new.wav")});
        dlg->answers.push_back({File("newer.wav")});
        // Through the window system's path, which makes the second press a double click.
        QTableView* view = dlg->listView();
        const QPoint at = view->visualRect(view->model()->index(0, r.column)).center();
        QTest::mouseDClick(dlg->windowHandle(), Qt::LeftButton, {}, view->viewport()->mapTo(dlg.get(), at));
        dlg->answers.clear();
        EXPECT_EQ(dlg->dialogs.size(), r.dialogs) << r.name;
        EXPECT_EQ(backend->plays.size(), r.plays) << r.name;
        EXPECT_EQ(dlg->voiceList().GetItemCount(), r.rowsLeft) << r.name;
        // The next single click acts again (on row 1: row 0's icon may be a stop icon now).
        ClickCell(1, VoiceListModel::COL_PLAY);
        EXPECT_EQ(backend->plays.size(), r.plays + 1) << r.name;
    }
}

TEST_F(SafetyTest, UnsavedEditsAreOfferedForSavingBeforeTheyGo)
{
    enum Action
    {
        Exit,
        Close,
        Load
    };
    const QString loadable = File("loadable.ini");
    const QString one = Waves(1, "l")[0];
    Fill({one});
    dlg->answers.push_back({loadable});
    Click(IDC_EXPORT_LIST);
    ASSERT_TRUE(QFile::exists(loadable));

    struct Row
    {
        const char* name;
        Action action;
        bool edited;
        int answer;    // to the question
        bool exported; // 是: the export dialog is answered, not cancelled
        bool goesOn;
    };
    const Row rows[] = {
        {"exit, unchanged", Exit, false, 0, false, true},
        {"exit, 是", Exit, true, QMessageBox::Yes, true, true},
        {"exit, 是 but the export is cancelled", Exit, true, QMessageBox::Yes, false, false},
        {"exit, 否", Exit, true, QMessageBox::No, false, true},
        {"exit, 取消", Exit, true, QMessageBox::Cancel, false, false},
        {"close, unchanged", Close, false, 0, false, true},
        {"close, 是", Close, true, QMessageBox::Yes, true, true},
        {"close, 否", Close, true, QMessageBox::No, false, true},
        {"close, 取消", Close, true, QMessageBox::Cancel, false, false},
        {"load, unchanged", Load, false, 0, false, true},
        {"load, 是", Load, true, QMessageBox::Yes, true, true},
        {"load, 是 but the export is cancelled", Load, true, QMessageBox::Yes, false, false},
        {"load, 否", Load, true, QMessageBox::No, false, true},
        {"load, 取消", Load, true, QMessageBox::Cancel, false, false},
    };
    const QStringList f = Waves(2);
    int n = 0;
    for (const Row& r : rows) {
        dlg->show();
        dlg->voiceList().Assign({});
        Fill(f);
        const QString saved = File(QStringLiteral("saved%1.ini").arg(n++));
        if (!r.edited) {
            dlg->answers.push_back({saved});
            Click(IDC_EXPORT_LIST);
            QFile::remove(saved);
        }
        dlg->questions = 0;
        dlg->saveAnswers = {r.answer};
        if (r.answer == QMessageBox::Yes)
            dlg->answers.push_back(r.exported ? QStringList{saved} : QStringList{});
        if (r.action == Load)
            dlg->answers.push_back({loadable});

        switch (r.action) {
        case Exit:
            Click(IDC_EXIT);
            break;
        case Close:
            dlg->close();
            break;
        case Load:
            Click(IDC_LOAD_LIST);
            break;
        }
        dlg->answers.clear();
        EXPECT_EQ(dlg->questions, r.edited ? 1 : 0) << r.name;
        EXPECT_EQ(QFile::exists(saved), r.exported) << r.name;
        if (r.action == Load)
            EXPECT_EQ(Rows(), r.goesOn ? QStringList{one} : f) << r.name;
        else
            EXPECT_EQ(dlg->isVisible(), !r.goesOn) << r.name;
        if (r.goesOn && r.action == Load) {
            dlg->saveAnswers = {QMessageBox::Cancel};
            Click(IDC_EXIT);
            EXPECT_FALSE(dlg->isVisible()) << r.name << ": a loaded list is unchanged";
        }
    }
}

TEST_F(SafetyTest, StartsWithTheFocusOnTheList)
{
    EXPECT_EQ(dlg->focusWidget(), dlg->listView());
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(dlg->isVisible());
}

} // namespace
