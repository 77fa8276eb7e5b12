#pragma once

// Test support for real playback: a PulseAudio null sink of our own, a
// recorder of its monitor, and A-law test tones.

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace soundtest {

// Whether a PulseAudio server answers; *why says what is missing when not.
bool SoundServerAvailable(QString* why);

// A null sink loaded for the lifetime of the object.
class NullSink
{
public:
    // Loads the sink and waits until Qt lists it; null with *why on failure.
    static std::unique_ptr<NullSink> Create(const QString& name, QString* why);
    ~NullSink();

    const QString& name() const { return m_name; }
    const QAudioDevice& device() const { return m_device; }

private:
    NullSink() = default;
    QString m_name;
    QString m_module;
    QAudioDevice m_device;
};

// Records a sink's monitor as 8 kHz mono 16-bit samples with arrival times.
class SinkRecorder
{
public:
    static constexpr int kRate = 8000;

    // Samples whose magnitude exceeds threshold count as sound.
    SinkRecorder(const QString& sink, int threshold);
    ~SinkRecorder();
    bool Start(QString* why);
    // Reads what has arrived so far (call while waiting).
    void Poll();

    const std::vector<std::int16_t>& samples() const { return m_samples; }
    // Milliseconds since Start() at which the first sound arrived, or -1.
    qint64 FirstSoundMs() const { return m_firstLoudMs; }
    // Index of the first sounding sample and one past the last; {0, 0} for none.
    std::pair<std::size_t, std::size_t> SoundSpan() const;
    qint64 ElapsedMs() const { return m_clock.elapsed(); }
    // Forgets what was recorded so far (the recording goes on).
    void Clear();

private:
    QString m_sink;
    QProcess m_parec;
    QElapsedTimer m_clock;
    std::vector<std::int16_t> m_samples;
    QByteArray m_pending;
    int m_threshold = 0;
    qint64 m_firstLoudMs = -1;
};

// A canonical 8 kHz A-law WAVE file: silence, then a sine tone, then silence.
std::string AlawToneFile(double leadSeconds, double toneSeconds, double tailSeconds, double hz = 440,
                         double amplitude = 0.5);

// Helpers for waiting in an event loop.
template <typename Pred> bool WaitFor(Pred pred, int timeoutMs, SinkRecorder* rec = nullptr);

} // namespace soundtest

#include <QCoreApplication>
#include <QThread>

template <typename Pred> bool soundtest::WaitFor(Pred pred, int timeoutMs, SinkRecorder* rec)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (rec)
            rec->Poll();
        if (pred())
            return true;
        QThread::msleep(2);
    }
    return false;
}
