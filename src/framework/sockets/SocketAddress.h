#pragma once
// IPv4 addresses as stations name each other: dotted-decimal text, or a host
// name whose first IPv4 address is taken.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace chatterly {

class SocketAddress {
  public:
    // remote as a dotted-decimal address, else the first IPv4 address of
    // the host name remote; nullopt when it is neither (or empty).
    [[nodiscard]] static std::optional<in_addr> resolve(const std::string& remote);

    // The socket address of an IPv4 address and port.
    static sockaddr_in endpoint(const in_addr& address, uint16_t port);

    // The far end of a connected socket as dotted-decimal text ("" when
    // unknown), and the local port a socket is bound to (0 when unknown).
    static std::string peerOf(int fd);
    static uint16_t localPortOf(int fd);
};

}  // namespace chatterly
