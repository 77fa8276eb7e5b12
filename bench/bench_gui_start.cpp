// The window program's start-up as whole processes under Xvfb: voicelib-gui
// until its window is mapped against a minimal Qt Widgets window (gui_floor)
// and one that lays out a line of Chinese text (gui_floor_text), the three in
// rotation. "Mapped" is the X server's MapNotify for a new
// top-level window, seen by this program watching the root window: it needs
// nothing from the programs measured, and it is the moment the server puts
// the window on the screen. Each program is killed once its window is mapped.
// Prints medians and their ratio; asserts nothing.
//
// usage: bench_gui_start [RUNS (15)]   (needs Xvfb on PATH)

#include "timing.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

using voicelib::bench::Clock;
using voicelib::bench::Median;
using voicelib::bench::MsSince;

constexpr int MAP_TIMEOUT_MS = 20000;

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "bench_gui_start: %s\n", what);
    std::exit(1);
}

// A private X server; its display number comes back through a pipe.
pid_t StartXvfb(std::string& display)
{
    int fds[2];
    if (::pipe(fds) != 0)
        Die("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb",         "-displayfd", "3",   "-screen", "0",
                          "1280x1024x24", "-nolisten",  "tcp", nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
        Die("cannot start Xvfb");
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    char buf[32] = {};
    std::size_t got = 0;
    while (got < sizeof buf - 1) {
        const ssize_t r = ::read(fds[0], buf + got, sizeof buf - 1 - got);
        if (r <= 0 || buf[got + static_cast<std::size_t>(r) - 1] == '\n') {
            got += r > 0 ? static_cast<std::size_t>(r) : 0;
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    ::close(fds[0]);
    if (got == 0)
        Die("Xvfb did not start");
    display = ":" + std::to_string(std::strtoul(buf, nullptr, 10));
    return pid;
}

// Waits for the next top-level window to be mapped; false on timeout or a
// lost connection.
bool WaitForMap(xcb_connection_t* x, const Clock::time_point start)
{
    pollfd p{xcb_get_file_descriptor(x), POLLIN, 0};
    for (;;) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(x)) {
            const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(e);
            if (mapped)
                return true;
        }
        if (xcb_connection_has_error(x))
            return false;
        const int left = MAP_TIMEOUT_MS - static_cast<int>(MsSince(start));
        if (left <= 0 || ::poll(&p, 1, left) < 0)
            return false;
    }
}

void Drain(xcb_connection_t* x)
{
    xcb_flush(x);
    while (xcb_generic_event_t* e = xcb_poll_for_event(x))
        std::free(e);
}

// Milliseconds from spawning the program until its window is mapped; -1 on failure.
double TimeToMap(xcb_connection_t* x, const char* program, char** env)
{
    Drain(x);
    char* argv[] = {const_cast<char*>(program), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, env);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    const bool mapped = WaitForMap(x, start);
    const double ms = MsSince(start);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The window's unmap and destruction arrive now; the next run starts clean.
    ::usleep(50000);
    Drain(x);
    return mapped ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    std::string display;
    const pid_t server = StartXvfb(display);
    xcb_connection_t* x = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(x))
        Die("cannot reach Xvfb");
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    // The programs see this server and nothing else of the caller's display.
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("DISPLAY=", 0) != 0 && v.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            v.rfind("QT_QPA_PLATFORM=", 0) != 0)
            vars.push_back(v);
    }
    vars.push_back("DISPLAY=" + display);
    vars.push_back("QT_QPA_PLATFORM=xcb");
    std::vector<char*> env;
    for (auto& v : vars)
        env.push_back(v.data());
    env.push_back(nullptr);

    constexpr int PROGRAMS = 3;
    const char* programs[PROGRAMS] = {VOICELIB_GUI_FLOOR, VOICELIB_GUI_FLOOR_TEXT, VOICELIB_GUI};
    std::vector<double> ms[PROGRAMS];
    // One unmeasured round warms the caches.
    for (int round = -1; round < runs; ++round) {
        for (int k = 0; k < PROGRAMS; ++k) {
            // Rotate which goes first, so that none always follows another.
            const int which = (k + round + PROGRAMS) % PROGRAMS;
            const double t = TimeToMap(x, programs[which], env.data());
            if (t < 0) {
                std::fprintf(stderr, "bench_gui_start: %s did not map a window\n", programs[which]);
                ::kill(server, SIGTERM);
                return 1;
            }
            if (round >= 0)
                ms[which].push_back(t);
        }
    }
    xcb_disconnect(x);
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);

    const double floor = Median(ms[0]), text = Median(ms[1]), ours = Median(ms[2]);
    std::printf("window start-up until mapped (Xvfb), median of %d rotated runs\n", runs);
    std::printf("  minimal Qt Widgets window           %8.1f ms\n", floor);
    std::printf("  minimal window with a line of text  %8.1f ms\n", text);
    std::printf("  voicelib-gui                        %8.1f ms\n", ours);
    std::printf("  ratio to the minimal window         %8.2f (target <= 1.5)\n", ours / floor);
    std::printf("  ratio to the window with text       %8.2f\n", ours / text);
    return 0;
}
