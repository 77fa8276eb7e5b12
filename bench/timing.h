#pragma once

// Timing helpers the benchmarks share: each measures in milliseconds and
// reports the median of its runs, which one slow run does not move.

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

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

} // namespace voicelib::bench
