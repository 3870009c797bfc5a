#pragma once
// The per-thread message queue. Every thread that owns sockets or receives
// posted work has one: other threads post to it (under its mutex, then a
// write to its wake eventfd); the owning thread takes messages out one at a
// time and dispatches them outside the lock, in arrival order.
//
// Two kinds of message travel here: posted work, and network notifications of
// the thread's sockets. While the thread holds its network notifications (a
// blocking socket wait, a message playing, a box about a failed call), the
// held ones stay queued: a wait takes them itself (takeFirstHeld) and sets
// other sockets' aside, and only the rest may run (takeFirstUnheld). A
// listener's incoming-connection notification is never held, so refused
// callers are answered whatever the thread waits for. The kinds are kept
// apart in the message, not in separate queues: arrival order holds across
// both.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "framework/threads/WakeFd.h"

namespace chatterly {

struct Message {
    enum class Kind { Posted, Network };
    Kind kind = Kind::Posted;
    std::function<void()> handler;  // what dispatching the message runs
    const void* source = nullptr;   // Network: the socket it is for
    int event = 0;                  // Network: which notification (FD_READ, ...)
    int error = 0;                  // Network: the error code it carries
    bool exempt = false;            // Network: runs also while notifications are held

    // Whether a hold of the thread's network notifications keeps it queued.
    bool held() const { return kind == Kind::Network && !exempt; }
};

class MessageQueue {
  public:
    MessageQueue() = default;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // The calling thread's queue, made on first use and kept while the thread
    // lives (and while anyone holds the shared pointer).
    static MessageQueue& current();
    static std::shared_ptr<MessageQueue> currentShared();

    // Any thread: appends and wakes the owner.
    void post(Message message);
    // Any thread: wakes the owner without a message (something it watches
    // besides its messages has changed).
    void wakeOwner() { wake_.signal(); }

    // Owning thread.
    bool empty() const;
    bool hasHeld() const;
    bool hasUnheld() const;
    std::optional<Message> take();
    std::optional<Message> takeFirstHeld();
    std::optional<Message> takeFirstUnheld();
    // The first queued notification of this kind for source, taken out.
    std::optional<Message> takeNetwork(const void* source, int event);
    // Drops every queued notification of source (a socket that closes).
    void discard(const void* source);
    // Puts messages back at the front, keeping their order (a wait's
    // set-aside notifications).
    void pushFront(std::deque<Message> messages);

    // Readable while messages may be waiting; drainWake() after waking.
    int wakeFd() const { return wake_.fd(); }
    void drainWake() { wake_.drain(); }

  private:
    mutable std::mutex mutex_;
    std::deque<Message> messages_;
    WakeFd wake_;
};

}  // namespace chatterly
