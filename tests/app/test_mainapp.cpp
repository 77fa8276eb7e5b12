// The application's shared font and row icons, and the window program started
// where there is no display.

#include "app/mainapp.h"
#include "app/maindlg.h"
#include "res/resources.h"
#include "skin/resource_lookup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(MainApp, SharedFontAndRowIcons)
{
    CMainApp::InitSharedResources();
    EXPECT_EQ(g_font.pointSize(), 9);
    EXPECT_EQ(g_font.family(), "微软雅黑");
    const QStringList subs = QFont::substitutes("微软雅黑");
    EXPECT_TRUE(subs.contains("WenQuanYi Micro Hei", Qt::CaseInsensitive)) << subs.join(",").toStdString();
    EXPECT_TRUE(subs.contains("Noto Sans CJK SC", Qt::CaseInsensitive));

    ASSERT_EQ(g_imageList.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QImage icon = g_imageList[i].pixmap(20, 20).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(icon.size(), QSize(20, 20)) << i;
        const QImage expected =
            voicelib::res::LoadBitmapResource(ROW_ICON_IDS[static_cast<std::size_t>(i)], Qt::white)
                .toImage()
                .convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(icon, expected) << "image " << i << " is icon "
                                  << ROW_ICON_IDS[static_cast<std::size_t>(i)];
        EXPECT_EQ(icon.pixelColor(0, 0), QColor(Qt::white)) << "drawn on white, not transparent";
    }

    // The skin's lookups reach the program's pictures; bitmaps lie on the button face.
    EXPECT_EQ(IconNaturalSize(LoadIconResource(153)), QSize(32, 32));
    const QImage mark = LoadBitmapResource(138);
    ASSERT_EQ(mark.size(), QSize(10, 10));
    EXPECT_EQ(FromQColor(mark.pixelColor(0, 0)), GetSysColor(COLOR_BTNFACE));
}

TEST(MainApp, RunsOneWindowAndReturnsWhenItCloses)
{
    // With a list file named, as a file manager names it, the window opens with its rows.
    QTemporaryDir dir;
    QFile list(dir.filePath("list.ini"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("[ZuLibItem]\nZuCount=2\nD000=a.wav\nD001=b.wav\n");
    list.close();
    for (const QString& file : {QString(), list.fileName()}) {
        int rows = -1;
        QTimer::singleShot(0, [&rows] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dlg = qobject_cast<CMainDlg*>(w)) {
                    rows = dlg->voiceList().GetItemCount();
                    dlg->button(IDC_EXIT)->click();
                }
        });
        CMainApp app;
        EXPECT_FALSE(app.InitInstance(file));
        EXPECT_EQ(rows, file.isEmpty() ? 0 : 2);
        EXPECT_EQ(app.ExitInstance(), 0);
        EXPECT_TRUE(g_imageList.isEmpty());
    }
}

TEST(Programs, AnswerVersionAndHelpWithoutADisplay)
{
    struct Case
    {
        const char* program;
        QStringList args;
        bool display;
        int code;
        const char* out; // a regular expression for all of stdout
        const char* err; // in stderr
    };
    const Case cases[] = {
        {VOICELIB_CLI, {"--version"}, false, 0, "voicelib \\d+\\.\\d+\\.\\d+\n", ""},
        {VOICELIB_GUI, {"--version"}, false, 0, "voicelib-gui \\d+\\.\\d+\\.\\d+\n", ""},
        {VOICELIB_GUI,
         {"-platform", "x", "--help"},
         false,
         0,
         "usage: voicelib-gui [^\n]*LIST\\.ini\\]\n(.*\n)+",
         ""},
        {VOICELIB_GUI, {"--bogus"}, true, 2, "", "unknown option '--bogus'\nRun 'voicelib-gui --help'"},
        {VOICELIB_GUI, {"a.ini", "b.ini"}, true, 2, "", "one voice list file at most, got 2"},
    };
    for (const Case& c : cases) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (c.display)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(c.program, c.args);
        ASSERT_TRUE(program.waitForFinished(30000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        const QString what = QString(c.program).section('/', -1) + " " + c.args.join(' ');
        EXPECT_EQ(program.exitCode(), c.code) << what.toStdString();
        EXPECT_TRUE(QRegularExpression(QString("\\A") + c.out + "\\z").match(out).hasMatch())
            << what.toStdString() << ": " << out.toStdString();
        EXPECT_TRUE(err.contains(c.err)) << what.toStdString() << ": " << err.toStdString();
    }
}

TEST(GuiProgram, WithoutADisplaySaysSoAndExits)
{
    QProcess gui;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    gui.setProcessEnvironment(env);
    gui.start(VOICELIB_GUI, {});
    ASSERT_TRUE(gui.waitForFinished(30000));
    EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gui.exitCode(), 2);
    EXPECT_TRUE(gui.readAllStandardError().contains("no display")) << "it tells why";
}

TEST(GuiProgram, AnUnreachableDisplayIsNoDisplay)
{
    QProcess gui;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("DISPLAY", ":97531");
    gui.setProcessEnvironment(env);
    gui.start(VOICELIB_GUI, {});
    ASSERT_TRUE(gui.waitForFinished(30000));
    EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit) << "no abort";
    EXPECT_EQ(gui.exitCode(), 2);
    EXPECT_TRUE(gui.readAllStandardError().contains("no display"));
}

TEST(GuiProgram, StartsWithoutThePlayerModuleAndWithoutQtMultimedia)
{
    // A copy with no module beside it nor in a library folder near it; the
    // dynamic loader names every library it loads.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("bin")));
    const QString program = dir.filePath("bin/voicelib-gui");
    ASSERT_TRUE(QFile::copy(VOICELIB_GUI, program));
    QProcess gui;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VOICELIB_GUI_CLOSE_AFTER_SHOW", "1");
    env.insert("LD_DEBUG", "libs");
    gui.setProcessEnvironment(env);
    gui.start(program, {});
    const bool ended = gui.waitForFinished(30000);
    if (!ended)
        gui.kill();
    ASSERT_TRUE(ended);
    const QByteArray said = gui.readAllStandardError();
    EXPECT_EQ(gui.exitCode(), 0) << said.right(2000).toStdString();
    ASSERT_TRUE(said.contains("libQt6Widgets")) << "the loader's trace is there";
    for (const char* library : {"libQt6Multimedia", "libpulse", "libavformat", "libespeak-ng"})
        EXPECT_FALSE(said.contains(library)) << library;
}

TEST(GuiProgram, EndsCleanlyOnACloseRequestOnceShown)
{
    // The smoke switch the package check uses: the window is shown on the
    // platform under test (offscreen, or a Wayland compositor) and then closed.
    QProcess gui;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VOICELIB_GUI_CLOSE_AFTER_SHOW", "1");
    gui.setProcessEnvironment(env);
    gui.start(VOICELIB_GUI, {});
    const bool ended = gui.waitForFinished(30000);
    if (!ended)
        gui.kill();
    ASSERT_TRUE(ended) << "still running: the window was never shown or ignored the close request";
    EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gui.exitCode(), 0) << gui.readAllStandardError().toStdString();
}

} // namespace
