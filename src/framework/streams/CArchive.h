#pragma once
// A buffered archive over a ByteStream, either loading or storing. Small
// writes gather in the buffer and go out as whole blocks; large writes and
// reads move their bulk straight between the caller's memory and the stream,
// so a big voice message is not copied through the buffer.
//
// Besides raw bytes and little-endian integers it carries the two encodings
// of the station memory file: counts and length-prefixed 8-bit strings.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

    // Count: u16 n for 0 to 65534; from 65535 on, u16 0xFFFF then u32 n.
    // Counts above 0xFFFFFFFF cannot be written (ArchiveError(TooLarge)).
    void WriteCount(size_t n);
    uint32_t ReadCount();

    // String of L bytes: a length prefix, then the bytes, no terminator. The
    // prefix is u8 L (L <= 254), or u8 0xFF and u16 L (L <= 65533), or u8 0xFF,
    // u16 0xFFFF and u32 L. The writer takes the shortest form; the reader
    // accepts any form, so FF 05 00 announces 5 bytes. The reader also takes
    // wide strings: FF FE FF, then a second prefix of the same forms counting
    // UTF-16LE characters, then the characters, which it converts to the
    // station's 8-bit encoding (AnsiCodec; a character without a byte, and a
    // surrogate pair, become one '?'). Strings above 0xFFFFFFFF bytes cannot
    // be written (ArchiveError(TooLarge)).
    void WriteString(std::string_view text);
    std::string ReadString();
    // The same into text, whose room is reused. When the read throws, text
    // holds some of the string or none.
    void ReadString(std::string& text);

    // Load: the stream holds exactly `bytes` more bytes from here on (a file
    // whose size is known). From then on a length read by ReadString is
    // checked against what is left before anything is allocated for it.
    void SetAvailable(uint64_t bytes);
    // Load: throws ArchiveError(EndOfFile) when the stream is known to hold
    // fewer than n more bytes; reads nothing. A caller checks a count this way
    // (each element needing at least one byte) before allocating for it.
    void RequireAvailable(uint64_t n) const;

    // The name that archive errors give: the stream's own unless set here; an
    // empty name reads "an unnamed file".
    void SetErrorName(std::string name) { errorName_ = std::move(name); }

    // Load: bytes received but not yet read. Store: bytes not yet sent.
    size_t Buffered() const { return end_ - pos_; }

  private:
    size_t ReadSome(void* data, size_t n);
    void ReadExactly(void* data, size_t n);
    // Throws ArchiveError(cause) with the name that archive errors give.
    [[noreturn]] void Fail(ArchiveError::Cause cause) const;
    uint32_t ReadLengthPrefix(uint8_t first);
    void ReadBody(uint32_t length, std::string& text);
    std::string ReadWideBody(uint32_t characters);

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
