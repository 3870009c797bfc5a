#pragma once
// A thread's dispatch loop, as the socket layer and the blocking waits see
// it. The GUI thread's loop is Qt's event loop (QtThreadLoop); every other
// thread gets a small poll() loop of its own (WorkerLoop) on first use.
//
// A loop watches file descriptors for the thread's sockets (their readiness
// is turned into network notifications posted to the thread's MessageQueue),
// dispatches the thread's messages, and has the one way a thread with a
// message queue waits: pumpUntil. Every wait of the station is a call of it;
// what varies is what a pass runs, whether the thread's network
// notifications are held (NetworkHold) and, on the GUI thread, whether user
// input is (the widgets' InputHold).

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadScope.h"

namespace chatterly {

struct NetworkHoldTag;

class ThreadLoop {
  public:
    using Watch = std::function<void(short revents)>;
    using Clock = std::chrono::steady_clock;

    // What a pass of pumpUntil runs.
    struct Pump {
        enum class Runs {
            Everything,  // every message that may run now; on the GUI thread all of Qt's events
            Hook,        // what hook runs (then, on the GUI thread, Qt's events)
            Nothing,     // nothing; on the GUI thread window requests only
        };
        Runs runs = Runs::Everything;
        std::function<void()> hook;
        // The longest a pass sleeps (negative: until something comes), for a
        // done() that can change without a message to wake the thread.
        std::chrono::milliseconds pass{-1};
    };

    virtual ~ThreadLoop() = default;

    // The calling thread's loop: the installed one, or a WorkerLoop made on
    // first use.
    static ThreadLoop& current();
    // Installs loop as the calling thread's (nullptr removes it).
    static void install(ThreadLoop* loop);

    // Calls onReady(revents) on this thread when fd shows any of events
    // (POLLIN, POLLOUT, POLLPRI). One watch per fd; watching again replaces.
    virtual void watch(int fd, short events, Watch onReady) = 0;
    virtual void unwatch(int fd) = 0;

    // Calls fn on this thread once, about delayMs from now, from whatever
    // wait or dispatch the thread is in then (through the generic error
    // report).
    virtual void callAfter(int delayMs, std::function<void()> fn) = 0;

    // The one wait: runs passes until done() holds (true) or the deadline
    // passes (false; nullopt: no deadline). A pass looks at done(), runs what
    // pump says, looks at done() again, and sleeps until something the pass
    // has not seen comes for the thread (a message, a watched descriptor's
    // readiness, a timer; on the GUI thread a window request or window-system
    // event), the pass's end, or the deadline. A GUI-thread wait always
    // serves window requests, so no worker that asks for one deadlocks
    // against it. done() may take messages out of the queue itself (a
    // socket's wait takes its own notifications).
    bool pumpUntil(const std::function<bool()>& done, std::optional<Clock::time_point> deadline,
                   const Pump& pump);
    bool pumpUntil(const std::function<bool()>& done,
                   std::optional<Clock::time_point> deadline = std::nullopt) {
        return pumpUntil(done, deadline, Pump{});
    }

    // Dispatches one waiting message of the thread (a posted message or
    // notification of the queue, or on the GUI thread a window-system event),
    // through the generic error report. Returns whether a message ran.
    virtual bool dispatchOne() = 0;

    // Whether a message is waiting that the dispatch may run now: any
    // message, or under a NetworkHold any that the hold does not keep.
    bool hasMessage() const;

    // Carries out the thread's waiting paint requests, if it has windows.
    virtual void dispatchPaint() {}

    // While one exists on a thread, its dispatch runs posted messages and
    // the notifications that are never held (a listener's), and leaves the
    // other network notifications queued: a blocking socket wait takes those
    // itself, in arrival order. Nests.
    class NetworkHold {
      public:
        NetworkHold() = default;
        // Wakes the thread's loop, so that what the hold kept runs next.
        ~NetworkHold();
        NetworkHold(const NetworkHold&) = delete;
        NetworkHold& operator=(const NetworkHold&) = delete;

      private:
        ThreadScope<NetworkHoldTag> scope_;
    };
    static bool networkHeld() { return ThreadScope<NetworkHoldTag>::active(); }

  protected:
    explicit ThreadLoop(std::shared_ptr<MessageQueue> queue) : queue_(std::move(queue)) {}

    // One pass's sleep: until something the thread has not seen comes, or
    // timeoutMs passes (negative: no limit). On the GUI thread what comes is
    // handled as runs says.
    virtual void sleep(int timeoutMs, Pump::Runs runs) = 0;

    // Takes the next message that may run now (see hasMessage) and runs its
    // handler through the generic error report. False when there is none.
    bool runQueuedOne();

    const std::shared_ptr<MessageQueue> queue_;
};

}  // namespace chatterly
