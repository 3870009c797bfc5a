#pragma once
// The frame that carries one voice message between stations, and the one
// place that writes and reads it:
//   Reserved  u32 LE, sent as 0 and ignored on receipt
//   Length    u32 LE, the number of Data bytes
//   Data      Length bytes: a whole WAV file

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "audio/RecordingDevice.h"
#include "framework/streams/CArchive.h"
#include "net/FrameBuffer.h"

namespace chatterly {

// The longest Data a station accepts: the WAV file of the longest recording a
// station makes (an hour of its sound, about 151 MiB). A larger Length is a
// corrupt or hostile frame.
inline constexpr uint32_t kMaxFrameLength = RecordingDevice::kLongestFileBytes;

// Data of a received frame. Its bytes are not touched when it is made: every
// one is received before the frame is returned, and a Length that is
// announced but never sent commits no memory beyond what arrived.
class FrameData {
  public:
    explicit FrameData(size_t size)
        : bytes_(std::make_unique_for_overwrite<uint8_t[]>(size)), size_(size) {}

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    const uint8_t* begin() const { return bytes_.get(); }
    const uint8_t* end() const { return bytes_.get() + size_; }

  private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_;
};

class VoiceMessageFrame {
  public:
    // Writes the header and Data, then flushes once. Throws FileError when
    // the stream fails.
    static void write(CArchive& archive, const void* data, uint32_t length);

    // Reads one whole frame into buffer and returns its Data there (valid
    // until the buffer is next prepared or released). Returns nullopt when
    // the stream ends before the frame is whole; a partial frame is never
    // returned. A Length above kMaxFrameLength throws ArchiveError(BadLength)
    // before any allocation.
    [[nodiscard]] static std::optional<std::span<const uint8_t>> read(CArchive& archive,
                                                                      FrameBuffer& buffer);
    // The same into a buffer of the frame's own.
    [[nodiscard]] static std::optional<FrameData> read(CArchive& archive);

  private:
    // The Length of the next frame, checked against the bound; nullopt when
    // the stream ends inside the header.
    static std::optional<uint32_t> readHeader(CArchive& archive);
};

}  // namespace chatterly
