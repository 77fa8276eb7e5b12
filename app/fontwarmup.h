#pragma once

// Reads the system's font configuration on a second thread. Loading it
// (parsing every file under /etc/fonts) is the largest single piece of the
// window's start-up and Qt does it on the GUI thread at the first text it
// measures; started before the display connection is made, it is done by the
// time the window needs it.

#include <thread>

class FontWarmUp
{
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Returns once the configuration is loaded; call before the first font is used.
    void Wait();

private:
    std::thread m_thread;
};
