#pragma once
// Where decoded sound goes: a playback stream (PulseOutput), or nothing at all
// (the decoder's fuzzing and tests).

#include <cstddef>
#include <cstdint>

namespace chatterly {

class SoundSink {
  public:
    virtual ~SoundSink() = default;
    // The sound's format, before its first samples; false when it cannot be
    // played.
    virtual bool open(uint32_t rate, uint8_t channels) = 0;
    // Interleaved 16-bit samples; false when the output failed.
    virtual bool write(const int16_t* samples, size_t count) = 0;
    // The end of the sound: played out, or (stopped) dropped at once.
    virtual bool finish(bool stopped) = 0;
};

}  // namespace chatterly
