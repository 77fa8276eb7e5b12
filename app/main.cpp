// voicelib-gui: the window program. Without a display there is nothing to show,
// so it says so and points at the command line instead of letting Qt abort.

#include "app/arguments.h"
#include "app/fontwarmup.h"
#include "app/mainapp.h"
#include "core/messages.h"
#include "core/tempfiles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

namespace {

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void SayNoDisplay()
{
    std::fprintf(stderr, "%s\n", voicelib::MessageText(voicelib::Msg::NoDisplay));
}

// For smoke checks of an installed or packaged program: with
// VOICELIB_GUI_CLOSE_AFTER_SHOW set, the first window to reach the screen is
// asked to close a moment later, through the same event a window manager's
// close button sends.
class CloseWhenShown final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_asked && event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                m_asked = true;
                QPointer<QWindow> target(window);
                QTimer::singleShot(DELAY_MS, this, [target] {
                    if (target)
                        QCoreApplication::postEvent(target, new QCloseEvent);
                });
            }
        }
        return false;
    }

private:
    static constexpr int DELAY_MS = 500; // lets the first frames be painted
    bool m_asked = false;
};

} // namespace

int main(int argc, char** argv)
{
    // What goes to the terminal is in the user's language; the window is Chinese.
    voicelib::SetMessageLanguage(voicelib::LanguagesFromEnvironment());
    // The version and the usage need no display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (const GuiRequest early = ParseGuiArguments(args);
        early.action == GuiRequest::Action::Version || early.action == GuiRequest::Action::Help) {
        std::fputs(early.text.c_str(), stdout);
        return 0;
    }
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
    FontWarmUp fonts;
    QApplication app(argc, argv);
    const auto fontsDone = qScopeGuard([&fonts] { fonts.Finish(); });
    if (!platformChosen) {
        qunsetenv("QT_QPA_PLATFORM");
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            SayNoDisplay();
            return 2;
        }
    }
    // Qt has taken its own options (-platform, ...) out by now.
    const GuiRequest request = ParseGuiArguments(QCoreApplication::arguments().mid(1));
    if (request.action == GuiRequest::Action::UsageError) {
        std::fputs(request.text.c_str(), stderr);
        return 2;
    }
    voicelib::InstallTempFileCleanup();
    voicelib::SetMessageLanguage({"zh_CN"});
    QApplication::setApplicationName(QStringLiteral("voicelib"));
    QApplication::setDesktopFileName(QStringLiteral("voicelib"));

    CloseWhenShown closer;
    if (!qEnvironmentVariableIsEmpty("VOICELIB_GUI_CLOSE_AFTER_SHOW"))
        app.installEventFilter(&closer);

    fonts.ApplicationReady();
    CMainApp theApp;
    theApp.InitInstance(request.listFile);
    const int status = theApp.ExitInstance();
    // Qt 6.4's Wayland client can hang in its display teardown, its event
    // thread still blocked in a read. The window is closed and every file
    // written by now, so leave without that teardown.
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
