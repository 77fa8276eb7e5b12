// The main window driven by clicks and keys: every command and row click, the
// selection after each, the dialogs asked for and the messages shown.

#include "maindlg_fixture.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

using namespace apptest;

namespace {

const QString kWaveFilter = QStringLiteral("Source Voice Files(*.wav)|*.wav||");
// The source dialogs add every kind of audio the window converts.
const QString kSourceFilter =
    QStringLiteral("Source Voice Files(*.wav)|*.wav|所有音频文件|*.wav;*.mp3;*.flac;*.ogg;*.oga;*.opus;*.m4a;"
                   "*.aac;*.wma;*.aif;*.aiff;*.au;*.amr||");
const QString kListFilter = QStringLiteral("Voice Library Configuration Files(*.ini)|*.ini||");
const QString kLibraryFilter = QStringLiteral("Voice Library Files(*.bin)|*.bin||");

using WindowTest = MainDlgTest;

TEST_F(WindowTest, EachCommandAsksForItsKindOfFile)
{
    struct Row
    {
        const char* name;
        std::function<void(WindowTest&)> act;
        FileDialogCall expected;
    };
    const Row rows[] = {
        {"append", [](WindowTest& t) { t.Click(IDC_APPEND); }, {true, true, kSourceFilter, "*.wav"}},
        {"insert", [](WindowTest& t) { t.Click(IDC_INSERT); }, {true, false, kSourceFilter, "*.wav"}},
        {"replace", [](WindowTest& t) { t.ClickCell(1, 2); }, {true, false, kSourceFilter, "*.wav"}},
        {"load", [](WindowTest& t) { t.Click(IDC_LOAD_LIST); }, {true, false, kListFilter, "*.ini"}},
        {"export", [](WindowTest& t) { t.Click(IDC_EXPORT_LIST); }, {false, false, kListFilter, "*.ini"}},
        {"build", [](WindowTest& t) { t.Click(IDC_BUILD); }, {false, false, kLibraryFilter, "*.bin"}},
    };
    const QStringList files = Waves(3);
    Fill(files);
    dlg->voiceList().SetSelected(1);
    for (const Row& r : rows) {
        dlg->dialogs.clear();
        r.act(*this); // every dialog is cancelled
        ASSERT_EQ(dlg->dialogs.size(), 1u) << r.name;
        const FileDialogCall& c = dlg->dialogs[0];
        EXPECT_EQ(c.open, r.expected.open) << r.name;
        EXPECT_EQ(c.multi, r.expected.multi) << r.name;
        EXPECT_EQ(c.filter, r.expected.filter) << r.name;
        EXPECT_EQ(c.defExt, r.expected.defExt) << r.name;
        EXPECT_EQ(Rows(), files) << r.name << ": a cancelled dialog changes nothing";
        EXPECT_EQ(Selected(), 1) << r.name;
    }
    EXPECT_TRUE(dlg->messages.isEmpty());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, AppendAddsInDialogOrderAndScrollsToTheLast)
{
    const QStringList first = Waves(30, "a");
    Fill(first);
    ClickCell(1, 1);
    const QStringList more = Waves(3, "b");
    Fill(more);
    EXPECT_EQ(Rows(), first + more);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(ViewSelected(), 1);
    QTableView* view = dlg->listView();
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->model()->index(32, 1))));
    // The same file again is a second row.
    Fill({more[0]});
    EXPECT_EQ(Rows().count(more[0]), 2);
    EXPECT_EQ(view->model()->index(33, 0).data().toString(), "33");
}

TEST_F(WindowTest, EditsWithoutASelectionDoNothing)
{
    const QStringList files = Waves(3);
    Fill(files);
    dlg->dialogs.clear();
    for (int id : {IDC_INSERT, IDC_DELETE, IDC_MOVE_UP, IDC_MOVE_DOWN})
        Click(id);
    EXPECT_EQ(Rows(), files);
    EXPECT_TRUE(dlg->dialogs.empty()) << "insert without a selection opens no dialog";
    EXPECT_EQ(Selected(), -1);
}

