#pragma once
// A playback stream to the default PulseAudio sink, through the simple API:
// 16-bit samples at the sound's own rate and channel count (the server
// converts), with a low-latency buffer so that a short message is heard at
// once rather than after the server's default two seconds.

#include <cstddef>
#include <cstdint>

#include "audio/SoundSink.h"

struct pa_simple;

namespace chatterly {

class PulseOutput : public SoundSink {
  public:
    // streamName: what the server's stream list calls the sound.
    explicit PulseOutput(const char* streamName) : streamName_(streamName) {}
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    // Connects to the server; false when no server or sink can be reached.
    bool open(uint32_t rate, uint8_t channels) override;
    // Writes interleaved samples, blocking while the server's buffer is full.
    bool write(const int16_t* samples, size_t count) override;
    // Returns once everything written has been played; stopped: drops what
    // the server still holds instead.
    bool finish(bool stopped) override;

  private:
    const char* streamName_;
    pa_simple* stream_ = nullptr;
};

}  // namespace chatterly
