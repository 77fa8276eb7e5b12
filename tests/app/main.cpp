#include <QApplication>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

class SkipEverything final : public ::testing::Environment
{
public:
    explicit SkipEverything(std::string why) : m_why(std::move(why)) {}
    void SetUp() override { GTEST_SKIP() << m_why; }

private:
    std::string m_why;
};

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
    ::testing::InitGoogleTest(&argc, argv);
    if (wantWayland) {
        qputenv("QT_QPA_PLATFORM", "wayland"); // programs the tests start use it too
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            ::testing::AddGlobalTestEnvironment(
                new SkipEverything("no Wayland compositor answers (WAYLAND_DISPLAY); start one, e.g. "
                                   "weston --backend=headless-backend.so"));
    }
    return RUN_ALL_TESTS();
}
