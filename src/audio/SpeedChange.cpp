#include "audio/SpeedChange.h"

#include <sonic.h>

#include <algorithm>

namespace chatterly {
namespace {

// Frames handed to sonic at a time: its counts are ints.
constexpr size_t kFramesAtOnce = 1 << 16;

}  // namespace

SpeedChange::SpeedChange(SoundSink& inner, double speed) : inner_(inner), speed_(speed) {}

SpeedChange::~SpeedChange() {
    if (stream_) {
        sonicDestroyStream(stream_);
    }
}

bool SpeedChange::open(uint32_t rate, uint8_t channels) {
    if (!inner_.open(rate, channels)) {
        return false;
    }
    if (speed_ == 1.0) {
        return true;
    }
    channels_ = channels;
    stream_ = sonicCreateStream(static_cast<int>(rate), channels);
    if (!stream_) {
        return false;
    }
    sonicSetSpeed(stream_, static_cast<float>(speed_));
    return true;
}

bool SpeedChange::write(const int16_t* samples, size_t count) {
    if (!stream_) {
        return inner_.write(samples, count);
    }
    // sonic reads the samples but takes them through a pointer to non-const.
    auto* frames = const_cast<int16_t*>(samples);
    for (size_t left = count / channels_; left > 0;) {
        const size_t now = std::min(left, kFramesAtOnce);
        if (!sonicWriteShortToStream(stream_, frames, static_cast<int>(now)) || !pass()) {
            return false;
        }
        frames += now * channels_;
        left -= now;
    }
    return true;
}

bool SpeedChange::finish(bool stopped) {
    if (stream_ && !stopped && (!sonicFlushStream(stream_) || !pass())) {
        return false;
    }
    return inner_.finish(stopped);
}

bool SpeedChange::pass() {
    while (const int ready = sonicSamplesAvailable(stream_)) {
        converted_.resize(static_cast<size_t>(ready) * channels_);
        const int got = sonicReadShortFromStream(stream_, converted_.data(), ready);
        if (got <= 0) {
            break;
        }
        if (!inner_.write(converted_.data(), static_cast<size_t>(got) * channels_)) {
            return false;
        }
    }
    return true;
}

}  // namespace chatterly
