#pragma once
// A two-way stream of bytes under an archive: a disk file, a socket, or a
// test double. write sends every byte or throws; read is one receive.

#include <cstddef>
#include <string>

namespace chatterly {

class ByteStream {
  public:
    virtual ~ByteStream() = default;

    // Sends all n bytes, or throws FileError.
    virtual void write(const void* data, size_t n) = 0;

    // One receive: returns 1..n bytes, 0 at the end of the stream. Throws
    // FileError on an error.
    virtual size_t read(void* data, size_t n) = 0;

    // The name error reports show; empty for a stream without one.
    virtual std::string name() const { return {}; }
};

}  // namespace chatterly
