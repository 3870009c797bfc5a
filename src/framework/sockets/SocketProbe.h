#pragma once
// What a connected socket's descriptor holds right now, looked at without
// taking anything from it: bytes to read, the far end's close (or a reset,
// whose error code it gives), or nothing (the readiness was spurious).

namespace chatterly {

class SocketProbe {
  public:
    enum class Holds { Bytes, Nothing, Closed };

    // Closed gives the reset's socket error in resetError (0 for a plain
    // close); the error is taken from the socket by the look.
    static Holds look(int fd, int& resetError);
    // Whether at least one byte waits to be read.
    static bool hasBytes(int fd);
};

}  // namespace chatterly
