#include "app/multimediabackend.h"

#include "core/alaw.h"
#include "core/library.h"
#include "core/wave.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>
#include <algorithm>

namespace {

// Streams a source's audio (the bytes a library would store: the data chunk
// cut to whole blocks) as 16-bit linear samples, reading as it goes.
class AlawDevice final : public QIODevice
{
public:
    bool Open(const std::string& path)
    {
        voicelib::Result<voicelib::FileHandle> file = voicelib::OpenSource(path);
        if (!file.ok())
            return false;
        m_file = std::move(*file);
        const voicelib::Result<std::uint64_t> size = voicelib::FileSize(m_file.fd());
        // The format block of an accepted source sits at byte 20: channels, then the rate.
        unsigned char fmt[28] = {};
        if (voicelib::ReadAt(m_file.fd(), fmt, sizeof fmt, 0).value_or(0) != sizeof fmt)
            return false;
        m_nChannels = fmt[22] | fmt[23] << 8;
        m_nRate =
            static_cast<int>(fmt[24] | fmt[25] << 8 | fmt[26] << 16 | static_cast<unsigned>(fmt[27]) << 24);
        if (m_nChannels < 1 || m_nChannels > 8 || m_nRate < 1000 || m_nRate > 384000)
            return false; // not something a sink can take; the media player may make sense of it
        const voicelib::Result<voicelib::AudioSpan> located =
            size.ok() ? voicelib::LocateAudio(m_file.fd(), *size) : size.error();
        if (!located.ok())
            return false;
        const voicelib::AudioSpan& span = *located;
        m_pos = span.offset;
        m_end = span.offset + span.length / voicelib::AUDIO_BLOCK_SIZE * voicelib::AUDIO_BLOCK_SIZE;
        m_durationUs = static_cast<qint64>((m_end - m_pos) * 1000000 / static_cast<std::uint64_t>(m_nRate) /
                                           static_cast<std::uint64_t>(m_nChannels));
        return QIODevice::open(QIODevice::ReadOnly);
    }

    int SampleRate() const { return m_nRate; }
    int ChannelCount() const { return m_nChannels; }
    // How long the whole audio sounds.
    qint64 DurationUs() const { return m_durationUs; }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_pos >= m_end && QIODevice::bytesAvailable() == 0; }
    qint64 bytesAvailable() const override
    {
        return static_cast<qint64>(m_end - m_pos) * 2 + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxlen) override
    {
        static constexpr auto ALAW_TABLE = voicelib::MakeAlawTable();
        unsigned char buf[4096];
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>({static_cast<std::uint64_t>(maxlen / 2), sizeof buf, m_end - m_pos}));
        if (want == 0)
            return 0;
        const auto got = static_cast<long long>(voicelib::ReadAt(m_file.fd(), buf, want, m_pos).value_or(0));
        if (got <= 0) {
            m_pos = m_end; // read error or a file cut short: end quietly
            return 0;
        }
        auto* out = reinterpret_cast<std::int16_t*>(data);
        for (long long i = 0; i < got; ++i)
            out[i] = ALAW_TABLE[buf[i]];
        m_pos += static_cast<std::uint64_t>(got);
        return got * 2;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    voicelib::FileHandle m_file;
    std::uint64_t m_pos = 0;
    std::uint64_t m_end = 0;
    int m_nRate = 8000;
    int m_nChannels = 1;
    qint64 m_durationUs = 0;
};

// Accepted A-law sources are decoded here and fed straight to an audio sink:
// it starts sounding in tens of milliseconds where a media pipeline takes
// hundreds, and it plays files with an odd sample count, in which GStreamer's
// WAVE reader finds no audio stream at all. Everything else goes to
// QMediaPlayer, which plays whatever it can.
class MultimediaBackend final : public PlayerBackend
{
public:
    explicit MultimediaBackend(const QAudioDevice& device) : m_device(device) {}

    void PlayFile(const QString& path) override
    {
        Release();
        if (path.isEmpty()) {
            Failed(CurrentSource()); // nothing to play: ends at once, quietly
            return;
        }
        const std::string source = QFile::encodeName(path).toStdString();
        if (voicelib::IsAcceptedWave(source) && StartSink(source))
            return;
        StartPlayer(path);
    }

    void Release() override
    {
        if (m_sink) {
            m_sink->stop();
            m_sink.reset();
            m_alaw.reset();
        }
        // Each file gets a player of its own: whatever the old one still has
        // to say goes with it.
        m_media.reset();
        m_drained.invalidate();
    }

    State CurrentState() const override
    {
        if (m_sink)
            return SinkState();
        if (m_media)
            return PlayerState();
        return State::NoMedia;
    }

    void SetVolume(float volume) override
    {
        m_volume = volume;
        if (m_media)
            m_media->output.setVolume(volume);
        if (m_sink)
            m_sink->setVolume(volume);
    }

