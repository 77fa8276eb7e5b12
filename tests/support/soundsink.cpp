#include "soundsink.h"

#include "core/wave.h"

#include <QMediaDevices>
#include <cmath>
#include <cstdlib>

namespace soundtest {

namespace {

bool RunTool(const QString& program, const QStringList& args, QString* out, QString* why)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000)) {
        *why = program + " is not available";
        return false;
    }
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *why = program + " " + args.join(' ') + " failed: " + QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

// ITU-T G.711 A-law encoding of one 16-bit sample.
std::uint8_t AlawEncode(int pcm)
{
    int sign = pcm >= 0 ? 0x80 : 0x00;
    int mag = pcm >= 0 ? pcm : -pcm - 1;
    if (mag > 32767)
        mag = 32767;
    int exponent = 7;
    for (int mask = 0x4000; exponent > 0 && !(mag & mask); mask >>= 1)
        --exponent;
    int mantissa = exponent == 0 ? (mag >> 4) & 0x0f : (mag >> (exponent + 3)) & 0x0f;
    return static_cast<std::uint8_t>((sign | (exponent << 4) | mantissa) ^ 0x55);
}

} // namespace

bool SoundServerAvailable(QString* why)
{
    QString out;
    return RunTool("pactl", {"info"}, &out, why);
}

std::unique_ptr<NullSink> NullSink::Create(const QString& name, QString* why)
{
    std::unique_ptr<NullSink> sink(new NullSink);
    sink->m_name = name;
    if (!RunTool("pactl", {"load-module", "module-null-sink", "sink_name=" + name}, &sink->m_module, why))
        return nullptr;
    // Qt hears about new sinks through the server's events.
    QMediaDevices devices;
    const bool found = WaitFor(
        [&] {
            for (const QAudioDevice& d : QMediaDevices::audioOutputs()) {
                if (d.id() == name.toUtf8()) {
                    sink->m_device = d;
                    return true;
                }
            }
            return false;
        },
        10000);
    if (!found) {
        *why = "Qt does not list the sink " + name;
        return nullptr;
    }
    return sink;
}

NullSink::~NullSink()
{
    QString why;
    if (!m_module.isEmpty())
        RunTool("pactl", {"unload-module", m_module}, nullptr, &why);
}

SinkRecorder::SinkRecorder(const QString& sink, int threshold) : m_sink(sink), m_threshold(threshold) {}

SinkRecorder::~SinkRecorder()
{
    if (m_parec.state() != QProcess::NotRunning) {
        m_parec.kill();
        m_parec.waitForFinished(5000);
    }
}

bool SinkRecorder::Start(QString* why)
{
    m_parec.start("parec", {"-d", m_sink + ".monitor", "--raw", "--format=s16le", "--rate=8000",
                            "--channels=1", "--latency-msec=10"});
    if (!m_parec.waitForStarted(5000)) {
        *why = "parec is not available";
        return false;
    }
    m_clock.start();
    return true;
}

void SinkRecorder::Poll()
{
    m_pending += m_parec.readAllStandardOutput();
    const qsizetype whole = m_pending.size() / 2 * 2;
    for (qsizetype i = 0; i < whole; i += 2) {
        auto v = static_cast<std::int16_t>(static_cast<std::uint8_t>(m_pending[i]) |
                                           static_cast<std::uint8_t>(m_pending[i + 1]) << 8);
        m_samples.push_back(v);
        if (m_firstLoudMs < 0 && std::abs(int(v)) > m_threshold)
            m_firstLoudMs = m_clock.elapsed();
    }
    m_pending.remove(0, whole);
}

void SinkRecorder::Clear()
{
    Poll();
    m_samples.clear();
    m_firstLoudMs = -1;
    m_clock.restart();
}

std::pair<std::size_t, std::size_t> SinkRecorder::SoundSpan() const
{
    std::size_t first = m_samples.size(), last = 0;
    for (std::size_t i = 0; i < m_samples.size(); ++i) {
        if (std::abs(int(m_samples[i])) > m_threshold) {
            first = std::min(first, i);
            last = i + 1;
        }
    }
    return first < last ? std::make_pair(first, last) : std::make_pair<std::size_t, std::size_t>(0, 0);
}

std::string AlawToneFile(double leadSeconds, double toneSeconds, double tailSeconds, double hz, double amplitude)
{
    const auto lead = static_cast<std::size_t>(leadSeconds * 8000);
    const auto tone = static_cast<std::size_t>(toneSeconds * 8000);
    const auto tail = static_cast<std::size_t>(tailSeconds * 8000);
    std::string audio;
    audio.append(lead, static_cast<char>(AlawEncode(0)));
    for (std::size_t i = 0; i < tone; ++i) {
        double x = amplitude * 32767 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 8000);
        audio.push_back(static_cast<char>(AlawEncode(static_cast<int>(std::lround(x)))));
    }
    audio.append(tail, static_cast<char>(AlawEncode(0)));
    const std::vector<unsigned char> header =
        voicelib::MakeCanonicalWaveHeader(static_cast<std::uint32_t>(audio.size()));
    return std::string(header.begin(), header.end()) + audio;
}

} // namespace soundtest
