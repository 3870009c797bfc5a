#pragma once
// A record stream from a PulseAudio source through the simple API: 16-bit
// mono samples at a given rate. It asks for 20 ms fragments, so that what is
// said reaches the reader a few tens of milliseconds later rather than in
// the server's default blocks of up to two seconds.
//
// One thread at a time may use a stream; the recording device gives each
// stream to its capture thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct pa_simple;

namespace chatterly {

class PulseInput {
  public:
    PulseInput() = default;
    ~PulseInput();
    PulseInput(const PulseInput&) = delete;
    PulseInput& operator=(const PulseInput&) = delete;

    // Connects to server (empty: the default one, PULSE_SERVER included) and
    // source (empty: the default source). When it returns true the stream is
    // recording; false when no server or no such source can be reached.
    bool open(const std::string& server, const std::string& source, uint32_t rate,
              const char* streamName);

    // Blocks until count samples have been captured and copies them out.
    // False when the stream has failed (for instance, the server went away).
    bool read(int16_t* samples, size_t count);

    // How long ago the sample following the last one read was captured: the
    // source's latency plus what waits in the buffers. nullopt when the
    // server cannot tell.
    std::optional<std::chrono::microseconds> latency();

    void close();
    bool isOpen() const { return stream_ != nullptr; }

  private:
    pa_simple* stream_ = nullptr;
};

}  // namespace chatterly
