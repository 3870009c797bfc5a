#pragma once
// The frame that carries one voice message between stations, and the one
// place that writes and reads it:
//   Reserved  u32 LE, sent as 0 and ignored on receipt
//   Length    u32 LE, the number of Data bytes
//   Data      Length bytes: a whole WAV file

#include <cstdint>
#include <span>

#include "audio/VoiceRecorder.h"
#include "framework/streams/CArchive.h"
#include "net/FrameBuffer.h"

namespace chatterly {

// The longest Data a station accepts: the file of the longest recording a
// station makes (an hour of its sound, about 151 MiB). A larger Length is a
// corrupt or hostile frame.
static_assert(VoiceRecorder::kLongestRecordingBytes <= UINT32_MAX,
              "a frame counts its bytes in 32 bits");
inline constexpr uint32_t kMaxFrameLength =
    static_cast<uint32_t>(VoiceRecorder::kLongestRecordingBytes);

class VoiceMessageFrame {
  public:
    // Writes the header and Data, then flushes once. Throws FileError when
    // the stream fails.
    static void write(CArchive& archive, const void* data, uint32_t length);

    // Reads one whole frame into buffer and returns its Data there (valid
    // until the buffer is next prepared or released); a partial frame is
    // never returned. Every way a read fails is an error of the streams:
    // ArchiveError(EndOfFile) when the stream ends before the frame is whole,
    // ArchiveError(BadLength) for a Length above kMaxFrameLength (before
    // anything is allocated), the stream's FileError when it fails.
    [[nodiscard]] static std::span<const uint8_t> read(CArchive& archive, FrameBuffer& buffer);

  private:
    // The Length of the next frame, checked against the bound.
    static uint32_t readHeader(CArchive& archive);
};

}  // namespace chatterly
