#pragma once

// Readies the fonts on a second thread while the window starts. Loading the
// system's font configuration (parsing every file under /etc/fonts) and
// filling Qt's font database from it are the largest pieces of the window's
// start-up, and Qt does both on the GUI thread at the first text it measures.
// The configuration is read while the display connection is made; Qt's
// database is filled while the window's controls are made (Qt guards it with
// a lock, so the first measurement waits for it rather than doing it again).

#include <condition_variable>
#include <mutex>
#include <thread>

class FontWarmUp
{
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Call once the QGuiApplication exists and before the first font is used:
    // returns when the configuration is loaded (two threads loading it at
    // once would each do all the work) and lets the thread fill Qt's database.
    void ApplicationReady();
    // Lets the thread end (at once if the application never became ready)
    // and waits for it. Must come before the application is destroyed: Qt
    // frees the font configuration then, and must not race a thread loading it.
    void Finish();

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bConfigLoaded = false;
    bool m_bApplicationReady = false;
    bool m_bAbandoned = false; // the program ends without a window
    std::thread m_thread;
};
