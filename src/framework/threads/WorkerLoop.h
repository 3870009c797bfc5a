#pragma once
// The dispatch loop of a worker thread: one poll() per pass over the thread's
// queue wake fd and the fds of its sockets. Readiness runs the fd's watch
// callback (which posts notifications); messages are dispatched one at a time
// by dispatchOne(), so a worker decides when its messages run (the caller
// worker dispatches one a pass of its wait).

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
    bool dispatchOne() override { return runQueuedOne(); }

  protected:
    // One poll() over the wake fd and the watched fds; runs the due timers
    // and the watch callbacks of what is ready.
    void sleep(int timeoutMs, Pump::Runs runs) override;

  private:
    void runDueTimers();

    std::map<int, std::pair<short, std::shared_ptr<Watch>>> watches_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;
};

}  // namespace chatterly