TEST_F(WindowTest, EditsKeepListAndViewSelectionTogether)
{
    const QStringList f = Waves(5);
    const QString extra = Waves(1, "x")[0];
    Fill(f);

    ClickCell(2, 0); // the number column only selects
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(ViewSelected(), 2);

    dlg->answers.push_back({extra});
    Click(IDC_INSERT);
    EXPECT_EQ(Rows(), (QStringList{f[0], f[1], extra, f[2], f[3], f[4]}));
    EXPECT_EQ(Selected(), 3) << "the formerly selected row stays selected";
    EXPECT_EQ(ViewSelected(), 3);

    Click(IDC_MOVE_UP);
    EXPECT_EQ(Rows(), (QStringList{f[0], f[1], f[2], extra, f[3], f[4]}));
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(ViewSelected(), 2);

    Click(IDC_MOVE_DOWN);
    Click(IDC_MOVE_DOWN);
    EXPECT_EQ(Rows(), (QStringList{f[0], f[1], extra, f[3], f[2], f[4]}));
    EXPECT_EQ(Selected(), 4);
    EXPECT_EQ(ViewSelected(), 4);

    Click(IDC_DELETE);
    EXPECT_EQ(Rows(), (QStringList{f[0], f[1], extra, f[3], f[4]}));
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(ViewSelected(), -1);
    QAbstractItemModel* m = dlg->listView()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        EXPECT_EQ(m->index(r, 0).data().toString(), QString::number(r));
}

TEST_F(WindowTest, MovesStopAtTheEnds)
{
    const QStringList f = Waves(3);
    Fill(f);
    ClickCell(0, 1);
    Click(IDC_MOVE_UP);
    EXPECT_EQ(Rows(), f);
    EXPECT_EQ(ViewSelected(), 0);
    ClickCell(2, 1);
    Click(IDC_MOVE_DOWN);
    EXPECT_EQ(Rows(), f);
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(ViewSelected(), 2);
}

TEST_F(WindowTest, RowClicksActByColumn)
{
    struct Row
    {
        const char* name;
        int column;
        int dialogs;
        int plays;
        int rowsLeft;
    };
    const Row rows[] = {
        {"number", 0, 0, 0, 3}, {"path", 1, 0, 0, 3},   {"replace", 2, 1, 0, 3},
        {"play", 3, 0, 1, 3},   {"delete", 4, 0, 0, 2},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        const QStringList f = Waves(3);
        Fill(f);
        dlg->dialogs.clear();
        backend->plays.clear();
        const QString replacement = File("new.wav");
        dlg->answers.push_back({replacement});
        ClickCell(1, r.column);
        dlg->answers.clear();
        EXPECT_EQ(static_cast<int>(dlg->dialogs.size()), r.dialogs) << r.name;
        EXPECT_EQ(backend->plays.size(), r.plays) << r.name;
        EXPECT_EQ(dlg->voiceList().GetItemCount(), r.rowsLeft) << r.name;
        if (r.column == 2) {
            EXPECT_EQ(Rows(), (QStringList{f[0], replacement, f[2]}));
        }
        if (r.column == 3) {
            EXPECT_EQ(backend->plays, QStringList{f[1]});
        }
        if (r.column == 4) {
            EXPECT_EQ(Rows(), (QStringList{f[0], f[2]}));
            EXPECT_EQ(Selected(), -1);
        } else {
            EXPECT_EQ(Selected(), 1) << r.name << ": the click selects its row";
            EXPECT_EQ(ViewSelected(), 1) << r.name;
        }
    }
    EXPECT_TRUE(dlg->messages.isEmpty());
}

TEST_F(WindowTest, ClickBelowTheRowsActsOnNothing)
{
    const QStringList f = Waves(2);
    Fill(f);
    QTableView* view = dlg->listView();
    const QRect last = view->visualRect(view->model()->index(1, 4));
    dlg->dialogs.clear();
    ClickAt(QPoint(last.center().x(), last.bottom() + 40));
    EXPECT_EQ(Rows(), f);
    EXPECT_TRUE(dlg->dialogs.empty());
    EXPECT_TRUE(backend->plays.isEmpty());
}

