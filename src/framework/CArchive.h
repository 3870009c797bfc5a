#pragma once
// A buffered archive over a ByteStream, either loading or storing. Small
// writes gather in the buffer and go out as whole blocks; large writes and
// reads move their bulk straight between the caller's memory and the stream,
// so a big voice message is not copied through the buffer.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/ByteStream.h"

namespace chatterly {

class CArchive {
  public:
    enum class Mode { Load, Store };

    CArchive(ByteStream& stream, Mode mode, size_t bufferSize = 4096);
    // A store archive flushes what it still holds; errors are swallowed here
    // (call close() to see them).
    ~CArchive();

    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    // Store only. Throws FileError when the stream fails.
    void write(const void* data, size_t n);
    // Load only. Returns fewer than n bytes only at the end of the stream.
    size_t read(void* data, size_t n);

    // Sends what the buffer holds (nothing if it is empty).
    void flush();
    // Store: flushes. Afterwards the destructor sends nothing.
    void close();
    // Drops buffered bytes without sending them.
    void abort();

    bool isLoading() const { return mode_ == Mode::Load; }

    // Little-endian integers. The reads throw ArchiveError(EndOfFile) with
    // the stream's name when the data end early.
    void writeU8(uint8_t value);
    void writeU16(uint16_t value);
    void writeU32(uint32_t value);
    uint8_t readU8();
    uint16_t readU16();
    uint32_t readU32();

    // Load: bytes received but not yet read. Store: bytes not yet sent.
    size_t buffered() const { return end_ - pos_; }

  private:
    void readExactly(void* data, size_t n);

    ByteStream& stream_;
    Mode mode_;
    size_t bufferSize_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;  // load: next unread byte; store: always 0
    size_t end_ = 0;  // one past the last valid byte
    bool closed_ = false;
};

}  // namespace chatterly
