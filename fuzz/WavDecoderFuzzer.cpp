// The playback decoder over a received image (an exactly sized heap copy of
// the input, so AddressSanitizer sees any read past it), into a sink that
// discards the samples: the sink must be opened before it is written and
// finished once, take whole interleaved frames, and never get more playing
// time than the decoder lets an image of that length claim; an image played
// gave at least one frame.
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "audio/SoundSink.h"
#include "audio/WavDecoder.h"

namespace chatterly::fuzz {
namespace {

class CountingSink : public SoundSink {
  public:
    bool open(uint32_t rate, uint8_t channels) override {
        require(state_ == State::New, "a sink is opened once, first");
        require(rate > 0 && channels > 0, "a sink is opened for a sound with samples");
        state_ = State::Open;
        rate_ = rate;
        channels_ = channels;
        return true;
    }

    bool write(const int16_t* samples, size_t count) override {
        require(state_ == State::Open, "a sink is written only while open");
        require(count > 0 && count % channels_ == 0, "a sink takes whole frames");
        for (size_t i = 0; i < count; ++i) {
            checksum_ += static_cast<uint16_t>(samples[i]);  // every sample is read
        }
        samples_ += count;
        return true;
    }

    bool finish(bool) override {
        require(state_ == State::Open, "a sink is finished once, after opening");
        state_ = State::Finished;
        return true;
    }

    bool finished() const { return state_ == State::Finished; }
    uint32_t rate() const { return rate_; }
    uint64_t frames() const { return channels_ ? samples_ / channels_ : 0; }

  private:
    enum class State { New, Open, Finished };
    State state_ = State::New;
    uint32_t rate_ = 0;
    uint8_t channels_ = 0;
    uint64_t samples_ = 0;
    uint64_t checksum_ = 0;
};

}  // namespace
}  // namespace chatterly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace chatterly;
    using namespace chatterly::fuzz;
    const std::unique_ptr<uint8_t[]> image(new uint8_t[size]);
    if (size > 0) {
        std::memcpy(image.get(), data, size);
    }
    CountingSink sink;
    const bool played = WavDecoder::decode(image.get(), size, sink);
    require(!played || sink.frames() > 0, "an image that decodes to no frame is not played");
    require(!played || sink.finished(), "a played image finishes its sink");
    if (sink.frames() > 0) {
        const double seconds = static_cast<double>(sink.frames()) / sink.rate();
        const double longest = (static_cast<double>(size) + WavDecoder::kSlackBytes) /
                               WavDecoder::kLeastBytesPerSecond;
        require(seconds <= longest + 1e-9, "an image plays no longer than its bytes can carry");
    }
    return 0;
}
