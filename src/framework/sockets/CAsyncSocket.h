#pragma once
// A notifying IPv4 socket over a POSIX non-blocking descriptor.
//
// Each socket belongs to the thread that created, accepted or attached it.
// Readiness of its descriptor is watched by that thread's loop and turned
// into network notifications (FD_READ, FD_WRITE, FD_OOB, FD_ACCEPT,
// FD_CONNECT, FD_CLOSE), which are queued to that thread's MessageQueue and
// run there, in arrival order, as calls of the Handle... virtuals below.
//
// A notification is not repeated until the operation it announces has been
// tried again: readable until the next receive, writable until a send that
// would block, an incoming connection until the next accept, out-of-band data
// until the next receive. A closed notification comes once, after every byte
// the far end sent has been read. A readable notification calls
// HandleReadable only if at least one byte is waiting when it runs.
// Notifications still queued for a socket when it closes are discarded.
// The socket's NotificationArming keeps which notifications may come next
// and turns readiness into them.
//
// Operations here never wait: one that would block fails with
// WSAEWOULDBLOCK. CSocket adds the blocking operations. Every operation must
// be called on the owning thread. Errors are socket error codes
// (SocketErrors.h), read with GetLastError() as the failing call left them.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "framework/sockets/NotificationArming.h"
#include "framework/sockets/SocketErrors.h"

namespace chatterly {

class MessageQueue;
class ThreadLoop;

inline constexpr int SOCKET_ERROR = -1;
inline constexpr int INVALID_SOCKET = -1;

class CAsyncSocket {
  public:
    CAsyncSocket();
    // Closes the socket if it is still open.
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // Makes a stream socket on the calling thread, selects events and binds
    // it to port (0: any) on address (dotted decimal; nullptr: any local
    // address). A fixed port is bound with address reuse, so a listener can
    // be made again right after a call. A failed bind closes the socket.
    bool Create(uint16_t port = 0, int events = FD_ALL_EVENTS, const char* address = nullptr);
    bool Listen(int backlog = 5);

    virtual bool Accept(CAsyncSocket& into) { return TryAccept(into); }
    // remote: a dotted-decimal IPv4 address, else a host name whose first
    // IPv4 address is taken; neither gives WSAEINVAL.
    virtual bool Connect(const std::string& remote, uint16_t port);
    // Returns the bytes sent or received (0: the far end has closed), or
    // SOCKET_ERROR. Sends never raise SIGPIPE.
    virtual int Send(const void* data, size_t length) { return TrySend(data, length); }
    virtual int Receive(void* data, size_t length) { return TryReceive(data, length); }
    // Turns notifications off, discards queued ones and closes the handle.
    // Closing a closed socket does nothing.
    virtual void Close();

    // Gives the handle away without closing it; the object no longer
    // refers to it and its notifications stop.
    int Detach();
    // Adopts an open handle on the calling thread and selects events.
    bool Attach(int handle, int events = FD_ALL_EVENTS);

    int Handle() const { return fd_; }
    bool IsOpen() const { return fd_ != INVALID_SOCKET; }
    // The far end's address as dotted-decimal text ("" when unknown).
    std::string PeerAddress() const;
    // The local port (0 when unknown): the port a socket made on port 0 got.
    uint16_t LocalPort() const;

    static int GetLastError() { return lastSocketError(); }
    static void SetLastError(int error) { setLastSocketError(error); }

  protected:
    // Notifications, run on the owning thread by its message dispatch. The
    // error code is 0 or the socket error the event carries. Writable,
    // out-of-band and connect-complete notifications are taken by the
    // blocking waits (CSocket) and run nothing of their own.
    virtual void HandleReadable(int error);
    virtual void HandleIncomingCall(int error);
    virtual void HandlePeerClosed(int error);

    // One attempt, without waiting; SOCKET_ERROR with WSAEWOULDBLOCK when
    // the operation would block. Each re-arms the notification it answers.
    int TrySend(const void* data, size_t length);
    int TryReceive(void* data, size_t length);
    bool TryAccept(CAsyncSocket& into);
    // Starts a connect to address: true when it completed at once; false
    // with WSAEWOULDBLOCK while it goes on (FD_CONNECT tells how it ended).
    bool StartConnect(const in_addr& address, uint16_t port);

    ThreadLoop* Loop() const { return arming_.loop(); }
    const std::shared_ptr<MessageQueue>& Queue() const { return arming_.queue(); }

  private:
    void Adopt(int fd, int events, bool connected);
    void Release();
    // Runs a notification that its turn in the queue reached.
    void Deliver(int event, int error);

    int fd_ = INVALID_SOCKET;
    NotificationArming arming_;
};

}  // namespace chatterly