TEST_F(WindowTest, ExportAndLoadRoundTripWithMessages)
{
    const QStringList f = Waves(3);
    Fill(f);
    const QString ini = File("list.ini");
    dlg->answers.push_back({ini});
    Click(IDC_EXPORT_LIST);
    EXPECT_EQ(dlg->messages, QStringList{"保存完成"});
    EXPECT_TRUE(QFile::exists(ini));

    ClickCell(0, 1);
    Click(IDC_DELETE);
    ClickCell(1, 1);
    dlg->messages.clear();
    dlg->answers.push_back({ini});
    Click(IDC_LOAD_LIST);
    EXPECT_TRUE(dlg->messages.isEmpty());
    EXPECT_EQ(Rows(), f);
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(ViewSelected(), -1);
}

// The window speaks Chinese whatever the locale, the engine's and the
// system's reasons included.
TEST_F(WindowTest, RefusedExportsSayWhyInChinese)
{
    Fill(Waves(1));
    const QString wave = File("old.wav");
    QFile::copy(File("w0.wav"), wave);
    QDir(dir.path()).mkdir(QStringLiteral("folder.ini"));
    ASSERT_EQ(::mkfifo(File("pipe.ini").toLocal8Bit().constData(), 0600), 0);
    const std::pair<QString, QString> cases[] = {
        {wave, QStringLiteral("WAV(RIFF)文件")},
        {File("folder.ini"), QStringLiteral("文件夹")},
        {File("pipe.ini"), QStringLiteral("FIFO(命名管道)")},
        {File("nowhere/list.ini"), QStringLiteral("文件不存在")},
    };
    const QRegularExpression englishWord(QStringLiteral("[A-Za-z][a-z]+"));
    for (const auto& [target, says] : cases) {
        SCOPED_TRACE(target.toStdString());
        dlg->messages.clear();
        dlg->answers.push_back({target});
        Click(IDC_EXPORT_LIST);
        ASSERT_EQ(dlg->messages.size(), 1);
        QString message = dlg->messages[0];
        EXPECT_TRUE(message.startsWith("保存失败: " + target)) << message.toStdString();
        EXPECT_TRUE(message.contains(says)) << message.toStdString();
        message.remove(target);
        EXPECT_FALSE(message.contains(englishWord)) << message.toStdString();
    }
    EXPECT_EQ(QFile(wave).size(), QFile(File("w0.wav")).size());
}

TEST_F(WindowTest, FailedListOperationsNameTheFileAndKeepTheList)
{
    const QStringList f = Waves(2);
    Fill(f);
    const QString missing = File("nowhere/list.ini");

    dlg->answers.push_back({missing});
    Click(IDC_EXPORT_LIST);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].startsWith("保存失败: " + missing)) << dlg->messages[0].toStdString();
    EXPECT_FALSE(dlg->messages[0].contains("保存完成"));

    dlg->messages.clear();
    dlg->answers.push_back({missing});
    Click(IDC_LOAD_LIST);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].startsWith("加载语音列表失败: " + missing))
        << dlg->messages[0].toStdString();
    EXPECT_EQ(Rows(), f);

    // A WAVE file picked in the load dialog is no list file: the list stays.
    dlg->messages.clear();
    dlg->answers.push_back({f[0]});
    Click(IDC_LOAD_LIST);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].startsWith("加载语音列表失败: " + f[0])) << dlg->messages[0].toStdString();
    EXPECT_TRUE(dlg->messages[0].contains("不是语音列表文件")) << dlg->messages[0].toStdString();
    EXPECT_EQ(Rows(), f);
}

TEST_F(WindowTest, RowsOfAListFileResolveAgainstItsFolder)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("proj/snd"));
    Spit(File("proj/snd/a.wav"), Wave(160, 'a'));
    Spit(File("proj/list.ini"), "[ZuLibItem]\nZuCount=1\nD000=snd/a.wav\n");
    const QString cwd = QDir::currentPath();
    ASSERT_NE(cwd, File("proj"));

    dlg->answers.push_back({File("proj/list.ini")});
    Click(IDC_LOAD_LIST);
    EXPECT_EQ(Rows(), QStringList{"snd/a.wav"}) << "the row shows as it stands in the file";
    ClickCell(0, VoiceListModel::COL_PLAY);
    EXPECT_EQ(backend->plays, QStringList{File("proj/snd/a.wav")});

    dlg->messages.clear();
    dlg->answers.push_back({File("lib.bin")});
    Click(IDC_BUILD);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].startsWith("语音库合成结束,共计1个文件,成功:1个,失败0个."))
        << dlg->messages[0].toStdString();
    EXPECT_EQ(Slurp(File("lib.bin")).substr(8), std::string(160, 'a'));
    EXPECT_EQ(QDir::currentPath(), cwd);
}

