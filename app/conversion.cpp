#include "app/conversion.h"

#include "core/messages.h"
#include "core/source_info.h"
#include "media/convert.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>

bool NeedsConversion(const voicelib::SourceInfo& info)
{
    if (info.state == voicelib::SourceInfo::State::Rejected)
        return true;
    return info.IsAccepted() &&
           (info.sampleRate != voicelib::DEVICE_SAMPLE_RATE || info.channels != voicelib::DEVICE_CHANNELS);
}

ConversionRun RunConversion(QWidget* parent, const std::vector<voicelib::ConvertJob>& jobs,
                            const voicelib::ConvertOptions& options)
{
    QProgressDialog progress(QString::fromUtf8(voicelib::MessageText(voicelib::Msg::Converting)),
                             QStringLiteral("取消"), 0, 1000, parent);
    progress.setWindowTitle(QString::fromUtf8(voicelib::MessageText(voicelib::Msg::Prompt)));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);

    // The converter's workers report here; the UI thread reads it on a timer.
    std::atomic<bool> stop{false};
    std::atomic<int> permille{0};
    std::atomic<bool> finished{false};
    ConversionRun run;
    QEventLoop loop;
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&stop] { stop = true; });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &progress, [&] {
        if (progress.wasCanceled())
            stop = true;
        else
            progress.setValue(permille.load());
    });
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    std::thread worker([&] {
        run.results = voicelib::ConvertFiles(jobs, options, [&](double fraction, std::size_t, std::size_t) {
            permille = static_cast<int>(fraction * 1000);
            return !stop.load();
        });
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    poll.start(50);
    if (!finished)
        loop.exec();
    worker.join();
    poll.stop();
    QGuiApplication::restoreOverrideCursor();
    progress.close();

    // A cancel that came after the last file changes nothing.
    run.cancelled = std::any_of(run.results.begin(), run.results.end(),
                                [](const voicelib::ConvertResult& r) { return r.cancelled; });
    return run;
}
