#include "support/PlainSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace chatterly::test {

PlainSocket::~PlainSocket() {
    close();
}

PlainSocket& PlainSocket::operator=(PlainSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void PlainSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

PlainSocket PlainSocket::listenLoopback(int backlog) {
    PlainSocket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(0);
    if (bind(s.fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(s.fd_, backlog) != 0) {
        s.close();
    }
    return s;
}

PlainSocket PlainSocket::connectLoopback(uint16_t port) {
    PlainSocket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(port);
    if (connect(s.fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        s.close();
    }
    return s;
}

std::pair<PlainSocket, PlainSocket> PlainSocket::connectedPair() {
    PlainSocket listener = listenLoopback();
    PlainSocket a = connectLoopback(listener.port());
    PlainSocket b = listener.accept();
    return {std::move(a), std::move(b)};
}

uint16_t PlainSocket::closedPort() {
    return listenLoopback().port();
}

PlainSocket PlainSocket::accept() const {
    return PlainSocket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

PlainSocket PlainSocket::acceptWithin(int timeoutMs) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return PlainSocket();
    }
    return accept();
}

uint16_t PlainSocket::port() const {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

bool PlainSocket::sendAll(const void* data, size_t n) const {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL);
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

std::vector<uint8_t> PlainSocket::readUntilClosed(int timeoutMs, bool* closed) const {
    std::vector<uint8_t> out;
    if (closed) {
        *closed = false;
    }
    uint8_t chunk[65536];
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return out;
        }
        const ssize_t r = ::recv(fd_, chunk, sizeof chunk, 0);
        if (r <= 0) {
            if (closed) {
                *closed = true;
            }
            return out;
        }
        out.insert(out.end(), chunk, chunk + r);
    }
}

bool PlainSocket::seesClose(int timeoutMs) const {
    bool closed = false;
    readUntilClosed(timeoutMs, &closed);
    return closed;
}

std::vector<uint8_t> frameBytes(const std::vector<uint8_t>& data, uint32_t reserved) {
    std::vector<uint8_t> out;
    for (const uint32_t v : {reserved, static_cast<uint32_t>(data.size())}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<std::vector<uint8_t>> readFrames(const PlainSocket& from, size_t count) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> pending;
    uint8_t chunk[65536];
    while (frames.size() < count) {
        pollfd p{from.fd(), POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) {
            break;
        }
        const ssize_t n = recv(from.fd(), chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        pending.insert(pending.end(), chunk, chunk + n);
        while (pending.size() >= 8) {
            const uint32_t length = pending[4] | (pending[5] << 8) | (pending[6] << 16) |
                                    (static_cast<uint32_t>(pending[7]) << 24);
            if (pending.size() - 8 < length) {
                break;
            }
            frames.emplace_back(pending.begin() + 8, pending.begin() + 8 + length);
            pending.erase(pending.begin(), pending.begin() + 8 + length);
        }
    }
    return frames;
}

}  // namespace chatterly::test