TEST_F(WindowTest, BuildOfAnEmptyListAsksNothing)
{
    Click(IDC_BUILD);
    EXPECT_TRUE(dlg->dialogs.empty());
    EXPECT_TRUE(dlg->messages.isEmpty());
}

TEST_F(WindowTest, ExportOfAnEmptyListDoesNothing)
{
    const QString ini = File("empty.ini");
    for (bool edited : {false, true}) {
        if (edited) { // a list emptied by hand
            Fill(Waves(1));
            ClickCell(0, VoiceListModel::COL_DELETE);
        }
        dlg->dialogs.clear();
        dlg->answers.push_back({ini});
        Click(IDC_EXPORT_LIST);
        dlg->answers.clear();
        EXPECT_TRUE(dlg->dialogs.empty()) << edited;
        EXPECT_TRUE(dlg->messages.isEmpty()) << edited;
        EXPECT_FALSE(QFile::exists(ini)) << edited;
    }
    Click(IDC_EXIT);
    EXPECT_EQ(dlg->questions, 0) << "an empty list has nothing to save";
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WindowTest, BuildStopsAtTheFirstInvalidSource)
{
    QStringList f = Waves(3);
    Spit(f[1], "RIFF not a wave at all, just text long enough to be probed......");
    f << File("missing.wav");
    Fill(f);
    Click(IDC_BUILD);
    EXPECT_TRUE(dlg->dialogs.empty() || !dlg->dialogs.back().filter.contains("bin"));
    // The designed line as it stands, then the reason on a line of its own.
    ASSERT_EQ(dlg->messages.size(), 1);
    const QStringList lines = dlg->messages[0].split('\n');
    ASSERT_EQ(lines.size(), 2) << dlg->messages[0].toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("无效的WAV文件,序号:1 名称:") + f[1]);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("原因:不是WAV文件"))) << lines[1].toStdString();
}

TEST_F(WindowTest, BuildWritesWhatTheCommandLineWrites)
{
    const QStringList f = Waves(3);
    Fill(f);
    const QString target = File("window.bin");
    dlg->answers.push_back({target});
    Click(IDC_BUILD);
    EXPECT_EQ(dlg->messages, QStringList{"语音库合成结束,共计3个文件,成功:3个,失败0个."});
    EXPECT_EQ(dlg->sizeTable()[0], 160u);
    EXPECT_EQ(dlg->sizeTable()[2], 480u);
    EXPECT_EQ(dlg->sizeTable()[3], 0u);

    const QString cliTarget = File("cli.bin");
    QString cmd = QStringLiteral("'%1' build -o '%2'").arg(VOICELIB_CLI, cliTarget);
    for (const QString& p : f)
        cmd += QStringLiteral(" '%1'").arg(p);
    cmd += " >/dev/null";
    ASSERT_EQ(std::system(cmd.toLocal8Bit().constData()), 0);
    const std::string ours = Slurp(target);
    EXPECT_EQ(ours.size(), 4u + 4u * 3 + 160u * 6);
    EXPECT_EQ(ours, Slurp(cliTarget));
}

TEST_F(WindowTest, FailedBuildSaysWhyAndKeepsTheSizeTable)
{
    Fill(Waves(2));
    const QString target = File("nowhere/lib.bin");
    dlg->answers.push_back({target});
    Click(IDC_BUILD);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].startsWith("语音库合成失败: " + target)) << dlg->messages[0].toStdString();
    EXPECT_EQ(dlg->sizeTable()[0], 0u);
}

