#include "framework/streams/ArchiveEncodings.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "framework/streams/AnsiCodec.h"
#include "framework/streams/ArchiveError.h"

namespace chatterly {
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

// The length of the three forms whose first byte has been read. 0xFFFE in the
// middle is returned as such; the caller decides what it means there.
uint32_t readLengthPrefix(CArchive& ar, uint8_t first) {
    if (first < 0xFF) {
        return first;
    }
    const uint16_t w = ar.ReadU16();
    return w != 0xFFFF ? w : ar.ReadU32();
}

void readBody(CArchive& ar, uint32_t length, std::string& text) {
    ar.RequireAvailable(length);
    text.clear();
    size_t got = 0;
    while (got < length) {
        const size_t step = std::min<size_t>(length - got, kStringStep);
        text.resize(got + step);
        ar.ReadExactly(text.data() + got, step);
        got += step;
    }
}

std::string readWideBody(CArchive& ar, uint32_t characters) {
    ar.RequireAvailable(uint64_t{characters} * 2);
    std::string text;
    std::vector<uint8_t> units;
    bool pendingHigh = false;
    uint64_t left = characters;
    while (left > 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(left, kStringStep / 2));
        units.resize(step * 2);
        ar.ReadExactly(units.data(), units.size());
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

}  // namespace

void ArchiveEncodings::writeCount(CArchive& ar, size_t n) {
    if (n > 0xFFFFFFFFu) {
        ar.Fail(ArchiveError::Cause::TooLarge);
    }
    if (n < 0xFFFF) {
        ar.WriteU16(static_cast<uint16_t>(n));
        return;
    }
    ar.WriteU16(0xFFFF);
    ar.WriteU32(static_cast<uint32_t>(n));
}

uint32_t ArchiveEncodings::readCount(CArchive& ar) {
    const uint16_t shortCount = ar.ReadU16();
    return shortCount != 0xFFFF ? shortCount : ar.ReadU32();
}

void ArchiveEncodings::writeString(CArchive& ar, std::string_view text) {
    const size_t n = text.size();
    if (n > 0xFFFFFFFFu) {
        ar.Fail(ArchiveError::Cause::TooLarge);
    }
    // The common case: a one-byte prefix and a short body, into the buffer.
    if (const std::span<uint8_t> room = ar.Room(); n < 0xFF && n < room.size()) {
        room[0] = static_cast<uint8_t>(n);
        std::memcpy(room.data() + 1, text.data(), n);
        ar.Commit(1 + n);
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
    ar.Write(prefix, prefixSize);
    ar.Write(text.data(), n);
}

std::string ArchiveEncodings::readString(CArchive& ar) {
    std::string text;
    readString(ar, text);
    return text;
}

void ArchiveEncodings::readString(CArchive& ar, std::string& text) {
    // The common case: a short string whose one-byte prefix and body are
    // both in the buffer already, copied once, straight into place.
    if (const std::span<const uint8_t> unread = ar.Unread(); !unread.empty()) {
        const uint8_t length = unread[0];
        if (length < 0xFF && unread.size() > length) {
            ar.RequireAvailable(1u + length);
            text.assign(reinterpret_cast<const char*>(unread.data() + 1), length);
            ar.Consume(1u + length);
            return;
        }
    }
    const uint8_t first = ar.ReadU8();
    if (first == 0xFF) {
        const uint16_t w = ar.ReadU16();
        if (w == kWideMarker) {
            // The second prefix has the same three forms; here 0xFFFE is a
            // plain length.
            text = readWideBody(ar, readLengthPrefix(ar, ar.ReadU8()));
            return;
        }
        const uint32_t length = w != 0xFFFF ? w : ar.ReadU32();
        readBody(ar, length, text);
        return;
    }
    readBody(ar, first, text);
}

}  // namespace chatterly
