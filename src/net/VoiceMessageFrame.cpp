#include "net/VoiceMessageFrame.h"

#include "framework/streams/ArchiveError.h"

namespace chatterly {

void VoiceMessageFrame::write(CArchive& archive, const void* data, uint32_t length) {
    archive.writeU32(0);
    archive.writeU32(length);
    archive.write(data, length);
    archive.flush();
}

std::optional<FrameData> VoiceMessageFrame::read(CArchive& archive) {
    uint32_t length = 0;
    try {
        archive.readU32();  // Reserved
        length = archive.readU32();
    } catch (const ArchiveError& e) {
        if (e.cause() == ArchiveError::Cause::EndOfFile) {
            return std::nullopt;  // the stream ended before a whole header
        }
        throw;
    }
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