TEST_F(WindowTest, CancelledBuildKeepsTheOldTarget)
{
    Fill(Waves(4));
    const QString target = File("lib.bin");
    Spit(target, "old library");
    dlg->answers.push_back({target});
    // The build waits inside the click for its worker, handling events
    // meanwhile, so a queued cancel lands in the build.
    QTimer::singleShot(0, dlg.get(), [this] {
        if (auto* p = dlg->findChild<QProgressDialog*>())
            p->cancel();
    });
    Click(IDC_BUILD);
    ASSERT_EQ(dlg->messages.size(), 1);
    EXPECT_TRUE(dlg->messages[0].contains("已取消")) << dlg->messages[0].toStdString();
    EXPECT_EQ(Slurp(target), "old library");
    EXPECT_EQ(dlg->findChild<QProgressDialog*>(), nullptr);
}

TEST_F(WindowTest, EnterAndEscapeLeaveTheWindowOpen)
{
    Fill(Waves(2));
    const QList<QWidget*> targets{dlg.get(), dlg->listView(), dlg->button(IDC_APPEND)};
    for (QWidget* target : targets) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            target->setFocus();
            dlg->dialogs.clear();
            QTest::keyClick(target, key);
            EXPECT_TRUE(dlg->isVisible()) << target->metaObject()->className() << " key " << key;
            EXPECT_TRUE(dlg->dialogs.empty()) << "no button is the default";
        }
    }
}

TEST_F(WindowTest, ExitButtonEndsTheWindow)
{
    Click(IDC_EXIT);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), CTxDialog::IDCANCEL);
}

TEST_F(WindowTest, CloseRequestEndsTheWindow)
{
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), CTxDialog::IDCANCEL);
}

// A window of a derived class: the set-up runs once the object is whole.
class InitProbe : public CMainDlg
{
public:
    InitProbe() : CMainDlg(std::make_unique<ScriptedBackend>()) {}

    int inits = 0;
    bool boundFirst = false; // the controls were there when the set-up ran

protected:
    bool OnInitDialog() override
    {
        ++inits;
        boundFirst = listView() && button(IDC_EXIT);
        return CMainDlg::OnInitDialog();
    }
};

TEST(WindowInit, DerivedSetUpRunsOnceWhenCreatedOrShown)
{
    CMainApp::InitSharedResources();
    const struct
    {
        const char* name;
        std::function<void(InitProbe&)> steps;
        int inits;
    } cases[] = {
        {"constructed only", [](InitProbe&) {}, 0},
        {"Create", [](InitProbe& d) { d.Create(); }, 1},
        {"Create twice", [](InitProbe& d) { d.Create(), d.Create(); }, 1},
        {"shown", [](InitProbe& d) { d.show(); }, 1},
        {"Create, shown, hidden, shown again", [](InitProbe& d) { d.Create(), d.show(), d.hide(), d.show(); },
         1},
        {"Create, then an exchange again (accept)", [](InitProbe& d) { d.Create(), d.accept(); }, 1},
        {"exec",
         [](InitProbe& d) {
             QTimer::singleShot(0, &d, [&d] { d.done(0); });
             d.exec();
         },
         1},
    };
    for (const auto& c : cases) {
        InitProbe d;
        c.steps(d);
        EXPECT_EQ(d.inits, c.inits) << c.name;
        EXPECT_EQ(d.IsCreated(), c.inits > 0) << c.name;
        EXPECT_EQ(d.listView() != nullptr, c.inits > 0) << c.name;
        EXPECT_EQ(d.findChildren<CSkinButton*>().size(), c.inits > 0 ? 9 : 0)
            << c.name << ": each bound once";
        if (c.inits > 0) {
            EXPECT_TRUE(d.boundFirst) << c.name;
            EXPECT_EQ(d.windowTitle(), "语音库合成工具:") << c.name << ": the window's own set-up ran too";
        }
    }
}

TEST(FilterText, BecomesQtNameFilters)
{
    EXPECT_EQ(ToQtFilter(kWaveFilter), "Source Voice Files(*.wav)");
    EXPECT_EQ(ToQtFilter(kSourceFilter),
              "Source Voice Files(*.wav);;所有音频文件 (*.wav *.mp3 *.flac *.ogg *.oga "
              "*.opus *.m4a *.aac *.wma *.aif *.aiff *.au *.amr)");
    EXPECT_EQ(ToQtFilter("Lists(*.ini)|*.ini|All(*.*)|*.ini;*.txt||"),
              "Lists(*.ini);;All(*.*) (*.ini *.txt)");
    EXPECT_EQ(ToQtFilter(""), "");
}

} // namespace
