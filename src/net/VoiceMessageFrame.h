#pragma once
// The frame that carries one voice message between stations, and the one
// place that writes and reads it:
//   Reserved  u32 LE, sent as 0 and ignored on receipt
//   Length    u32 LE, the number of Data bytes
//   Data      Length bytes: a whole WAV file

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "framework/streams/CArchive.h"

namespace chatterly {

// The longest Data a station accepts: 1 GiB, hours of 22 kHz 16-bit mono
// sound. A larger Length is a corrupt or hostile frame.
inline constexpr uint32_t kMaxFrameLength = 1u << 30;

// Data of a received frame. Its bytes are not zero-filled when it is made:
// every one is received before the frame is returned, and a Length that is
// announced but never sent commits no memory beyond what arrived.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using FrameData = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

class VoiceMessageFrame {
  public:
    // Writes the header and Data, then flushes once. Throws FileError when
    // the stream fails.
    static void write(CArchive& archive, const void* data, uint32_t length);

    // Reads one whole frame. Returns nullopt when the stream ends before the
    // frame is whole; a partial frame is never returned. A Length above
    // kMaxFrameLength throws ArchiveError(BadLength) before any allocation.
    [[nodiscard]] static std::optional<FrameData> read(CArchive& archive);
};

}  // namespace chatterly
