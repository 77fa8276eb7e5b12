// The whole preview path: a click on a row's play icon in the real window,
// the real QtMultimedia player, samples arriving at a PulseAudio sink.
// Skipped, saying why, when no sound server can be reached.

#include "maindlg_fixture.h"
#include "app/multimediabackend.h"
#include "soundsink.h"

#include <QCoreApplication>
#include <cstdio>

namespace apptest {
namespace {

class PreviewSoundTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString why;
        if (!soundtest::SoundServerAvailable(&why))
            GTEST_SKIP() << "no sound server: " << why.toStdString();
        const QString name = QStringLiteral("voicelib_test_%1").arg(QCoreApplication::applicationPid());
        sink = soundtest::NullSink::Create(name, &why);
        ASSERT_TRUE(sink) << why.toStdString();

        CMainApp::InitSharedResources();
        dlg = std::make_unique<TestDlg>(CreateMultimediaBackend(sink->device()));
        dlg->Create();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }

    void ClickPlay(int row)
    {
        QTableView* view = dlg->listView();
        const QRect r = view->visualRect(view->model()->index(row, VoiceListModel::COL_PLAY));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    }

    QTemporaryDir dir;
    std::unique_ptr<soundtest::NullSink> sink;
    std::unique_ptr<TestDlg> dlg;
};

TEST_F(PreviewSoundTest, ClickPlaysTheFileToTheSinkAndReturnsToIdle)
{
    // 0.2 s of silence, then a 1.2 s tone to the very end: closing the
    // player at the end must not cut the last of it.
    const QString tone = dir.filePath("tone.wav");
    Spit(tone, soundtest::AlawToneFile(0.2, 1.2, 0));
    dlg->answers.push_back({tone});
    QTest::mouseClick(dlg->button(IDC_APPEND), Qt::LeftButton);
    ASSERT_EQ(dlg->voiceList().GetItemCount(), 1);

    soundtest::SinkRecorder rec(sink->name(), 2000);
    QString why;
    ASSERT_TRUE(rec.Start(&why)) << why.toStdString();
    // The first stream into a fresh sink can start late; warm it up once.
    ClickPlay(0);
    ASSERT_TRUE(soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 20000, &rec))
        << "no sound arrived at the sink";
    ASSERT_TRUE(soundtest::WaitFor([&] { return dlg->playingRow() == -1; }, 20000, &rec));

    rec.Clear();
    ClickPlay(0);
    EXPECT_EQ(dlg->playingRow(), 0);
    EXPECT_TRUE(dlg->previewTimerActive());
    ASSERT_TRUE(soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 20000, &rec))
        << "no sound arrived at the sink";
    // The poll sees the end within a tick or two of the last sample.
    ASSERT_TRUE(soundtest::WaitFor([&] { return dlg->playingRow() == -1; }, 20000, &rec))
        << "the window never returned to idle";
    const qint64 idleMs = rec.ElapsedMs();
    EXPECT_FALSE(dlg->previewTimerActive());
    soundtest::WaitFor([] { return false; }, 300, &rec); // the tail still in flight

    const auto [first, last] = rec.SoundSpan();
    const double seconds = double(last - first) / soundtest::SinkRecorder::kRate;
    EXPECT_NEAR(seconds, 1.2, 0.1) << "the tone lasted " << seconds << " s at the sink";
    std::printf("click to first sound %lld ms (0.2 s of it silence in the file), tone at the sink %.3f s, "
                "stop icon gone %lld ms after its last sample\n",
                static_cast<long long>(rec.FirstSoundMs()), seconds,
                static_cast<long long>(idleMs - rec.FirstSoundMs() - 1200));
    EXPECT_TRUE(dlg->messages.isEmpty());
}

TEST_F(PreviewSoundTest, SixteenKilohertzFileSoundsForItsRealDuration)
{
    // A tone of 9600 samples labelled 16 kHz: 0.6 s, where 8 kHz would make it 1.2 s.
    std::string bytes = soundtest::AlawToneFile(0.2, 1.2, 0);
    for (int at : {24, 28}) // sample rate and byte rate of the format block
        for (int i = 0; i < 4; ++i)
            bytes[static_cast<std::size_t>(at + i)] = static_cast<char>((16000 >> (8 * i)) & 0xff);
    const QString tone = dir.filePath("tone16k.wav");
    Spit(tone, bytes);
    dlg->answers.push_back({tone});
    QTest::mouseClick(dlg->button(IDC_APPEND), Qt::LeftButton);

    soundtest::SinkRecorder rec(sink->name(), 2000);
    QString why;
    ASSERT_TRUE(rec.Start(&why)) << why.toStdString();
    for (int pass = 0; pass < 2; ++pass) { // the first stream into a fresh sink can start late
        rec.Clear();
        ClickPlay(0);
        ASSERT_TRUE(soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 20000, &rec))
            << "no sound arrived at the sink";
        ASSERT_TRUE(soundtest::WaitFor([&] { return dlg->playingRow() == -1; }, 20000, &rec));
        soundtest::WaitFor([] { return false; }, 300, &rec); // the tail still in flight
    }
    const auto [first, last] = rec.SoundSpan();
    const double seconds = double(last - first) / soundtest::SinkRecorder::kRate;
    EXPECT_NEAR(seconds, 0.6, 0.1) << "the tone lasted " << seconds << " s at the sink";
    std::printf("16 kHz tone at the sink %.3f s\n", seconds);
}

TEST_F(PreviewSoundTest, DeletingThePlayingRowSilencesIt)
{
    const QString tone = dir.filePath("long.wav");
    Spit(tone, soundtest::AlawToneFile(0, 5, 0));
    dlg->answers.push_back({tone});
    QTest::mouseClick(dlg->button(IDC_APPEND), Qt::LeftButton);

    soundtest::SinkRecorder rec(sink->name(), 2000);
    QString why;
    ASSERT_TRUE(rec.Start(&why)) << why.toStdString();
    ClickPlay(0);
    ASSERT_TRUE(soundtest::WaitFor([&] { return rec.FirstSoundMs() >= 0; }, 20000, &rec));

    QTableView* view = dlg->listView();
    const QRect r = view->visualRect(view->model()->index(0, VoiceListModel::COL_DELETE));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_EQ(dlg->voiceList().GetItemCount(), 0);

    // Allow for what was already buffered, then nothing more may sound.
    soundtest::WaitFor([] { return false; }, 700, &rec);
    rec.Clear();
    soundtest::WaitFor([] { return false; }, 1000, &rec);
    EXPECT_EQ(rec.FirstSoundMs(), -1) << "sound went on after the row was deleted";
}

} // namespace
} // namespace apptest
