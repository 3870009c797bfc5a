#include "framework/sockets/CAsyncSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "framework/sockets/SocketAddress.h"
#include "framework/sockets/SocketErrors.h"

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

CAsyncSocket::CAsyncSocket()
    : arming_(this, [this](int event, int error) { Deliver(event, error); }) {}

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
    arming_.listenStarted();
    return true;
}

void CAsyncSocket::Adopt(int fd, int events, bool connected) {
    fd_ = fd;
    arming_.start(fd, events, connected);
}

void CAsyncSocket::Release() {
    arming_.stop();
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
        arming_.sendWouldBlock();
    }
    return failCount(error);
}

int CAsyncSocket::TryReceive(void* data, size_t length) {
    if (!IsOpen()) {
        return failCount(WSAENOTSOCK);
    }
    const ssize_t n = ::recv(fd_, data, clampLength(length), 0);
    const int error = n < 0 ? errnoError() : 0;
    // A failure other than would-block is the connection's reset, kept.
    arming_.receiveTried(error != WSAEWOULDBLOCK ? error : 0);
    if (n > 0) {
        return static_cast<int>(n);
    }
    if (n == 0 && arming_.resetError() == 0) {
        return 0;
    }
    // After a reset every receive fails with it, not only the first.
    return failCount(n == 0 ? arming_.resetError() : error);
}

bool CAsyncSocket::TryAccept(CAsyncSocket& into) {
    if (!IsOpen() || !arming_.isListening()) {
        return fail(IsOpen() ? WSAEINVAL : WSAENOTSOCK);
    }
    if (into.IsOpen()) {
        return fail(WSAEINVAL);
    }
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = fd < 0 ? errnoError() : 0;
    // Out of descriptors or memory, the caller is announced again later.
    arming_.acceptTried(error == WSAEMFILE || error == WSAENOBUFS);
    if (fd < 0) {
        return fail(error);
    }
    into.Adopt(fd, arming_.selected(), true);
    return true;
}

bool CAsyncSocket::StartConnect(const in_addr& address, uint16_t port) {
    if (!IsOpen()) {
        return fail(WSAENOTSOCK);
    }
    const sockaddr_in remote = SocketAddress::endpoint(address, port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
        arming_.connectCompleted();
        return true;
    }
    const int error = errnoError();
    if (error == WSAEWOULDBLOCK) {
        arming_.connectStarted();
    }
    return fail(error);
}

void CAsyncSocket::Deliver(int event, int error) {
    switch (event) {
        case FD_READ:
            HandleReadable(error);
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
