#include "core/messages.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// Told to CTest as "skipped" (SKIP_RETURN_CODE of the Wayland run).
constexpr int kSkipped = 77;

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The Wayland run needs a compositor; without one, say so rather than abort.
    const bool wantWayland = qgetenv("QT_QPA_PLATFORM") == "wayland";
    if (wantWayland)
        qputenv("QT_QPA_PLATFORM", "wayland;offscreen");
    QApplication app(argc, argv);
    // As the window program does.
    voicelib::SetMessageLanguage({"zh_CN"});
    ::testing::InitGoogleTest(&argc, argv);
    if (wantWayland) {
        qputenv("QT_QPA_PLATFORM", "wayland"); // programs the tests start use it too
        if (QGuiApplication::platformName() != QLatin1String("wayland")) {
            std::fputs("Skipped: no Wayland compositor answers (WAYLAND_DISPLAY); start one, e.g. "
                       "weston --backend=headless-backend.so\n",
                       stderr);
            return kSkipped;
        }
    }
    const int status = RUN_ALL_TESTS();
    // Qt 6.4's Wayland client can hang in its display teardown (its event
    // thread still blocked in a read); the results are in, so leave without it.
    if (wantWayland) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
