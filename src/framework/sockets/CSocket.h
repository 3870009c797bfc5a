#pragma once
// A blocking socket whose waits keep the owning thread's messages moving.
//
// Receive, Send, Accept and Connect first try without waiting. When the
// system says the operation would block, the socket waits and tries again,
// until the operation completes or fails; Send goes on until every byte is
// sent. A wait:
//   - ends when the socket's notification of the awaited kind arrives
//     (readable, writable, incoming connection, connect complete), when its
//     closed notification arrives (the first time only; the notification is
//     then still delivered to HandlePeerClosed after the wait), or when the
//     2000 ms retry time has passed, whichever comes first;
//   - sets every other network notification of the thread aside and puts it
//     back, in arrival order, when it ends;
//   - is the thread's one wait (ThreadLoop::pumpUntil) with its network
//     notifications held: it calls PumpWhileWaiting once a pass (on the GUI
//     thread Qt's events run too), runs a listener's notifications, which
//     are never held, and discards any error a message raises meanwhile;
//   - is cancelled by Close, and the operation then fails with WSAEINTR.
// A second blocking operation on a waiting socket fails with
// WSAEINPROGRESS. A connect waits for its connect-complete notification,
// whose error code decides; a timer tick only starts another wait.

#include <chrono>
#include <optional>

#include "framework/sockets/CAsyncSocket.h"

namespace chatterly {

class CSocket : public CAsyncSocket {
  public:
    static constexpr int kRetryMs = 2000;

    CSocket();
    ~CSocket() override;

    bool Accept(CAsyncSocket& into) override;
    bool Connect(const std::string& remote, uint16_t port) override;
    int Send(const void* data, size_t length) override;
    int Receive(void* data, size_t length) override;
    void Close() override;

    bool IsBlocking() const { return blocking_ != nullptr; }
    // The error code of the last connect-complete notification; -1 before one.
    int ConnectError() const { return connectError_; }

    // A time after which every wait of this socket gives up with
    // WSAETIMEDOUT (nullopt: never). For sockets whose far end must not hold
    // them indefinitely.
    void SetGiveUpTime(std::optional<std::chrono::steady_clock::time_point> at) { giveUp_ = at; }

    // Called by a wait once a pass, to keep the thread's messages moving.
    // This one dispatches the thread's waiting paint requests and returns
    // false; the result (whether the thread's idle processing should run) is
    // not used by the station.
    virtual bool PumpWhileWaiting();

  private:
    struct WaitState {
        bool cancelled = false;
    };
    // Waits as described above; false when the operation must fail (the
    // error is set).
    bool Wait(int awaited);

    WaitState* blocking_ = nullptr;
    int connectError_ = -1;
    bool closeEndedWait_ = false;
    std::optional<std::chrono::steady_clock::time_point> giveUp_;
};

}  // namespace chatterly
