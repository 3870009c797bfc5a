#include "framework/sockets/CAsyncSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "framework/sockets/SocketAddress.h"
#include "framework/sockets/SocketErrors.h"
#include "framework/sockets/SocketProbe.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"

namespace chatterly {
namespace {

bool fail(int error) {
    setLastSocketError(error);
    return false;
}

int failCount(int error) {
    setLastSocketError(error);
    return SOCKET_ERROR;
}

int errnoError() {
    return socketErrorFromErrno(errno);
}

size_t clampLength(size_t length) {
    return std::min<size_t>(length, INT_MAX);
}

}  // namespace

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    CAsyncSocket::Close();
}

bool CAsyncSocket::Create(uint16_t port, int events, const char* address) {
    if (IsOpen()) {
        return fail(WSAEINVAL);
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(errnoError());
    }
    in_addr local{htonl(INADDR_ANY)};
    if (address && inet_pton(AF_INET, address, &local) != 1) {
        ::close(fd);
        return fail(WSAEINVAL);
    }
    if (port != 0) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    const sockaddr_in at = SocketAddress::endpoint(local, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        const int error = errnoError();
        ::close(fd);
        return fail(error);
    }
    Adopt(fd, events, false);
    return true;
}

bool CAsyncSocket::Listen(int backlog) {
    if (!IsOpen()) {
        return fail(WSAENOTSOCK);
    }
    if (listen(fd_, backlog) != 0) {
        return fail(errnoError());
    }
    listening_ = true;
    acceptArmed_ = true;
    UpdateWatch();
    return true;
}

void CAsyncSocket::Adopt(int fd, int events, bool connected) {
    fd_ = fd;
    events_ = events;
    loop_ = &ThreadLoop::current();
    queue_ = MessageQueue::currentShared();
    token_ = std::make_shared<CAsyncSocket*>(this);
    listening_ = false;
    connecting_ = false;
    connected_ = connected;
    readArmed_ = true;
    writeArmed_ = connected;
    oobArmed_ = true;
    acceptArmed_ = false;
    closeSent_ = false;
    resetError_ = 0;
    watched_ = -1;
    UpdateWatch();
}

void CAsyncSocket::Release() {
    if (watched_ >= 0) {
        loop_->unwatch(fd_);
    }
    watched_ = -1;
    if (queue_) {
        queue_->discard(this);
    }
    if (token_) {
        *token_ = nullptr;
        token_.reset();
    }
    listening_ = connecting_ = connected_ = false;
}

void CAsyncSocket::Close() {
    if (!IsOpen()) {
        return;
    }
    Release();
    ::close(fd_);
    fd_ = INVALID_SOCKET;
}

int CAsyncSocket::Detach() {
    if (!IsOpen()) {
        return INVALID_SOCKET;
    }
    Release();
    const int fd = fd_;
    fd_ = INVALID_SOCKET;
    return fd;
}

bool CAsyncSocket::Attach(int handle, int events) {
    if (IsOpen() || handle < 0) {
        return fail(WSAEINVAL);
    }
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(errnoError());
    }
    Adopt(handle, events, true);
    return true;
}

std::string CAsyncSocket::PeerAddress() const {
    return SocketAddress::peerOf(fd_);
}

uint16_t CAsyncSocket::LocalPort() const {
    return SocketAddress::localPortOf(fd_);
}

bool CAsyncSocket::Connect(const std::string& remote, uint16_t port) {
    const auto address = SocketAddress::resolve(remote);
    if (!address) {
        return fail(WSAEINVAL);
    }
    return StartConnect(*address, port);
}

int CAsyncSocket::TrySend(const void* data, size_t length) {
    if (!IsOpen()) {
        return failCount(WSAENOTSOCK);
    }
    const ssize_t n = ::send(fd_, data, clampLength(length), MSG_NOSIGNAL);
    if (n >= 0) {
        return static_cast<int>(n);
    }
    const int error = errnoError();
    if (error == WSAEWOULDBLOCK) {
        writeArmed_ = true;
        UpdateWatch();
    }
    return failCount(error);
}

int CAsyncSocket::TryReceive(void* data, size_t length) {
    if (!IsOpen()) {
        return failCount(WSAENOTSOCK);
    }
    readArmed_ = true;
    oobArmed_ = true;
    const ssize_t n = ::recv(fd_, data, clampLength(length), 0);
    int error = n < 0 ? errnoError() : 0;
    if (n < 0 && error != WSAEWOULDBLOCK) {
        resetError_ = error;
    }
    UpdateWatch();
    if (n > 0) {
        return static_cast<int>(n);
    }
    if (n == 0 && resetError_ == 0) {
        return 0;
    }
    // After a reset every receive fails with it, not only the first.
    return failCount(n == 0 ? resetError_ : error);
}

