#pragma once
// Whether a recording begins with no sound at all, as a muted or missing
// microphone gives: fed the level readings of one recording in order, it
// answers true once, when the first two seconds of samples have all stayed
// below -50 dBFS peak; a recording that gets louder within them never gets a
// true. begin() starts a new recording.

#include <cstdint>

#include "audio/InputLevel.h"

namespace chatterly {

class SilenceCheck {
  public:
    static constexpr double kQuietDb = -50.0;

    explicit SilenceCheck(uint32_t sampleRate) : span_(uint64_t{2} * sampleRate) {}

    void begin();
    // True once a recording: the reading that completes two quiet seconds.
    bool update(const InputLevel::Reading& reading);

  private:
    const uint64_t span_;  // two seconds of samples
    uint64_t heard_ = 0;   // samples of this recording so far
    bool decided_ = false;
};

}  // namespace chatterly
