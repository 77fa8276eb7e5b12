#include "app/fontwarmup.h"

#include <fontconfig/fontconfig.h>

FontWarmUp::FontWarmUp() : m_thread([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp()
{
    Wait();
}

void FontWarmUp::Wait()
{
    // Qt's own FcInit() then finds the configuration loaded: two threads
    // loading it at once would each do all the work.
    if (m_thread.joinable())
        m_thread.join();
}
