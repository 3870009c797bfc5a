#include "framework/streams/CArchive.h"

#include <algorithm>
#include <cstring>

namespace chatterly {

CArchive::CArchive(ByteStream& stream, Mode mode, size_t bufferSize)
    : stream_(stream), mode_(mode), bufferSize_(bufferSize), buffer_(bufferSize) {
    if (bufferSize_ == 0) {
        Fail(ArchiveError::Cause::NoBuffer);
    }
}

CArchive::~CArchive() {
    if (mode_ == Mode::Store && !closed_) {
        try {
            Flush();
        } catch (...) {
            // Nobody can act on a failure while the archive goes away.
        }
    }
}

void CArchive::Write(const void* data, size_t n) {
    if (mode_ != Mode::Store) {
        Fail(ArchiveError::Cause::ReadOnly);
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t room = bufferSize_ - end_;
    if (n <= room) {
        if (n > 0) {
            std::memcpy(buffer_.data() + end_, bytes, n);
            end_ += n;
        }
        return;
    }
    // Fill the buffer to the brim and send it as one block. The buffer is
    // emptied first so a failed send does not leave bytes to send again.
    std::memcpy(buffer_.data() + end_, bytes, room);
    end_ = 0;
    stream_.write(buffer_.data(), bufferSize_);
    bytes += room;
    size_t left = n - room;

    const size_t direct = left - left % bufferSize_;
    if (direct > 0) {
        stream_.write(bytes, direct);
        bytes += direct;
        left -= direct;
    }
    if (left > 0) {
        std::memcpy(buffer_.data(), bytes, left);
        end_ = left;
    }
}

size_t CArchive::Read(void* data, size_t n) {
    if (mode_ != Mode::Load) {
        Fail(ArchiveError::Cause::WriteOnly);
    }
    const size_t got = ReadSome(data, n);
    delivered_ += got;
    return got;
}

size_t CArchive::ReadSome(void* data, size_t n) {
    auto* bytes = static_cast<uint8_t*>(data);
    const size_t fromBuffer = std::min(n, end_ - pos_);
    if (fromBuffer > 0) {
        std::memcpy(bytes, buffer_.data() + pos_, fromBuffer);
        pos_ += fromBuffer;
    }
    size_t got = fromBuffer;
    if (got == n) {
        return got;
    }
    // The buffer is empty now.
    pos_ = 0;
    end_ = 0;

    const size_t missing = n - got;
    const size_t directEnd = got + (missing - missing % bufferSize_);
    while (got < directEnd) {
        const size_t r = stream_.read(bytes + got, directEnd - got);
        if (r == 0) {
            return got;
        }
        got += r;
    }

    const size_t rest = n - got;
    if (rest == 0) {
        return got;
    }
    while (end_ < rest && end_ < bufferSize_) {
        const size_t r = stream_.read(buffer_.data() + end_, bufferSize_ - end_);
        if (r == 0) {
            break;
        }
        end_ += r;
    }
    const size_t out = std::min(rest, end_);
    std::memcpy(bytes + got, buffer_.data(), out);
    pos_ = out;
    return got + out;
}

void CArchive::Flush() {
    if (mode_ != Mode::Store || end_ == 0) {
        return;
    }
    const size_t count = end_;
    end_ = 0;
    stream_.write(buffer_.data(), count);
}

void CArchive::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    Flush();
}

void CArchive::Abort() {
    pos_ = 0;
    end_ = 0;
    closed_ = true;
}

void CArchive::WriteU8(uint8_t value) {
    Write(&value, 1);
}

void CArchive::WriteU16(uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Write(bytes, sizeof bytes);
}

void CArchive::WriteU32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Write(bytes, sizeof bytes);
}

void CArchive::ReadExactly(void* data, size_t n) {
    // The common case of the memory file's small fields: all in the buffer.
    if (mode_ == Mode::Load && end_ - pos_ >= n) {
        std::memcpy(data, buffer_.data() + pos_, n);
        pos_ += n;
        delivered_ += n;
        return;
    }
    if (Read(data, n) != n) {
        Fail(ArchiveError::Cause::EndOfFile);
    }
}

void CArchive::Fail(ArchiveError::Cause cause) const {
    throw ArchiveError(cause, errorName_ ? *errorName_ : stream_.name());
}

uint8_t CArchive::ReadU8() {
    uint8_t value = 0;
    ReadExactly(&value, 1);
    return value;
}

uint16_t CArchive::ReadU16() {
    uint8_t b[2];
    ReadExactly(b, sizeof b);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t CArchive::ReadU32() {
    uint8_t b[4];
    ReadExactly(b, sizeof b);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void CArchive::SetAvailable(uint64_t bytes) {
    availableEnd_ = delivered_ + bytes;
}

}  // namespace chatterly
