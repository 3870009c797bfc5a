#include "net/VoiceMessageFrame.h"

#include "framework/streams/ArchiveError.h"

namespace chatterly {

void VoiceMessageFrame::write(CArchive& archive, const void* data, uint32_t length) {
    archive.WriteU32(0);
    archive.WriteU32(length);
    archive.Write(data, length);
    archive.Flush();
}

uint32_t VoiceMessageFrame::readHeader(CArchive& archive) {
    archive.ReadU32();  // Reserved
    const uint32_t length = archive.ReadU32();
    if (length > kMaxFrameLength) {
        archive.Fail(ArchiveError::Cause::BadLength);
    }
    return length;
}

std::span<const uint8_t> VoiceMessageFrame::read(CArchive& archive, FrameBuffer& buffer) {
    const uint32_t length = readHeader(archive);
    uint8_t* data = buffer.prepare(length);
    if (archive.Read(data, length) != length) {
        archive.Fail(ArchiveError::Cause::EndOfFile);
    }
    return std::span<const uint8_t>(data, length);
}

}  // namespace chatterly
