#include "framework/sockets/SocketAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace chatterly {

std::optional<in_addr> SocketAddress::resolve(const std::string& remote) {
    in_addr address{};
    if (inet_pton(AF_INET, remote.c_str(), &address) == 1) {
        return address;
    }
    if (remote.empty()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(remote.c_str(), nullptr, &hints, &found) != 0 || !found) {
        return std::nullopt;
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

sockaddr_in SocketAddress::endpoint(const in_addr& address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr = address;
    return at;
}

std::string SocketAddress::peerOf(int fd) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return text;
}

uint16_t SocketAddress::localPortOf(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace chatterly
