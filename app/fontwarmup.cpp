#include "app/fontwarmup.h"

#include <QFontDatabase>
#include <QStringList>
#include <fontconfig/fontconfig.h>

FontWarmUp::FontWarmUp() : m_thread([this] { Run(); }) {}

FontWarmUp::~FontWarmUp()
{
    Finish();
}

void FontWarmUp::Finish()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bAbandoned = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void FontWarmUp::Run()
{
    FcInit();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bConfigLoaded = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_bApplicationReady || m_bAbandoned; });
        if (!m_bApplicationReady)
            return;
    }
    // Fills the database under Qt's lock. The GUI thread's first font waits on
    // that lock, so the application outlives this call.
    QFontDatabase::families();
}

void FontWarmUp::ApplicationReady()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bApplicationReady = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_bConfigLoaded; });
}