    bool HasOutput() const override { return !m_device.isNull() || !QMediaDevices::audioOutputs().isEmpty(); }

private:
    struct Media
    {
        QAudioOutput output;
        QMediaPlayer player; // declared last: goes first
    };

    void StartPlayer(const QString& path)
    {
        m_media = std::make_unique<Media>();
        if (!m_device.isNull())
            m_media->output.setDevice(m_device);
        m_media->output.setVolume(m_volume);
        // A player without an audio output plays nothing at all.
        m_media->player.setAudioOutput(&m_media->output);
        // After a failure QtMultimedia leaves the playback state at Playing
        // (and may report the error twice); stopping it makes the state read
        // "stopped" as a failed play should.
        const unsigned source = CurrentSource();
        QMediaPlayer* player = &m_media->player;
        QObject::connect(player, &QMediaPlayer::errorOccurred, player, [this, player, source] {
            if (source == CurrentSource())
                player->stop();
            Failed(source);
        });
        player->setSource(QUrl::fromLocalFile(path));
        player->play();
    }

    bool StartSink(const std::string& source)
    {
        const QAudioDevice device = m_device.isNull() ? QMediaDevices::defaultAudioOutput() : m_device;
        auto alaw = std::make_unique<AlawDevice>();
        if (!alaw->Open(source))
            return false;
        QAudioFormat format;
        format.setSampleRate(alaw->SampleRate());
        format.setChannelCount(alaw->ChannelCount());
        format.setSampleFormat(QAudioFormat::Int16);
        m_alaw = std::move(alaw);
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_sink->setVolume(m_volume);
        QObject::connect(m_sink.get(), &QAudioSink::stateChanged, m_sink.get(), [this](QAudio::State state) {
            if (state == QAudio::IdleState && m_alaw->atEnd() && !m_drained.isValid())
                m_drained.start();
        });
        m_sink->start(m_alaw.get());
        if (m_sink->error() != QAudio::NoError)
            Failed(CurrentSource()); // no output device: ends at once, quietly
        return true;
    }

    State SinkState() const
    {
        if (m_sink->error() != QAudio::NoError && m_sink->error() != QAudio::UnderrunError)
            return State::Stopped;
        switch (m_sink->state()) {
        case QAudio::ActiveState:
            return m_alaw->atEnd() && PlayedOut() ? State::Stopped : State::Playing;
        case QAudio::SuspendedState:
            return State::Paused;
        case QAudio::StoppedState:
            return State::Stopped;
        case QAudio::IdleState:
            break;
        }
        if (!m_alaw->atEnd())
            return State::Buffering;
        if (PlayedOut())
            return State::Stopped;
        // Everything is handed over; the sink's buffer still sounds for a
        // moment, and closing now would cut the last words short.
        const qint64 bytesPerSecond = qint64{m_alaw->SampleRate()} * m_alaw->ChannelCount() * 2;
        const qint64 bufferMs = qint64{m_sink->bufferSize()} * 1000 / bytesPerSecond + 50;
        return m_drained.isValid() && m_drained.elapsed() >= bufferMs ? State::Stopped : State::Playing;
    }

    // The sink has played all of the audio: its clock has run the audio's length.
    bool PlayedOut() const { return m_sink->processedUSecs() >= m_alaw->DurationUs(); }

    State PlayerState() const
    {
        const QMediaPlayer& player = m_media->player;
        switch (player.mediaStatus()) {
        case QMediaPlayer::NoMedia:
            return State::NoMedia;
        case QMediaPlayer::InvalidMedia:
        case QMediaPlayer::EndOfMedia:
            return State::Stopped;
        case QMediaPlayer::LoadingMedia:
            return State::Loading;
        case QMediaPlayer::StalledMedia:
        case QMediaPlayer::BufferingMedia:
            if (player.playbackState() == QMediaPlayer::PlayingState)
                return State::Buffering;
            break;
        default:
            break;
        }
        switch (player.playbackState()) {
        case QMediaPlayer::PlayingState:
            return State::Playing;
        case QMediaPlayer::PausedState:
            return State::Paused;
        case QMediaPlayer::StoppedState:
            return State::Stopped;
        }
        return State::Stopped;
    }

    QAudioDevice m_device; // null: the default output at each play
    float m_volume = 1.0f;
    std::unique_ptr<AlawDevice> m_alaw;
    std::unique_ptr<QAudioSink> m_sink;
    QElapsedTimer m_drained; // since the sink ran out of data at the end
    std::unique_ptr<Media> m_media;
};

} // namespace

std::unique_ptr<PlayerBackend> CreateMultimediaBackend()
{
    return std::make_unique<MultimediaBackend>(QAudioDevice());
}

std::unique_ptr<PlayerBackend> CreateMultimediaBackend(const QAudioDevice& output)
{
    return std::make_unique<MultimediaBackend>(output);
}
