#pragma once
// A process-wide auto-reset event: non-signalled when made; set() signals it;
// a successful wait (or a zero-timeout poll that finds it signalled) consumes
// the signal and returns it to non-signalled, so each set releases exactly one
// consumer. Safe to use from any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace chatterly {

class AutoResetEvent {
  public:
    static constexpr int kInfinite = -1;

    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void set();
    void reset();

    // Waits up to timeoutMs (kInfinite: without limit; 0: a poll). Returns true
    // if the event was signalled, consuming the signal.
    bool wait(int timeoutMs);
    bool poll() { return wait(0); }

    // Looks at the state without consuming it (for tests and for starts that
    // must know whether a stop is still pending).
    bool isSignalled() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace chatterly
