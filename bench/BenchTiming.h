#pragma once
// Timing of a benchmark's steps: the milliseconds since a start, and the best
// of a number of rounds (what is left when the machine's noise is least).

#include <algorithm>
#include <chrono>
#include <functional>

namespace chatterly::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The best of rounds runs: prepare() untimed, then run() timed.
inline double bestMs(
    int rounds, const std::function<void()>& run, const std::function<void()>& prepare = [] {}) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        const auto start = Clock::now();
        run();
        best = std::min(best, msSince(start));
    }
    return best;
}

}  // namespace chatterly::bench
