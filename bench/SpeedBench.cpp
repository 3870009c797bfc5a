// A message played faster: a 60 s tone of 440 Hz played at 2× through the
// station's playback to the sound server, timed from its first samples to
// the end of the drain (30 s is its due), and its pitch as the sink's monitor
// heard it (zero crossings while it sounds; 440 Hz is its due). Needs
// a sound server whose default source is the sink's monitor: run it under
// tools/with-sound-server.sh. Usage: bench_speed

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchApp.h"
#include "BenchReport.h"
#include "audio/Playback.h"
#include "audio/PulseInput.h"
#include "audio/WavEncoder.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;

namespace {

constexpr uint32_t kRate = 22050;
constexpr double kSeconds = 60;
constexpr double kSpeed = 2;
constexpr double kTone = 440;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

// The sink's monitor, recorded on a thread of its own until finish().
class Monitor {
  public:
    Monitor() {
        if (!input_.open("", "", kRate, "bench monitor")) {
            die("no sound server to record the monitor from");
        }
        thread_ = std::thread([this] {
            std::vector<int16_t> chunk(kRate / 50);
            while (!stop_ && input_.read(chunk.data(), chunk.size())) {
                samples_.insert(samples_.end(), chunk.begin(), chunk.end());
            }
        });
    }
    const std::vector<int16_t>& finish() {
        stop_ = true;
        thread_.join();
        return samples_;
    }

  private:
    PulseInput input_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<int16_t> samples_;
};

// The tone's frequency: half its zero crossings a second, from its first
// loud sample to its last (the silence around it left out).
double toneHz(const std::vector<int16_t>& samples) {
    const auto loud = [](int16_t s) { return std::abs(s) > 1000; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    if (last - first < 2) {
        return 0.0;
    }
    size_t crossings = 0;
    for (auto s = first + 1; s < last; ++s) {
        crossings += (s[-1] < 0) != (s[0] < 0);
    }
    return static_cast<double>(crossings) * kRate / static_cast<double>(last - first) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);
    std::vector<int16_t> tone(static_cast<size_t>(kSeconds * kRate));
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * kTone * double(i) / kRate));
    }
    std::vector<uint8_t> image;
    if (!WavEncoder::encode(kRate, {tone}, image)) {
        die("the tone could not be encoded");
    }

    Monitor monitor;
    const auto outcome = Playback::playMessage(image.data(), image.size(), kSpeed);
    const auto ended = std::chrono::steady_clock::now();
    const std::vector<int16_t>& heard = monitor.finish();
    const auto started = Playback::lastMessageStart();
    if (outcome != Playback::Outcome::Played || !started) {
        die("the message did not play (no sound server?)");
    }
    const double playedS = std::chrono::duration<double>(ended - *started).count();
    const double hz = toneHz(heard);
    const double pitchOffPercent = std::abs(hz / kTone - 1) * 100;

    std::printf("A %g s tone of %g Hz at %g×: played in %.3f s (due %g s), heard at %.1f Hz\n",
                kSeconds, kTone, kSpeed, playedS, kSeconds / kSpeed, hz);
    bench::report(Figure{"speed 2x: 60 s message, time off 30 s",
                         std::abs(playedS - kSeconds / kSpeed),
                         "s",
                         {},
                         Goal::AtMost,
                         0.5});
    bench::report(
        Figure{"speed 2x: 60 s message, pitch off", pitchOffPercent, "%", {}, Goal::AtMost, 2});
    return 0;
}
