// Time from a click on a row's play icon to the first sounding sample at a
// PulseAudio null sink, against paplay of the same file to the same sink
// measured in the same run. Warm runs only: the first stream into a fresh
// sink can start a second late.

#include "app/mainapp.h"
#include "app/maindlg.h"
#include "app/voicelistmodel.h"
#include "bench/timing.h"
#include "app/multimediabackend.h"
#include "soundsink.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

using voicelib::bench::Median;

class BenchDlg : public CMainDlg
{
public:
    using CMainDlg::CMainDlg;
    QStringList SelectFile(bool, bool, const QString&, const QString&) override { return next; }
    int ShowMessageBox(MessageKind, const QString&) override { return QMessageBox::No; }
    QStringList next;
};

void Quiet(soundtest::SinkRecorder& rec)
{
    soundtest::WaitFor([] { return false; }, 400, &rec);
    rec.Clear();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

    QString why;
    if (!soundtest::SoundServerAvailable(&why)) {
        std::printf("skipped: no sound server (%s)\n", qPrintable(why));
        return 0;
    }
    auto sink = soundtest::NullSink::Create(QStringLiteral("voicelib_bench_%1").arg(app.applicationPid()), &why);
    if (!sink) {
        std::printf("skipped: %s\n", qPrintable(why));
        return 0;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("tone.wav");
    {
        std::ofstream out(file.toStdString(), std::ios::binary);
        out << soundtest::AlawToneFile(0, 1.0, 0);
    }

    CMainApp::InitSharedResources();
    BenchDlg dlg(CreateMultimediaBackend(sink->device()));
    dlg.Create();
    dlg.show();
    dlg.next = {file};
    QTest::mouseClick(dlg.button(IDC_APPEND), Qt::LeftButton);
    QTableView* view = dlg.listView();
    const QPoint play = view->visualRect(view->model()->index(0, VoiceListModel::COL_PLAY)).center();

    soundtest::SinkRecorder rec(sink->name(), 2000);
    if (!rec.Start(&why)) {
        std::printf("skipped: %s\n", qPrintable(why));
        return 0;
    }

    std::vector<double> clickMs, paplayMs;
    for (int i = 0; i < runs + 2; ++i) { // two warm-up runs
        Quiet(rec);
        const qint64 t0 = rec.ElapsedMs();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, play);
        if (!soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 10000, &rec)) {
            std::printf("no sound arrived after a click\n");
            return 1;
        }
        if (i >= 2)
            clickMs.push_back(double(rec.FirstSoundMs() - t0));
        dlg.StopPreview();

        Quiet(rec);
        QProcess paplay;
        const qint64 p0 = rec.ElapsedMs();
        paplay.start("paplay", {"-d", sink->name(), file});
        if (!soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 10000, &rec)) {
            std::printf("no sound arrived from paplay\n");
            return 1;
        }
        if (i >= 2)
            paplayMs.push_back(double(rec.FirstSoundMs() - p0));
        paplay.kill();
        paplay.waitForFinished();
    }

    const double click = Median(clickMs), base = Median(paplayMs);
    std::printf("median of %d warm runs\n", runs);
    std::printf("click -> first sound at the sink   %7.1f ms (min %.0f, max %.0f; target < 150)\n", click,
                *std::min_element(clickMs.begin(), clickMs.end()), *std::max_element(clickMs.begin(), clickMs.end()));
    std::printf("paplay start -> first sound         %7.1f ms\n", base);
    std::printf("click / paplay                      %7.2f\n", base > 0 ? click / base : 0.0);
    return 0;
}
