#include "net/VoiceMessageFrame.h"

#include "framework/ArchiveError.h"
#include "framework/ByteStream.h"

namespace chatterly {

namespace {

constexpr size_t HeaderSize = 8;

uint32_t loadU32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

void VoiceMessageFrame::write(CArchive& archive, const void* data, uint32_t length) {
    archive.writeU32(0);
    archive.writeU32(length);
    archive.write(data, length);
    archive.flush();
}

std::optional<FrameData> VoiceMessageFrame::read(CArchive& archive) {
    uint8_t header[HeaderSize];
    if (archive.read(header, HeaderSize) != HeaderSize) {
        return std::nullopt;
    }
    const uint32_t length = loadU32(header + 4);
    if (length > MaxFrameLength) {
        throw ArchiveError(ArchiveError::Cause::BadLength);
    }
    FrameData data(length);
    if (archive.read(data.data(), length) != length) {
        return std::nullopt;
    }
    return data;
}

}  // namespace chatterly
