#pragma once
// A message played faster with its pitch kept: a sink that changes the speed
// of the sound written through it (libsonic's time stretching) and hands the
// result to another sink. At 1× nothing is converted: the samples pass
// unchanged and sonic is never created. Owned by the one playing it, on its
// thread.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/SoundSink.h"

struct sonicStreamStruct;

namespace chatterly {

class SpeedChange : public SoundSink {
  public:
    // speed: how many times faster than recorded (1: as recorded).
    SpeedChange(SoundSink& inner, double speed);
    ~SpeedChange() override;
    SpeedChange(const SpeedChange&) = delete;
    SpeedChange& operator=(const SpeedChange&) = delete;

    bool open(uint32_t rate, uint8_t channels) override;
    bool write(const int16_t* samples, size_t count) override;
    // To the end: what sonic still holds is played first. Stopped: dropped.
    bool finish(bool stopped) override;

  private:
    // Hands what sonic has converted so far to the inner sink.
    bool pass();

    SoundSink& inner_;
    double speed_;
    sonicStreamStruct* stream_ = nullptr;
    uint8_t channels_ = 1;
    std::vector<int16_t> converted_;
};

}  // namespace chatterly
