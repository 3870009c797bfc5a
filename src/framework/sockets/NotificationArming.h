#pragma once
// Which network notifications a socket may raise next, and the turning of
// its descriptor's readiness into notifications queued to the owning thread.
//
// Each notification is armed until it is raised, and armed again when the
// socket tries the operation it announces (a receive, a send that would
// block, an accept); the thread's loop watches the descriptor only for the
// readiness that an armed notification needs. A readable notification whose
// bytes are gone by the time it runs raises nothing and arms itself again.
// A closed notification is raised once. The socket (CAsyncSocket) owns one
// of these, tells it what it tried, and runs the notifications it is handed.

#include <functional>
#include <memory>

namespace chatterly {

class MessageQueue;
class ThreadLoop;

inline constexpr int FD_READ = 0x01;
inline constexpr int FD_WRITE = 0x02;
inline constexpr int FD_OOB = 0x04;
inline constexpr int FD_ACCEPT = 0x08;
inline constexpr int FD_CONNECT = 0x10;
inline constexpr int FD_CLOSE = 0x20;
// The set every socket of the station selects.
inline constexpr int FD_ALL_EVENTS =
    FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

class NotificationArming {
  public:
    // Runs a notification on the owning thread, when its turn in the queue
    // comes: readable (only while a byte waits), incoming connection, closed.
    using Deliver = std::function<void(int event, int error)>;

    // How long a listener that ran out of descriptors waits before it
    // announces a waiting caller again.
    static constexpr int kAcceptRetryMs = 100;

    // source is the socket the notifications are for (Message::source).
    NotificationArming(const void* source, Deliver deliver);
    NotificationArming(const NotificationArming&) = delete;
    NotificationArming& operator=(const NotificationArming&) = delete;

    // Watches fd on the calling thread for the selected events; a connected
    // descriptor may announce bytes, out-of-band data and room to send.
    void start(int fd, int events, bool connected);
    // Stops watching, discards the notifications still queued and forgets
    // the connection's state. The descriptor itself is left alone.
    void stop();

    // What the socket did, each re-arming what it answers.
    void listenStarted();
    void connectStarted();
    void connectCompleted();
    void sendWouldBlock();
    // A receive was tried; resetError is its error when it found the
    // connection reset (0 otherwise).
    void receiveTried(int resetError);
    // An accept was tried; out of descriptors or memory, the waiting caller
    // is announced again only after kAcceptRetryMs.
    void acceptTried(bool outOfDescriptors);

    bool isListening() const { return listening_; }
    int selected() const { return events_; }
    // The error of a reset connection, once seen (0 before).
    int resetError() const { return resetError_; }
    ThreadLoop* loop() const { return loop_; }
    const std::shared_ptr<MessageQueue>& queue() const { return queue_; }

  private:
    short watchedEvents() const;
    void updateWatch();
    void onReady(short revents);
    void post(int event, int error);
    void dispatch(int event, int error);

    const void* source_;
    Deliver deliver_;
    int fd_ = -1;
    int events_ = 0;
    ThreadLoop* loop_ = nullptr;
    std::shared_ptr<MessageQueue> queue_;
    // Watches, queued notifications and retries reach this through the
    // token; cleared when the arming stops.
    std::shared_ptr<NotificationArming*> token_;

    bool listening_ = false;
    bool connecting_ = false;
    bool connected_ = false;
    bool readArmed_ = false;
    bool writeArmed_ = false;
    bool oobArmed_ = false;
    bool acceptArmed_ = false;
    bool closeSent_ = false;
    int resetError_ = 0;  // the error of a reset connection, once seen
    short watched_ = -1;  // events last given to the loop; -1: not watched
};

}  // namespace chatterly
