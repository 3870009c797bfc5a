#pragma once
// A process-wide auto-reset event: non-signalled when made; set() signals it;
// a successful wait (or a zero-timeout poll that finds it signalled) consumes
// the signal and returns it to non-signalled, so each set releases exactly one
// consumer. Safe to use from any thread.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace chatterly {

class MessageQueue;

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

    // While one exists, every set() of the event also wakes the owner of
    // queue, so a loop that sleeps until its thread's next message sees the
    // event set without polling it. Nothing is consumed or posted.
    class WakeOnSet {
      public:
        WakeOnSet(AutoResetEvent& event, std::shared_ptr<MessageQueue> queue);
        ~WakeOnSet();
        WakeOnSet(const WakeOnSet&) = delete;
        WakeOnSet& operator=(const WakeOnSet&) = delete;

      private:
        AutoResetEvent& event_;
        std::shared_ptr<MessageQueue> queue_;
    };

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
    std::vector<MessageQueue*> wakes_;  // queues of the WakeOnSet scopes
};

}  // namespace chatterly
