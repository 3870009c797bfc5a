#pragma once
// Keeps track of the running worker threads of one kind (the connection
// timers, the playback animations) so that a stop always ends the threads it
// was meant for. Each thread enters with the current epoch; a stop starts a
// new epoch, and a thread whose epoch is stale ends at its next poll, even
// when a later start has already reset the stop event it was polling. A
// thread can sleep so that a stop wakes it at once, and an ending thread asks
// whether a newer one runs before it puts its control back, so that it never
// writes over the new one's first picture or caption.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace chatterly {

class StopGroup {
  public:
    // A running thread's membership, from enter() to leave().
    uint64_t enter();
    void leave(uint64_t epoch);

    // Ends every thread that entered before now (at its next poll).
    void stopAll();
    bool stale(uint64_t epoch) const;

    int running() const;
    // Whether a thread that entered after epoch runs.
    bool newerRunning(uint64_t epoch) const;

    // Sleeps for period, or until a stopAll() makes epoch stale.
    void sleep(uint64_t epoch, std::chrono::milliseconds period);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t epoch_ = 0;
    std::map<uint64_t, int> running_;  // epoch -> threads
};

}  // namespace chatterly
