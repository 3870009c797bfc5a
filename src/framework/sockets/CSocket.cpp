#include "framework/sockets/CSocket.h"

#include <algorithm>
#include <deque>

#include "framework/sockets/SocketAddress.h"
#include "framework/sockets/SocketErrors.h"
#include "framework/threads/ErrorReport.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"

namespace chatterly {

using Clock = std::chrono::steady_clock;

CSocket::CSocket() = default;

CSocket::~CSocket() {
    CSocket::Close();
}

void CSocket::Close() {
    if (blocking_) {
        blocking_->cancelled = true;
        blocking_ = nullptr;
    }
    closeEndedWait_ = false;
    connectError_ = -1;
    CAsyncSocket::Close();
}

bool CSocket::PumpWhileWaiting() {
    if (ThreadLoop* l = Loop()) {
        l->dispatchPaint();
    }
    return false;
}

bool CSocket::Wait(int awaited) {
    ThreadLoop* threadLoop = Loop();
    const std::shared_ptr<MessageQueue> messages = Queue();
    if (!threadLoop || !messages) {
        SetLastError(WSAENOTSOCK);
        return false;
    }
    WaitState state;
    blocking_ = &state;
    auto end = Clock::now() + std::chrono::milliseconds(kRetryMs);
    if (giveUp_ && *giveUp_ < end) {
        end = *giveUp_;
    }
    // The wait's end: the socket's own awaited or closed notification, taken
    // out of the queue in arrival order; every other held notification is set
    // aside meanwhile, to be run after the wait.
    std::deque<Message> setAside;
    const auto ended = [&] {
        if (state.cancelled) {
            return true;
        }
        // A listener's own notification is never held: look for it apart.
        if (awaited == FD_ACCEPT && messages->takeNetwork(this, FD_ACCEPT)) {
            return true;
        }
        while (auto m = messages->takeFirstHeld()) {
            if (m->source == this && m->event == awaited) {
                if (awaited == FD_CONNECT) {
                    connectError_ = m->error;
                }
                return true;
            }
            const bool closeEnds = m->source == this && m->event == FD_CLOSE && !closeEndedWait_;
            setAside.push_back(std::move(*m));
            if (closeEnds) {
                // The close ends this wait and is delivered afterwards.
                closeEndedWait_ = true;
                return true;
            }
        }
        return false;
    };
    ThreadLoop::Pump pump;
    pump.runs = ThreadLoop::Pump::Runs::Hook;
    pump.hook = [this] { ErrorReport::run([this] { (void)PumpWhileWaiting(); }); };
    bool timedOut = false;
    {
        const ThreadLoop::NetworkHold hold;
        const ErrorReport::DiscardScope discard;
        timedOut = !threadLoop->pumpUntil(ended, end, pump);
    }
    if (state.cancelled) {
        // Closed under the wait: its own notifications go with it.
        std::erase_if(setAside, [this](const Message& m) { return m.source == this; });
    } else {
        blocking_ = nullptr;
    }
    messages->pushFront(std::move(setAside));
    if (state.cancelled) {
        SetLastError(WSAEINTR);
        return false;
    }
    if (timedOut && giveUp_ && Clock::now() >= *giveUp_) {
        SetLastError(WSAETIMEDOUT);
        return false;
    }
    return true;
}

int CSocket::Receive(void* data, size_t length) {
    if (blocking_) {
        SetLastError(WSAEINPROGRESS);
        return SOCKET_ERROR;
    }
    for (;;) {
        const int n = TryReceive(data, length);
        if (n != SOCKET_ERROR || GetLastError() != WSAEWOULDBLOCK) {
            return n;
        }
        if (!Wait(FD_READ)) {
            return SOCKET_ERROR;
        }
    }
}

int CSocket::Send(const void* data, size_t length) {
    if (blocking_) {
        SetLastError(WSAEINPROGRESS);
        return SOCKET_ERROR;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t sent = 0;
    const size_t total = std::min<size_t>(length, INT32_MAX);
    while (sent < total) {
        const int n = TrySend(bytes + sent, total - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && GetLastError() != WSAEWOULDBLOCK) {
            return SOCKET_ERROR;
        }
        if (!Wait(FD_WRITE)) {
            return SOCKET_ERROR;
        }
    }
    return static_cast<int>(sent);
}

bool CSocket::Accept(CAsyncSocket& into) {
    if (blocking_) {
        SetLastError(WSAEINPROGRESS);
        return false;
    }
    for (;;) {
        if (TryAccept(into)) {
            return true;
        }
        if (GetLastError() != WSAEWOULDBLOCK) {
            return false;
        }
        if (!Wait(FD_ACCEPT)) {
            return false;
        }
    }
}

bool CSocket::Connect(const std::string& remote, uint16_t port) {
    if (blocking_) {
        SetLastError(WSAEINPROGRESS);
        return false;
    }
    const auto address = SocketAddress::resolve(remote);
    if (!address) {
        SetLastError(WSAEINVAL);
        return false;
    }
    connectError_ = -1;
    if (StartConnect(*address, port)) {
        connectError_ = 0;
        return true;
    }
    if (GetLastError() != WSAEWOULDBLOCK) {
        return false;
    }
    while (connectError_ == -1) {
        if (!Wait(FD_CONNECT)) {
            return false;
        }
    }
    if (connectError_ != 0) {
        SetLastError(connectError_);
        return false;
    }
    return true;
}

}  // namespace chatterly
