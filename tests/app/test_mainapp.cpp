// The application's shared font and row icons, and the window program started
// where there is no display.

#include "app/mainapp.h"
#include "app/maindlg.h"
#include "res/resources.h"
#include "skin/resource_lookup.h"

#include <QApplication>
#include <QFontInfo>
#include <QProcess>
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
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dlg = qobject_cast<CMainDlg*>(w))
                dlg->button(IDC_EXIT)->click();
    });
    CMainApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(g_imageList.isEmpty());
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
