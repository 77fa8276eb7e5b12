#pragma once

// The preview player: assign a file and it plays at once, read its play
// state, close it. Play state numbers are those callers poll for:
// 1 stopped (also: ended or failed), 2 paused, 3 playing, 6 buffering,
// 9 transitioning, 10 ready.

#include "core/result.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// What the player drives; tests put a scripted one in place of QtMultimedia.
class PlayerBackend
{
public:
    enum class State
    {
        NoMedia,   // nothing assigned, or released
        Loading,   // assigned, not yet playing
        Buffering, // waiting for data
        Playing,
        Paused,
        Stopped, // stopped, played to the end, or failed
    };

    virtual ~PlayerBackend() = default;
    // Assigns the file and starts playing it from its beginning.
    virtual void PlayFile(const QString& path) = 0;
    // Stops and lets go of the file.
    virtual void Release() = 0;
    virtual State CurrentState() const = 0;
    virtual void SetVolume(float volume) = 0; // 0..1
    // Whether there is any audio output to play to.
    virtual bool HasOutput() const { return true; }

    // The number the player gave the file last assigned (or the last release).
    unsigned CurrentSource() const { return m_nSource; }
    void SetFailureListener(std::function<void(unsigned source)> listener)
    {
        m_onFailure = std::move(listener);
    }

protected:
    // A source could not be played. Media frameworks may tell this late, after
    // a later file has started, so the failure names the source it belongs to.
    void Failed(unsigned source) const
    {
        if (m_onFailure)
            m_onFailure(source);
    }

private:
    friend class CWMPPlayer4;
    unsigned m_nSource = 0;
    std::function<void(unsigned)> m_onFailure;
};

class CWMPPlayer4 : public QObject
{
    Q_OBJECT

public:
    enum PlayState
    {
        psUndefined = 0,
        psStopped = 1,
        psPaused = 2,
        psPlaying = 3,
        psBuffering = 6,
        psTransitioning = 9,
        psReady = 10,
    };

    // Makes the backend when the player is first used, or says why there is none.
    using BackendFactory = std::function<voicelib::Result<std::unique_ptr<PlayerBackend>>()>;

    // Without a backend, plays through the player module, loaded on first use.
    explicit CWMPPlayer4(std::unique_ptr<PlayerBackend> backend = nullptr, QObject* parent = nullptr);
    explicit CWMPPlayer4(BackendFactory factory, QObject* parent = nullptr);
    ~CWMPPlayer4() override;

    void SetURL(const QString& path);
    QString GetURL() const { return m_strURL; }
    void Close();
    int GetPlayState() const;
    void SetEnabled(bool enabled) { m_bEnabled = enabled; }
    bool GetEnabled() const { return m_bEnabled; }
    void SetEnableContextMenu(bool enable) { m_bContextMenu = enable; }
    bool GetEnableContextMenu() const { return m_bContextMenu; }
    void SetUiMode(const QString& mode) { m_strUiMode = mode; }
    QString GetUiMode() const { return m_strUiMode; }
    int GetVolume() const { return m_nVolume; }
    // Loads the backend if it is not there yet.
    bool HasOutput() { return Backend().HasOutput(); }
    // Why nothing can play (the backend could not be made), or null.
    const voicelib::Error* WhyUnavailable() const { return m_unavailable ? &*m_unavailable : nullptr; }

    // Null until the player is first used.
    PlayerBackend* backend() const { return m_backend.get(); }

private:
    PlayerBackend& Backend();
    void Adopt(std::unique_ptr<PlayerBackend> backend);
    void NextSource();

    BackendFactory m_makeBackend;
    std::unique_ptr<PlayerBackend> m_backend;
    std::optional<voicelib::Error> m_unavailable;
    unsigned m_nSources = 0;
    bool m_bFailed = false; // the current source failed
    QString m_strURL;
    bool m_bEnabled = true;
    bool m_bContextMenu = true;
    QString m_strUiMode = QStringLiteral("full");
    int m_nVolume = 50;
};
