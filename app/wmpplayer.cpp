#include "app/wmpplayer.h"

#include "core/library.h"
#include "core/wave.h"

#include <QAudioOutput>
#include <QDir>
#include <QFile>
#include <QMediaPlayer>
#include <QTemporaryFile>
#include <QUrl>

namespace {

class MultimediaBackend final : public PlayerBackend
{
public:
    MultimediaBackend()
    {
        // A player without an audio output plays nothing at all.
        m_player.setAudioOutput(&m_output);
        // After a failure QtMultimedia leaves the playback state at Playing
        // (and may report the error twice); stopping it here makes the state
        // read "stopped" as a failed play should.
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player, [this] {
            m_failed = true;
            m_player.stop();
        });
    }

    void PlayFile(const QString& path) override
    {
        m_player.stop();
        m_failed = false;
        // A fresh source restarts from the beginning even for the same file.
        m_player.setSource(QUrl());
        if (path.isEmpty()) {
            m_failed = true; // nothing to play: ends at once, quietly
            return;
        }
        m_player.setSource(QUrl::fromLocalFile(PlayablePath(path)));
        m_player.play();
    }

    void Release() override
    {
        m_player.stop();
        m_player.setSource(QUrl());
        m_copy.reset();
        m_failed = false;
    }

    State CurrentState() const override
    {
        if (m_failed)
            return State::Stopped;
        switch (m_player.mediaStatus()) {
        case QMediaPlayer::NoMedia:
            return State::NoMedia;
        case QMediaPlayer::InvalidMedia:
        case QMediaPlayer::EndOfMedia:
            return State::Stopped;
        case QMediaPlayer::LoadingMedia:
            return State::Loading;
        case QMediaPlayer::StalledMedia:
        case QMediaPlayer::BufferingMedia:
            if (m_player.playbackState() == QMediaPlayer::PlayingState)
                return State::Buffering;
            break;
        default:
            break;
        }
        switch (m_player.playbackState()) {
        case QMediaPlayer::PlayingState:
            return State::Playing;
        case QMediaPlayer::PausedState:
            return State::Paused;
        case QMediaPlayer::StoppedState:
            return State::Stopped;
        }
        return State::Stopped;
    }

    void SetVolume(float volume) override { m_output.setVolume(volume); }

private:
    // GStreamer's WAVE reader finds no audio stream in a file with an odd
    // number of samples (and a pad byte), and then "plays" silence forever.
    // An accepted source is therefore played from a clean copy holding what
    // the library would store: its audio in whole blocks, always even. Other
    // files go to the player as they are.
    QString PlayablePath(const QString& path)
    {
        m_copy.reset();
        const std::string source = QFile::encodeName(path).toStdString();
        if (!voicelib::IsAcceptedWave(source))
            return path;
        auto copy = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/voicelib-preview-XXXXXX.wav");
        if (!copy->open() || !voicelib::WriteSourceAsEntryWave(source, copy->handle()).ok() || !copy->flush())
            return path;
        m_copy = std::move(copy);
        return m_copy->fileName();
    }

    std::unique_ptr<QTemporaryFile> m_copy;
    QMediaPlayer m_player;
    QAudioOutput m_output;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<PlayerBackend> CreateMultimediaBackend()
{
    return std::make_unique<MultimediaBackend>();
}

CWMPPlayer4::CWMPPlayer4(std::unique_ptr<PlayerBackend> backend, QObject* parent)
    : QObject(parent), m_backend(backend ? std::move(backend) : CreateMultimediaBackend())
{
    m_backend->SetVolume(m_nVolume / 100.0f);
}

CWMPPlayer4::~CWMPPlayer4()
{
    m_backend->Release();
}

void CWMPPlayer4::SetURL(const QString& path)
{
    // Assigning a file starts it: the player auto-starts, once per assignment.
    m_url = path;
    m_backend->PlayFile(path);
}

void CWMPPlayer4::Close()
{
    m_backend->Release();
    m_url.clear();
}

int CWMPPlayer4::GetPlayState() const
{
    switch (m_backend->CurrentState()) {
    case PlayerBackend::State::NoMedia:
        return psReady;
    case PlayerBackend::State::Loading:
        return psTransitioning;
    case PlayerBackend::State::Buffering:
        return psBuffering;
    case PlayerBackend::State::Playing:
        return psPlaying;
    case PlayerBackend::State::Paused:
        return psPaused;
    case PlayerBackend::State::Stopped:
        return psStopped;
    }
    return psUndefined;
}
