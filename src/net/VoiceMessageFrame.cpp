#include "net/VoiceMessageFrame.h"

#include "framework/streams/ArchiveError.h"

namespace chatterly {

void VoiceMessageFrame::write(CArchive& archive, const void* data, uint32_t length) {
    archive.WriteU32(0);
    archive.WriteU32(length);
    archive.Write(data, length);
    archive.Flush();
}

std::optional<uint32_t> VoiceMessageFrame::readHeader(CArchive& archive) {
    uint32_t length = 0;
    try {
        archive.ReadU32();  // Reserved
        length = archive.ReadU32();
    } catch (const ArchiveError& e) {
        if (e.cause() == ArchiveError::Cause::EndOfFile) {
            return std::nullopt;  // the stream ended before a whole header
        }
        throw;
    }
    if (length > kMaxFrameLength) {
        throw ArchiveError(ArchiveError::Cause::BadLength);
    }
    return length;
}

std::optional<std::span<const uint8_t>> VoiceMessageFrame::read(CArchive& archive,
                                                                FrameBuffer& buffer) {
    const std::optional<uint32_t> length = readHeader(archive);
    if (!length) {
        return std::nullopt;
    }
    uint8_t* data = buffer.prepare(*length);
    if (archive.Read(data, *length) != *length) {
        return std::nullopt;
    }
    return std::span<const uint8_t>(data, *length);
}

std::optional<FrameData> VoiceMessageFrame::read(CArchive& archive) {
    const std::optional<uint32_t> length = readHeader(archive);
    if (!length) {
        return std::nullopt;
    }
    FrameData data(*length);
    if (archive.Read(data.data(), *length) != *length) {
        return std::nullopt;
    }
    return data;
}

}  // namespace chatterly
