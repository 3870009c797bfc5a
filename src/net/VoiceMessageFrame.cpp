#include "net/VoiceMessageFrame.h"

#include "framework/streams/ArchiveError.h"

namespace chatterly {

void VoiceMessageFrame::write(CArchive& archive, const void* data, uint32_t length) {
    archive.WriteU32(0);
    archive.WriteU32(length);
    archive.Write(data, length);
    archive.Flush();
}

std::optional<FrameData> VoiceMessageFrame::read(CArchive& archive) {
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
    FrameData data(length);
    if (archive.Read(data.data(), length) != length) {
        return std::nullopt;
    }
    return data;
}

}  // namespace chatterly
