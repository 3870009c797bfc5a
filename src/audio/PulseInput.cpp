#include "audio/PulseInput.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace chatterly {

PulseInput::~PulseInput() {
    close();
}

bool PulseInput::open(const std::string& server, const std::string& source, uint32_t rate,
                      const char* streamName) {
    close();
    if (rate == 0 || rate > PA_RATE_MAX) {
        return false;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = static_cast<uint32_t>(-1);
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = static_cast<uint32_t>(-1);
    buffer.fragsize = rate * 2 / 50;  // 20 ms
    int error = 0;
    stream_ = pa_simple_new(server.empty() ? nullptr : server.c_str(), "Chatterly",
                            PA_STREAM_RECORD, source.empty() ? nullptr : source.c_str(), streamName,
                            &format, nullptr, &buffer, &error);
    return stream_ != nullptr;
}

bool PulseInput::read(int16_t* samples, size_t count) {
    int error = 0;
    return stream_ && pa_simple_read(stream_, samples, count * sizeof(int16_t), &error) == 0;
}

std::optional<std::chrono::microseconds> PulseInput::latency() {
    if (!stream_) {
        return std::nullopt;
    }
    int error = 0;
    const pa_usec_t usec = pa_simple_get_latency(stream_, &error);
    if (usec == static_cast<pa_usec_t>(-1)) {
        return std::nullopt;
    }
    return std::chrono::microseconds(static_cast<int64_t>(usec));
}

void PulseInput::close() {
    if (stream_) {
        pa_simple_free(stream_);
        stream_ = nullptr;
    }
}

}  // namespace chatterly
