#pragma once
// The GUI thread's event loop as a benchmark runs a station in it, and the
// process's CPU time to measure it by.

#include <QEventLoop>
#include <QTimer>
#include <ctime>
#include <functional>

namespace chatterly::bench {

// Runs the station's event loop for ms, as its own run would.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds, looking every 5 ms; false after
// limitMs.
inline bool runUntil(const std::function<bool()>& done, int limitMs) {
    for (int waited = 0; !done(); waited += 5) {
        if (waited > limitMs) {
            return false;
        }
        runFor(5);
    }
    return true;
}

// The process's CPU time, every thread's, as the scheduler counts it (to the
// nanosecond, where the tick-based rusage would round short wakes away or up).
inline double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace chatterly::bench
