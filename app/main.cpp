// voicelib-gui: the window program. Without a display there is nothing to show,
// so it says so and points at the command line instead of letting Qt abort.

#include "app/mainapp.h"
#include "core/tempfiles.h"

#include <QApplication>
#include <cstdio>

namespace {

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void SayNoDisplay()
{
    std::fputs("voicelib-gui: no display could be opened (DISPLAY / WAYLAND_DISPLAY); "
               "the window cannot be shown. Use the command line tool instead, e.g.\n"
               "  voicelib build -o voices.bin prompts/*.wav && voicelib info voices.bin\n",
               stderr);
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        SayNoDisplay();
        return 2;
    }
    // A display that is named but cannot be reached falls through to the
    // offscreen platform instead of aborting; it is told as no display below.
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen)
        qputenv("QT_QPA_PLATFORM",
                qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb;offscreen" : "wayland;xcb;offscreen");
    QApplication app(argc, argv);
    if (!platformChosen) {
        qunsetenv("QT_QPA_PLATFORM");
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            SayNoDisplay();
            return 2;
        }
    }
    voicelib::InstallTempFileCleanup();
    QApplication::setApplicationName(QStringLiteral("voicelib"));
    QApplication::setDesktopFileName(QStringLiteral("voicelib"));

    CMainApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
