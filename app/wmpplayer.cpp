#include "app/wmpplayer.h"

#include "app/playermodule.h"

namespace {

// Stands in when the backend could not be made: every file ends at once.
class UnavailableBackend final : public PlayerBackend
{
public:
    void PlayFile(const QString&) override
    {
        m_bAssigned = true;
        Failed(CurrentSource());
    }
    void Release() override { m_bAssigned = false; }
    State CurrentState() const override { return m_bAssigned ? State::Stopped : State::NoMedia; }
    void SetVolume(float) override {}
    bool HasOutput() const override { return false; }

private:
    bool m_bAssigned = false;
};

} // namespace

CWMPPlayer4::CWMPPlayer4(std::unique_ptr<PlayerBackend> backend, QObject* parent)
    : CWMPPlayer4(BackendFactory(), parent)
{
    if (backend)
        Adopt(std::move(backend));
}

CWMPPlayer4::CWMPPlayer4(BackendFactory factory, QObject* parent)
    : QObject(parent), m_makeBackend(factory ? std::move(factory) : BackendFactory(&LoadPlayerBackend))
{
}

CWMPPlayer4::~CWMPPlayer4()
{
    if (!m_backend)
        return;
    m_backend->SetFailureListener(nullptr);
    m_backend->Release();
}

PlayerBackend& CWMPPlayer4::Backend()
{
    if (!m_backend) {
        voicelib::Result<std::unique_ptr<PlayerBackend>> made = m_makeBackend();
        if (made && *made) {
            Adopt(std::move(made).value());
        } else {
            m_unavailable = made.error();
            Adopt(std::make_unique<UnavailableBackend>());
        }
    }
    return *m_backend;
}

void CWMPPlayer4::Adopt(std::unique_ptr<PlayerBackend> backend)
{
    m_backend = std::move(backend);
    m_makeBackend = nullptr;
    m_backend->SetVolume(m_nVolume / 100.0f);
    m_backend->SetFailureListener([this](unsigned source) {
        // A failure of an earlier file must not end the one playing now.
        if (source == m_nSources)
            m_bFailed = true;
    });
    m_backend->m_nSource = m_nSources;
}

void CWMPPlayer4::SetURL(const QString& path)
{
    // Assigning a file starts it: the player auto-starts, once per assignment.
    m_strURL = path;
    NextSource();
    Backend().PlayFile(path);
}

void CWMPPlayer4::Close()
{
    if (m_backend)
        m_backend->Release();
    NextSource();
    m_strURL.clear();
}

void CWMPPlayer4::NextSource()
{
    m_bFailed = false;
    ++m_nSources;
    if (m_backend)
        m_backend->m_nSource = m_nSources;
}

int CWMPPlayer4::GetPlayState() const
{
    if (m_bFailed)
        return psStopped;
    if (!m_backend)
        return psReady;
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
