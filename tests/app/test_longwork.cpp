// Long work: the window takes no input while it runs, and how it ended comes
// back as exactly one signal.

#include "app/longwork.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(LongWorkTest, EndsWithOneSignalAndGivesTheWindowBack)
{
    using Outcome = LongWork::Outcome;
    enum Way
    {
        Finish,
        ReportFailure,
        Throw,
        RunUntilCancelled,
    };
    struct Row
    {
        const char* name;
        Way way;
        Outcome expected;
        int completed, cancelled, failed; // signals seen
    };
    const Row rows[] = {
        {"finishes", Finish, Outcome::Completed, 1, 0, 0},
        {"says it failed", ReportFailure, Outcome::Failed, 0, 0, 1},
        {"throws", Throw, Outcome::Failed, 0, 0, 1},
        {"is cancelled in the progress dialog", RunUntilCancelled, Outcome::Cancelled, 0, 1, 0},
    };
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("b"), &window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    button->setFocus();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LongWork work(&window, QStringLiteral("working"), 10);
        QSignalSpy completed(&work, &LongWork::completed);
        QSignalSpy cancelled(&work, &LongWork::cancelled);
        QSignalSpy failed(&work, &LongWork::failed);
        QSignalSpy clicked(button, &QPushButton::clicked);
        bool offGuiThread = false;
        bool windowTookInput = true;
        bool dialogTookInput = false;
        QTimer probe; // goes before the work does
        probe.setSingleShot(true);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            windowTookInput = window.isEnabled();
            QTest::mouseClick(button, Qt::LeftButton);
            dialogTookInput = work.progressDialog()->isEnabled();
            work.progressDialog()->cancel();
        });
        probe.start(20);
        const Outcome outcome = work.Run([&](const LongWork::Progress& progress) {
            offGuiThread = QThread::currentThread() != window.thread();
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            switch (r.way) {
            case Finish:
                return progress(10) ? Outcome::Completed : Outcome::Failed;
            case ReportFailure:
                return Outcome::Failed;
            case Throw:
                throw std::runtime_error("broken");
            case RunUntilCancelled:
                for (int i = 0; progress(i % 10) && std::chrono::steady_clock::now() < until; ++i)
                    QThread::msleep(1);
                break;
            }
            return Outcome::Cancelled;
        });
        EXPECT_EQ(outcome, r.expected);
        EXPECT_TRUE(offGuiThread);
        EXPECT_EQ(completed.count(), r.completed);
        EXPECT_EQ(cancelled.count(), r.cancelled);
        EXPECT_EQ(failed.count(), r.failed);
        if (r.way == RunUntilCancelled) {
            EXPECT_FALSE(windowTookInput);
            EXPECT_TRUE(dialogTookInput);
            EXPECT_EQ(clicked.count(), 0);
        }
        EXPECT_TRUE(window.isEnabled());
        EXPECT_EQ(window.focusWidget(), button);
    }
}

} // namespace
