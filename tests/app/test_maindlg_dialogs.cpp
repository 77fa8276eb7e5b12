// The window's own file dialog and message box, answered by a queued click.

#include "maindlg_fixture.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTimer>

using namespace apptest;

namespace {

template <typename Dialog, typename Fn> void WhenShown(Fn fn)
{
    QTimer::singleShot(0, [fn] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<Dialog*>(w); d && d->isVisible()) {
                fn(d);
                return;
            }
    });
}

class RealDialogsTest : public ::testing::Test
{
public:
    RealDialogsTest() : saved(QDir::currentPath())
    {
        CMainApp::InitSharedResources();
        QDir::setCurrent(dir.path());
        QDir(dir.path()).mkdir("sub");
        dlg.Create();
    }
    ~RealDialogsTest() override { QDir::setCurrent(saved); }

    QTemporaryDir dir;
    QString saved;
    CMainDlg dlg{std::make_unique<ScriptedBackend>()};
};

TEST_F(RealDialogsTest, FileDialogStartsWhereTheLastOneEndedAndLeavesTheCurrentFolder)
{
    const QString chosen = QDir(dir.path()).filePath("sub/a.wav");
    QString title, startDir;
    QStringList filters;
    bool save = true;
    WhenShown<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle();
        startDir = d->directory().absolutePath();
        filters = d->nameFilters();
        save = d->acceptMode() == QFileDialog::AcceptSave;
        d->selectFile(chosen);
        static_cast<QDialog*>(d)->accept();
    });
    const QStringList got = dlg.SelectFile(true, false, "Source Voice Files(*.wav)|*.wav||", "*.wav");
    EXPECT_EQ(title, "选择目标文件...");
    EXPECT_EQ(startDir, QDir(dir.path()).absolutePath());
    EXPECT_EQ(filters, QStringList{"Source Voice Files(*.wav)"});
    EXPECT_FALSE(save);
    EXPECT_EQ(got, QStringList{chosen}) << "an open dialog takes the name of a missing file";
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());

    WhenShown<QFileDialog>([&](QFileDialog* d) {
        startDir = d->directory().absolutePath();
        d->reject();
    });
    EXPECT_TRUE(dlg.SelectFile(false, false, "Voice Library Files(*.bin)|*.bin||", "*.bin").isEmpty());
    EXPECT_EQ(startDir, QDir(dir.path()).filePath("sub"));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());
}

TEST_F(RealDialogsTest, AppendDialogTakesSeveralNamesAndNamesOfFilesNotThereYet)
{
    struct Row
    {
        const char* name;
        QString typed;
        QStringList expected;
    };
    QFile(QDir(dir.path()).filePath("a.wav")).open(QIODevice::WriteOnly);
    QFile(QDir(dir.path()).filePath("b.wav")).open(QIODevice::WriteOnly);
    const Row rows[] = {
        {"a new name", "new.wav", {"new.wav"}},
        {"two existing files", "\"a.wav\" \"b.wav\"", {"a.wav", "b.wav"}},
        {"one there, one new", "\"a.wav\" \"new.wav\"", {"a.wav", "new.wav"}},
    };
    for (const Row& r : rows) {
        bool extended = false, openEnabled = false;
        WhenShown<QFileDialog>([&](QFileDialog* d) {
            d->setDirectory(dir.path());
            auto* list = d->findChild<QListView*>("listView");
            extended = list && list->selectionMode() == QAbstractItemView::ExtendedSelection;
            auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
            auto* box = d->findChild<QDialogButtonBox*>();
            QPushButton* open = box ? box->button(QDialogButtonBox::Open) : nullptr;
            if (!edit || !open)
                return d->reject();
            QApplication::setActiveWindow(d);
            edit->setFocus();
            QTest::keyClicks(edit, r.typed); // typed, as a user types it
            openEnabled = open->isEnabled();
            if (openEnabled)
                open->click();
            else
                d->reject();
        });
        const QStringList got = dlg.SelectFile(true, true, "Source Voice Files(*.wav)|*.wav||", "*.wav");
        QStringList expected;
        for (const QString& name : r.expected)
            expected << QDir(dir.path()).filePath(name);
        EXPECT_TRUE(extended) << r.name << ": several rows can be picked";
        EXPECT_TRUE(openEnabled) << r.name;
        EXPECT_EQ(got, expected) << r.name;
    }
}

TEST_F(RealDialogsTest, SaveQuestionOffersYesNoAndCancel)
{
    for (auto answer : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
        QString text;
        QStringList buttons;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            box->button(answer)->click();
        });
        EXPECT_EQ(dlg.AskYesNoCancel("语音列表已修改,是否保存?"), answer);
        EXPECT_EQ(text, "语音列表已修改,是否保存?");
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{"取消", "否", "是"}));
    }
}

TEST_F(RealDialogsTest, FolderDialogOpensInTheSuggestedFolderAndLeavesNoEmptyOneBehind)
{
    const QString suggested = QDir(dir.path()).filePath("alaw");
    const QString sub = QDir(dir.path()).filePath("sub");
    // What is picked after opening ("": where it opened; "-": cancel), and what comes back.
    const std::pair<QString, QString> rows[] = {{"", suggested}, {"-", ""}, {sub, sub}};
    for (const auto& [pick, expected] : rows) {
        QDir(suggested).removeRecursively();
        QString startDir;
        WhenShown<QFileDialog>([&, pick = pick](QFileDialog* d) {
            startDir = d->directory().absolutePath();
            if (pick == "-")
                return d->reject();
            if (!pick.isEmpty())
                d->setDirectory(pick);
            static_cast<QDialog*>(d)->accept();
        });
        EXPECT_EQ(dlg.SelectFolder(suggested), expected) << pick.toStdString();
        EXPECT_EQ(startDir, suggested) << "made for the dialog";
        EXPECT_EQ(QFileInfo::exists(suggested), expected == suggested) << pick.toStdString();
    }
}

TEST_F(RealDialogsTest, QtsOwnTextsAreInChinese)
{
    const QString qm = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm";
    if (!QFile::exists(qm))
        GTEST_SKIP() << qm.toStdString() << " is missing (Debian package qt6-translations-l10n)";
    ASSERT_TRUE(CMainApp::InstallTranslations());
    QString cancel;
    WhenShown<QFileDialog>([&](QFileDialog* d) {
        if (auto* box = d->findChild<QDialogButtonBox*>())
            cancel = box->button(QDialogButtonBox::Cancel)->text();
        d->reject();
    });
    dlg.SelectFile(false, false, "Voice Library Files(*.bin)|*.bin||", "*.bin");
    EXPECT_EQ(cancel, "取消");
}

TEST_F(RealDialogsTest, CancelledFileDialogGivesNothingAndStaysPut)
{
    WhenShown<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_TRUE(dlg.SelectFile(false, false, "Voice Library Files(*.bin)|*.bin||", "*.bin").isEmpty());
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());
}

TEST_F(RealDialogsTest, MessageIsAnInformationBoxWithOk)
{
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    dlg.ShowMessage("保存完成");
    EXPECT_EQ(title, "提示:");
    EXPECT_EQ(text, "保存完成");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

} // namespace
