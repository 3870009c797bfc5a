#pragma once
// A thread's dispatch loop, as the socket layer and the blocking waits see
// it. The GUI thread's loop is Qt's event loop (QtThreadLoop); every other
// thread gets a small poll() loop of its own (WorkerLoop) on first use.
//
// A loop watches file descriptors for the thread's sockets (their readiness
// is turned into network notifications posted to the thread's MessageQueue),
// sleeps until a message arrives, and dispatches one message at a time.

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

    // Sleeps until a message may be waiting in the thread's queue, or until
    // timeoutMs passes (-1: no limit). Watch callbacks run meanwhile.
    virtual void waitForMessage(int timeoutMs) = 0;

    // Sleeps until a new message arrives for the thread (one already waiting
    // does not count), or until timeoutMs passes. A blocking socket wait
    // sleeps here after its pump declined the waiting messages.
    virtual void waitForNewMessage(int timeoutMs) = 0;

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

    // Takes the next message that may run now (see hasMessage) and runs its
    // handler through the generic error report. False when there is none.
    bool runQueuedOne();

    const std::shared_ptr<MessageQueue> queue_;
};

}  // namespace chatterly
