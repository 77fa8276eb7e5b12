#pragma once

// Timing helpers the benchmarks share: each measures in milliseconds and
// reports the median of its runs, which one slow run does not move.

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace voicelib::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double TimeMs(const std::function<void()>& fn)
{
    const Clock::time_point start = Clock::now();
    fn();
    return MsSince(start);
}

// 0 for no runs.
inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A whole program's run.
struct ProcessRun
{
    bool ok = false; // started and exited with 0
    double ms = 0;
    double cpuMs = 0; // user and system time: steadier than the wall time on a busy machine
    long maxRssKb = 0;
};

// Runs a program (a path, or a name looked up on PATH) with no input and its
// output discarded.
inline ProcessRun Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ProcessRun run;
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage = {};
    if (rc != 0 || wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.ms = MsSince(start);
    run.cpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.maxRssKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

} // namespace voicelib::bench
