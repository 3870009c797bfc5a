#pragma once
// The byte stream over a connected socket that archives read and write: a
// write sends every byte, a read is one receive. A socket error raises a
// FileError without a file name (its text names "an unnamed file") whose
// cause is the socket error code. The socket file does not own the socket.

#include "framework/streams/ByteStream.h"

namespace chatterly {

class CAsyncSocket;

class CSocketFile : public ByteStream {
  public:
    explicit CSocketFile(CAsyncSocket& socket) : socket_(socket) {}

    void write(const void* data, size_t n) override;
    size_t read(void* data, size_t n) override;

  private:
    CAsyncSocket& socket_;
};

}  // namespace chatterly
