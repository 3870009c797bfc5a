#pragma once
// The dispatch loop of a worker thread: one poll() per pass over the thread's
// queue wake fd and the fds of its sockets. Readiness runs the fd's watch
// callback (which posts notifications); messages are dispatched one at a time
// by dispatchOne(), so a worker decides when its messages run (the caller
// worker dispatches one per 500 ms pass).

#include <chrono>
#include <map>
#include <memory>

#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"

namespace chatterly {

class WorkerLoop : public ThreadLoop {
  public:
    WorkerLoop();

    void watch(int fd, short events, Watch onReady) override;
    void unwatch(int fd) override;
    void callAfter(int delayMs, std::function<void()> fn) override;
    void waitForMessage(int timeoutMs) override;
    void waitForNewMessage(int timeoutMs) override;
    bool dispatchOne() override { return runQueuedOne(); }

    // Runs passes until stop() returns true: wait, then dispatch what came.
    void runUntil(const std::function<bool()>& stop, int passMs = 500);

  private:
    void poll(int timeoutMs);
    void runDueTimers();

    std::map<int, std::pair<short, std::shared_ptr<Watch>>> watches_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;
};

}  // namespace chatterly
