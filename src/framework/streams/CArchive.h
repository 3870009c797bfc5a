#pragma once
// A buffered archive over a ByteStream, either loading or storing. Small
// writes gather in the buffer and go out as whole blocks; large writes and
// reads move their bulk straight between the caller's memory and the stream,
// so a big voice message is not copied through the buffer.
//
// It carries raw bytes and little-endian integers. The counts and strings of
// the station memory file are encoded over it by ArchiveEncodings, which
// reads and writes short fields in the buffer in place (Unread, Room).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "framework/streams/ArchiveError.h"
#include "framework/streams/ByteStream.h"

namespace chatterly {

class CArchive {
  public:
    enum class Mode { Load, Store };

    // A bufferSize of 0 throws ArchiveError(NoBuffer).
    CArchive(ByteStream& stream, Mode mode, size_t bufferSize = 4096);
    // A store archive flushes what it still holds; errors are swallowed here
    // (call Close() to see them).
    ~CArchive();

    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    // Store only (else ArchiveError(ReadOnly)). Throws FileError when the
    // stream fails.
    void Write(const void* data, size_t n);
    // Load only (else ArchiveError(WriteOnly)). Returns fewer than n bytes
    // only at the end of the stream.
    size_t Read(void* data, size_t n);

    // Sends what the buffer holds (nothing if it is empty).
    void Flush();
    // Store: flushes. Afterwards the destructor sends nothing.
    void Close();
    // Drops buffered bytes without sending them.
    void Abort();

    // Little-endian integers. The reads throw ArchiveError(EndOfFile) with
    // the stream's name when the data end early.
    void WriteU8(uint8_t value);
    void WriteU16(uint16_t value);
    void WriteU32(uint32_t value);
    uint8_t ReadU8();
    uint16_t ReadU16();
    uint32_t ReadU32();

    // Load: reads n bytes, or throws ArchiveError(EndOfFile) when the data
    // end first.
    void ReadExactly(void* data, size_t n);

    // Load: the stream holds exactly `bytes` more bytes from here on (a file
    // whose size is known). From then on a length read by a string read is
    // checked against what is left before anything is allocated for it.
    void SetAvailable(uint64_t bytes);
    // Load: throws ArchiveError(EndOfFile) when the stream is known to hold
    // fewer than n more bytes; reads nothing. A caller checks a count this way
    // (each element needing at least one byte) before allocating for it.
    void RequireAvailable(uint64_t n) const {
        if (availableEnd_ && (delivered_ > *availableEnd_ || *availableEnd_ - delivered_ < n)) {
            Fail(ArchiveError::Cause::EndOfFile);
        }
    }

    // The name that archive errors give: the stream's own unless set here; an
    // empty name reads "an unnamed file".
    void SetErrorName(std::string name) { errorName_ = std::move(name); }

    // Throws ArchiveError(cause) with the name that archive errors give.
    [[noreturn]] void Fail(ArchiveError::Cause cause) const;

    // Load: bytes received but not yet read. Store: bytes not yet sent.
    size_t Buffered() const { return end_ - pos_; }

    // The buffer in place, for fields short enough to be read or written
    // there without a copy through the caller's memory.
    // Load: the bytes received and not yet read (none on a store archive).
    std::span<const uint8_t> Unread() const {
        if (mode_ != Mode::Load) {
            return {};
        }
        return {buffer_.data() + pos_, end_ - pos_};
    }
    // Load: takes the first n bytes of Unread() as read.
    void Consume(size_t n) {
        pos_ += n;
        delivered_ += n;
    }
    // Store: the buffer's free room (none on a load archive).
    std::span<uint8_t> Room() {
        if (mode_ != Mode::Store) {
            return {};
        }
        return {buffer_.data() + end_, bufferSize_ - end_};
    }
    // Store: takes the first n bytes of Room() as written.
    void Commit(size_t n) { end_ += n; }

  private:
    size_t ReadSome(void* data, size_t n);

    ByteStream& stream_;
    Mode mode_;
    size_t bufferSize_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;  // load: next unread byte; store: always 0
    size_t end_ = 0;  // one past the last valid byte
    bool closed_ = false;
    uint64_t delivered_ = 0;                // load: bytes handed to the caller so far
    std::optional<uint64_t> availableEnd_;  // load: delivered_ at the stream's known end
    std::optional<std::string> errorName_;
};

}  // namespace chatterly
