#pragma once
// A plain blocking TCP socket on loopback, for the far end of a test: it
// knows nothing of the station's notifications and waits, so tests use it
// from a thread of its own or with small writes that cannot block.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace chatterly::test {

class PlainSocket {
  public:
    PlainSocket() = default;
    explicit PlainSocket(int fd) : fd_(fd) {}
    ~PlainSocket();
    PlainSocket(PlainSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    PlainSocket& operator=(PlainSocket&& other) noexcept;

    // A listener on 127.0.0.1 and a free port.
    static PlainSocket listenLoopback(int backlog = 16);
    // Connects to 127.0.0.1:port; an invalid socket when refused.
    static PlainSocket connectLoopback(uint16_t port);
    // Two ends of one loopback connection.
    static std::pair<PlainSocket, PlainSocket> connectedPair();
    // A loopback port where nothing listens (one just let go).
    static uint16_t closedPort();

    PlainSocket accept() const;
    // The next caller, or an invalid socket when none comes within timeoutMs.
    PlainSocket acceptWithin(int timeoutMs) const;
    uint16_t port() const;
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void close();

    // Sends every byte; false on error.
    bool sendAll(const void* data, size_t n) const;
    bool sendAll(const std::vector<uint8_t>& data) const {
        return sendAll(data.data(), data.size());
    }
    // Reads until the far end closes or timeoutMs passes without a byte;
    // closed tells which.
    std::vector<uint8_t> readUntilClosed(int timeoutMs, bool* closed = nullptr) const;
    // Whether the far end has closed (reads and drops waiting bytes), within
    // timeoutMs.
    bool seesClose(int timeoutMs) const;

  private:
    int fd_ = -1;
};

// The bytes of one voice message frame holding data, built by hand.
std::vector<uint8_t> frameBytes(const std::vector<uint8_t>& data, uint32_t reserved = 0);

// Reads whole frames off a plain socket until count have come, the far end
// closes, or 30 s pass without a byte; returns their Data.
std::vector<std::vector<uint8_t>> readFrames(const PlainSocket& from, size_t count);

}  // namespace chatterly::test
