// The voice message frame reader over a loading archive of a fuzzed buffer
// size, over a stream whose receives are cut to fuzzed sizes, into one
// receive buffer kept across the frames as a call keeps it. Frames are read
// until none comes; each must be the frame the bytes announce, whole, in the
// call's buffer.
//
// The reader allocates a frame's whole Data before receiving it; under the
// fuzzer's instrumentation a Length near the bound then takes seconds, so the
// run ends at a frame that announces more than 1 MiB and is cut off (smaller
// cut-off frames take the same path).
//
// Input: u16 LE buffer code (the archive's buffer holds 1 + code % 8192
// bytes), u8 n, n receive codes (a receive returns at most that many bytes, 0:
// as many as asked; the codes repeat), then the bytes the stream delivers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <span>

#include "FuzzCheck.h"
#include "framework/streams/ArchiveError.h"
#include "framework/streams/ByteStream.h"
#include "framework/streams/CArchive.h"
#include "net/FrameBuffer.h"
#include "net/VoiceMessageFrame.h"

namespace chatterly::fuzz {
namespace {

constexpr uint32_t kLongestCutOff = 1u << 20;

class ScriptedStream : public ByteStream {
  public:
    ScriptedStream(std::span<const uint8_t> bytes, std::span<const uint8_t> receives)
        : bytes_(bytes), receives_(receives) {}

    void write(const void*, size_t) override { require(false, "a loading archive never sends"); }

    size_t read(void* data, size_t n) override {
        require(n > 0, "a receive asks for at least one byte");
        size_t r = std::min(n, bytes_.size() - pos_);
        if (!receives_.empty()) {
            const uint8_t code = receives_[next_++ % receives_.size()];
            if (code != 0) {
                r = std::min<size_t>(r, code);
            }
        }
        std::memcpy(data, bytes_.data() + pos_, r);
        pos_ += r;
        return r;
    }

  private:
    std::span<const uint8_t> bytes_;
    std::span<const uint8_t> receives_;
    size_t pos_ = 0;
    size_t next_ = 0;
};

uint32_t u32At(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

}  // namespace
}  // namespace chatterly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace chatterly;
    using namespace chatterly::fuzz;
    if (size < 3) {
        return 0;
    }
    const std::span<const uint8_t> input(data, size);
    const size_t bufferSize = 1 + (input[0] | (input[1] << 8)) % 8192;
    const size_t receiveCount = std::min<size_t>(input[2], size - 3);
    const auto receives = input.subspan(3, receiveCount);
    const auto bytes = input.subspan(3 + receiveCount);

    ScriptedStream stream(bytes, receives);
    CArchive archive(stream, CArchive::Mode::Load, bufferSize);
    FrameBuffer received;
    size_t at = 0;  // where the next frame starts in bytes
    for (;;) {
        const bool headerWhole = bytes.size() - at >= 8;
        const uint32_t length = headerWhole ? u32At(bytes, at + 4) : 0;
        const bool frameWhole = headerWhole && bytes.size() - at - 8 >= length;
        if (headerWhole && !frameWhole && length > kLongestCutOff && length <= kMaxFrameLength) {
            return 0;
        }
        std::span<const uint8_t> frame;
        try {
            frame = VoiceMessageFrame::read(archive, received);
        } catch (const ArchiveError& e) {
            if (e.cause() == ArchiveError::Cause::EndOfFile) {
                require(!frameWhole, "a whole frame is returned");
                return 0;
            }
            require(e.cause() == ArchiveError::Cause::BadLength && headerWhole &&
                        length > kMaxFrameLength,
                    "only a Length above the bound is refused, and only the stream's end ends it");
            return 0;
        } catch (const FrameworkError&) {
            return 0;
        } catch (const std::bad_alloc&) {
            return 0;
        }
        require(!headerWhole || length <= kMaxFrameLength, "a Length above the bound is refused");
        require(frameWhole, "a frame is returned only when it is whole");
        require(frame.size() == length, "a frame has its announced length");
        require(frame.data() == received.data() && frame.size() <= received.capacity(),
                "a frame lies in the call's buffer");
        require(std::equal(frame.begin(), frame.end(), bytes.begin() + at + 8),
                "a frame holds the bytes sent");
        received.done(frame.size());
        at += 8 + length;
    }
}
