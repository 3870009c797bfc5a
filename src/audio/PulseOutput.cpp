#include "audio/PulseOutput.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace chatterly {

PulseOutput::~PulseOutput() {
    if (stream_) {
        pa_simple_free(stream_);
    }
}

bool PulseOutput::open(uint32_t rate, uint8_t channels) {
    if (rate == 0 || channels == 0 || channels > PA_CHANNELS_MAX || rate > PA_RATE_MAX) {
        return false;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, channels};
    // About 50 ms of buffer: the server's default target is two seconds.
    const uint32_t bytes50ms = rate * channels * 2 / 20;
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = bytes50ms;
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    stream_ = pa_simple_new(nullptr, "Chatterly", PA_STREAM_PLAYBACK, nullptr, streamName_, &format,
                            nullptr, &buffer, &error);
    return stream_ != nullptr;
}

bool PulseOutput::write(const int16_t* samples, size_t count) {
    int error = 0;
    return stream_ && pa_simple_write(stream_, samples, count * sizeof(int16_t), &error) == 0;
}

bool PulseOutput::finish(bool stopped) {
    int error = 0;
    if (stopped) {
        return stream_ && pa_simple_flush(stream_, &error) == 0;
    }
    return stream_ && pa_simple_drain(stream_, &error) == 0;
}

}  // namespace chatterly
