#pragma once
// The frame that carries one voice message between stations:
//   Reserved  u32 LE, sent as 0 and ignored on receipt
//   Length    u32 LE, the number of Data bytes
//   Data      Length bytes of recorded sound

#include <cstdint>
#include <optional>
#include <vector>

#include "framework/CArchive.h"

namespace chatterly {

// The longest Data a station accepts: 1 GiB, hours of 22 kHz 16-bit mono
// sound. A larger Length is a corrupt or hostile frame.
inline constexpr uint32_t MaxFrameLength = 1u << 30;

class VoiceMessageFrame {
  public:
    // Writes the header and Data, then flushes once. Throws FileError when
    // the stream fails.
    static void write(CArchive& archive, const void* data, uint32_t length);

    // Reads one whole frame. Returns nullopt when the stream ends before the
    // frame is whole; a partial frame is never returned. A Length above
    // MaxFrameLength throws ArchiveError(BadLength) before any allocation.
    static std::optional<std::vector<uint8_t>> read(CArchive& archive);
};

}  // namespace chatterly