bool CAsyncSocket::TryAccept(CAsyncSocket& into) {
    if (!IsOpen() || !listening_) {
        return fail(IsOpen() ? WSAEINVAL : WSAENOTSOCK);
    }
    if (into.IsOpen()) {
        return fail(WSAEINVAL);
    }
    acceptArmed_ = true;
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = fd < 0 ? errnoError() : 0;
    if (error == WSAEMFILE || error == WSAENOBUFS) {
        // Out of descriptors or memory: the caller stays queued and keeps
        // the socket readable, so announcing it again at once would run the
        // thread back to back. Try again a little later.
        acceptArmed_ = false;
        std::weak_ptr<CAsyncSocket*> token = token_;
        loop_->callAfter(kAcceptRetryMs, [token] {
            if (auto t = token.lock(); t && *t) {
                (*t)->acceptArmed_ = true;
                (*t)->UpdateWatch();
            }
        });
    }
    UpdateWatch();
    if (fd < 0) {
        return fail(error);
    }
    into.Adopt(fd, events_, true);
    return true;
}

bool CAsyncSocket::StartConnect(const in_addr& address, uint16_t port) {
    if (!IsOpen()) {
        return fail(WSAENOTSOCK);
    }
    const sockaddr_in remote = SocketAddress::endpoint(address, port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
        connected_ = true;
        writeArmed_ = true;
        UpdateWatch();
        return true;
    }
    const int error = errnoError();
    if (error == WSAEWOULDBLOCK) {
        connecting_ = true;
        UpdateWatch();
    }
    return fail(error);
}

short CAsyncSocket::WatchedEvents() const {
    if (listening_) {
        return acceptArmed_ && (events_ & FD_ACCEPT) ? POLLIN : 0;
    }
    if (connecting_) {
        return POLLOUT;
    }
    if (!connected_) {
        return 0;
    }
    short events = 0;
    if (readArmed_ && !closeSent_ && (events_ & FD_READ)) {
        events |= POLLIN;
    }
    if (writeArmed_ && (events_ & FD_WRITE)) {
        events |= POLLOUT;
    }
    if (oobArmed_ && !closeSent_ && (events_ & FD_OOB)) {
        events |= POLLPRI;
    }
    return events;
}

void CAsyncSocket::UpdateWatch() {
    if (!IsOpen() || !loop_) {
        return;
    }
    const short events = WatchedEvents();
    if (events == watched_) {
        return;
    }
    watched_ = events;
    std::weak_ptr<CAsyncSocket*> token = token_;
    loop_->watch(fd_, events, [token](short revents) {
        if (auto t = token.lock(); t && *t) {
            (*t)->OnReady(revents);
        }
    });
}

void CAsyncSocket::OnReady(short revents) {
    if (listening_) {
        if (acceptArmed_) {
            acceptArmed_ = false;
            Post(FD_ACCEPT, 0);
        }
    } else if (connecting_) {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
        connecting_ = false;
        if (error == 0) {
            connected_ = true;
            writeArmed_ = true;
        }
        if (events_ & FD_CONNECT) {
            Post(FD_CONNECT, socketErrorFromErrno(error));
        }
    } else if (connected_) {
        if ((revents & (POLLIN | POLLERR | POLLHUP)) && readArmed_ && !closeSent_) {
            int reset = 0;
            switch (SocketProbe::look(fd_, reset)) {
                case SocketProbe::Holds::Bytes:
                    readArmed_ = false;
                    Post(FD_READ, 0);
                    break;
                case SocketProbe::Holds::Closed:
                    // A reset's error, taken from the socket by the look, is
                    // kept for the receives that follow.
                    if (reset != 0) {
                        resetError_ = reset;
                    }
                    closeSent_ = true;
                    if (events_ & FD_CLOSE) {
                        Post(FD_CLOSE, resetError_);
                    }
                    break;
                case SocketProbe::Holds::Nothing:
                    break;
            }
        }
        if ((revents & POLLOUT) && writeArmed_) {
            writeArmed_ = false;
            Post(FD_WRITE, 0);
        }
        if ((revents & POLLPRI) && oobArmed_) {
            oobArmed_ = false;
            Post(FD_OOB, 0);
        }
    }
    UpdateWatch();
}

void CAsyncSocket::Post(int event, int error) {
    Message message;
    message.kind = Message::Kind::Network;
    message.source = this;
    message.event = event;
    message.error = error;
    // A caller waiting to be taken or refused is answered whatever the
    // thread is busy with: a listener's notification is never held.
    message.exempt = event == FD_ACCEPT;
    std::weak_ptr<CAsyncSocket*> token = token_;
    message.handler = [token, event, error] {
        if (auto t = token.lock(); t && *t) {
            (*t)->Dispatch(event, error);
        }
    };
    queue_->post(std::move(message));
}

void CAsyncSocket::Dispatch(int event, int error) {
    switch (event) {
        case FD_READ:
            if (SocketProbe::hasBytes(fd_)) {
                HandleReadable(error);
            } else {
                // Someone read the bytes already: listen for the next ones.
                readArmed_ = true;
                UpdateWatch();
            }
            break;
        case FD_ACCEPT:
            HandleIncomingCall(error);
            break;
        case FD_CLOSE:
            HandlePeerClosed(error);
            break;
        default:
            break;
    }
}

void CAsyncSocket::HandleReadable(int) {}
void CAsyncSocket::HandleIncomingCall(int) {}
void CAsyncSocket::HandlePeerClosed(int) {}

}  // namespace chatterly
