#include "framework/streams/CArchive.h"

#include <algorithm>
#include <cstring>

#include "framework/streams/AnsiCodec.h"

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

void CArchive::RequireAvailable(uint64_t n) const {
    if (availableEnd_ && (delivered_ > *availableEnd_ || *availableEnd_ - delivered_ < n)) {
        Fail(ArchiveError::Cause::EndOfFile);
    }
}

namespace {

// A string body is read in steps of this size, so even a stream of unknown
// size never makes the reader allocate far beyond the bytes that arrived.
constexpr size_t kStringStep = 64 * 1024;

constexpr uint16_t kWideMarker = 0xFFFE;

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

void CArchive::WriteCount(size_t n) {
    if (n > 0xFFFFFFFFu) {
        Fail(ArchiveError::Cause::TooLarge);
    }
    if (n < 0xFFFF) {
        WriteU16(static_cast<uint16_t>(n));
        return;
    }
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(n));
}

uint32_t CArchive::ReadCount() {
    const uint16_t shortCount = ReadU16();
    return shortCount != 0xFFFF ? shortCount : ReadU32();
}

void CArchive::WriteString(std::string_view text) {
    const size_t n = text.size();
    if (n > 0xFFFFFFFFu) {
        Fail(ArchiveError::Cause::TooLarge);
    }
    // The common case: a one-byte prefix and a short body, into the buffer.
    if (mode_ == Mode::Store && n < 0xFF && n < bufferSize_ - end_) {
        buffer_[end_] = static_cast<uint8_t>(n);
        std::memcpy(buffer_.data() + end_ + 1, text.data(), n);
        end_ += 1 + n;
        return;
    }
    uint8_t prefix[7];
    size_t prefixSize = 0;
    const auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            prefix[prefixSize++] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    if (n < 0xFF) {
        put(static_cast<uint32_t>(n), 1);
    } else if (n < 0xFFFE) {
        put(0xFF, 1);
        put(static_cast<uint32_t>(n), 2);
    } else {
        put(0xFF, 1);
        put(0xFFFF, 2);
        put(static_cast<uint32_t>(n), 4);
    }
    Write(prefix, prefixSize);
    Write(text.data(), n);
}

// The length of the three forms whose first byte has been read. 0xFFFE in the
// middle is returned as such; the caller decides what it means there.
uint32_t CArchive::ReadLengthPrefix(uint8_t first) {
    if (first < 0xFF) {
        return first;
    }
    const uint16_t w = ReadU16();
    return w != 0xFFFF ? w : ReadU32();
}

std::string CArchive::ReadString() {
    std::string text;
    ReadString(text);
    return text;
}

void CArchive::ReadString(std::string& text) {
    // The common case: a short string whose one-byte prefix and body are
    // both in the buffer already, copied once, straight into place.
    if (mode_ == Mode::Load && pos_ < end_) {
        const uint8_t length = buffer_[pos_];
        if (length < 0xFF && end_ - pos_ > length) {
            RequireAvailable(1u + length);
            text.assign(reinterpret_cast<const char*>(buffer_.data() + pos_ + 1), length);
            pos_ += 1u + length;
            delivered_ += 1u + length;
            return;
        }
    }
    const uint8_t first = ReadU8();
    if (first == 0xFF) {
        const uint16_t w = ReadU16();
        if (w == kWideMarker) {
            // The second prefix has the same three forms; here 0xFFFE is a
            // plain length.
            text = ReadWideBody(ReadLengthPrefix(ReadU8()));
            return;
        }
        const uint32_t length = w != 0xFFFF ? w : ReadU32();
        ReadBody(length, text);
        return;
    }
    ReadBody(first, text);
}

void CArchive::ReadBody(uint32_t length, std::string& text) {
    RequireAvailable(length);
    text.clear();
    size_t got = 0;
    while (got < length) {
        const size_t step = std::min<size_t>(length - got, kStringStep);
        text.resize(got + step);
        ReadExactly(text.data() + got, step);
        got += step;
    }
}

std::string CArchive::ReadWideBody(uint32_t characters) {
    RequireAvailable(uint64_t{characters} * 2);
    std::string text;
    std::vector<uint8_t> units;
    bool pendingHigh = false;
    uint64_t left = characters;
    while (left > 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(left, kStringStep / 2));
        units.resize(step * 2);
        ReadExactly(units.data(), units.size());
        left -= step;
        text.reserve(text.size() + step);
        for (size_t i = 0; i < step; ++i) {
            const auto u = static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
            if (pendingHigh) {
                pendingHigh = false;
                text.push_back('?');
                if (isLowSurrogate(u)) {
                    continue;  // the pair was one character
                }
            }
            if (isHighSurrogate(u)) {
                pendingHigh = true;
                continue;
            }
            text.push_back(AnsiCodec::fromUtf16(u));
        }
    }
    if (pendingHigh) {
        text.push_back('?');
    }
    return text;
}

}  // namespace chatterly
