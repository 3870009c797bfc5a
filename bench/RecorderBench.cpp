// The voice recorder against the sound server: how long a release takes to
// put the recording on the wire (stop, save, load, frame write, as the
// calling end does it) for recordings of 1 s, 10 s and 60 s, and how much
// of what follows a press is missed before the first sample is captured;
// and what measuring the microphone's level adds to the capture thread.
// Needs a sound server: run it under tools/with-sound-server.sh. The 60 s
// recording is 59 s put into the device beforehand and 1 s recorded, unless
// --live is given.

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchReport.h"
#include "audio/InputLevel.h"
#include "audio/VoiceRecorder.h"
#include "framework/streams/CArchive.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "framework/streams/FrameworkError.h"
#include "framework/widgets/MessageBox.h"
#include "net/VoiceMessageFrame.h"

using namespace chatterly;
using Clock = std::chrono::steady_clock;

namespace {

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The far end of a socket pair: reads frames on a thread and notes when
// each one has arrived whole.
class Receiver {
  public:
    Receiver() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            std::perror("socketpair");
            std::exit(1);
        }
        near_ = fds[0];
        far_ = fds[1];
        thread_ = std::thread([this] {
            FileStream in(far_);
            CArchive archive(in, CArchive::Mode::Load);
            FrameBuffer call;
            try {
                for (;;) {
                    const size_t size = VoiceMessageFrame::read(archive, call).size();
                    const auto at = Clock::now();
                    call.done(size);
                    std::lock_guard lock(mutex_);
                    arrivals_.push_back(at);
                    sizes_.push_back(size);
                }
            } catch (const FrameworkError&) {
                // The near end is shut: no more frames.
            }
        });
    }
    ~Receiver() {
        ::shutdown(near_, SHUT_WR);
        thread_.join();
        ::close(near_);
        ::close(far_);
    }
    int nearFd() const { return near_; }
    // Waits for frame number i (from 0) and returns when it arrived.
    Clock::time_point arrival(size_t i, size_t& size) {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (arrivals_.size() > i) {
                    size = sizes_[i];
                    return arrivals_[i];
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

  private:
    int near_ = -1;
    int far_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Clock::time_point> arrivals_;
    std::vector<size_t> sizes_;
};

std::vector<int16_t> tone(double seconds) {
    const auto n = static_cast<size_t>(seconds * RecordingDevice::kSampleRate);
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) {
        samples[i] = static_cast<int16_t>(
            8000 * std::sin(2 * M_PI * 440.0 * i / RecordingDevice::kSampleRate));
    }
    return samples;
}

void releaseToWire(VoiceRecorder& recorder, double seconds, bool live) {
    Receiver receiver;
    FileStream out(receiver.nearFd());
    CArchive archive(out, CArchive::Mode::Store);
    // Recordings of a minute or more are mostly put in beforehand.
    const double recorded = live || seconds < 60 ? seconds : 1.0;
    if (!recorder.StartRecording()) {
        std::exit(1);
    }
    if (recorded < seconds) {
        // The rest goes in before the live part, as though it had been said.
        RecordingDevice& device = recorder.device();
        device.clear(0);
        const auto before = tone(seconds - recorded);
        device.appendSamples(before.data(), before.size());
        if (device.record() != RecordingDevice::Status::Ok) {
            std::exit(1);
        }
    }
    const auto pressed = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(recorded));

    const auto released = Clock::now();
    if (!recorder.StopAndSaveRecording()) {
        std::exit(1);
    }
    const auto saved = Clock::now();
    auto recording = recorder.LoadRecording();
    if (!recording) {
        std::exit(1);
    }
    const auto loaded = Clock::now();
    VoiceMessageFrame::write(archive, recording->data(), static_cast<uint32_t>(recording->size()));
    const auto sent = Clock::now();
    size_t size = 0;
    const auto arrived = receiver.arrival(0, size);

    const double length =
        static_cast<double>(recorder.device().length()) / RecordingDevice::kSampleRate;
    const double held = std::chrono::duration<double>(released - pressed).count();
    std::printf(
        "%4.0f s recording (%8zu bytes, %4.0f s put in beforehand): release -> last byte "
        "sent %6.1f ms [stop+save %5.1f, load %4.1f, frame write %5.1f], received %6.1f ms; "
        "live part %.3f s long for %.3f s held\n",
        seconds, size, seconds - recorded, msBetween(released, sent), msBetween(released, saved),
        msBetween(saved, loaded), msBetween(loaded, sent), msBetween(released, arrived),
        length - (seconds - recorded), held);
}

void pressToFirstSample(VoiceRecorder& recorder, int presses) {
    std::vector<double> gaps, returns;
    for (int i = 0; i < presses; ++i) {
        const auto pressed = Clock::now();
        if (!recorder.StartRecording()) {
            std::exit(1);
        }
        const auto returned = Clock::now();
        std::optional<Clock::time_point> first;
        while (!(first = recorder.device().captureStart())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        gaps.push_back(msBetween(pressed, *first));
        returns.push_back(msBetween(pressed, returned));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        recorder.device().stop();
    }
    std::sort(gaps.begin(), gaps.end());
    std::sort(returns.begin(), returns.end());
    const auto n = gaps.size();
    std::printf(
        "press -> first captured sample over %zu presses: min %.1f ms, median %.1f ms, max %.1f "
        "ms (StartRecording returns after: median %.1f ms, max %.1f ms)\n",
        n, gaps.front(), gaps[n / 2], gaps.back(), returns[n / 2], returns.back());
    report(bench::Figure{
        "press to first captured sample (median)", gaps[n / 2], "ms", {}, bench::Goal::AtMost, 50});
}

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The level's share of one core on the capture thread: an hour of sound fed
// in the capture's 10 ms chunks, as fast as it goes, while another thread
// takes readings 25 times a second, as the window does. The feeding thread's
// CPU time over the hour of sound it measured is the share recording adds.
void levelCost() {
    constexpr size_t kChunk = RecordingDevice::kSampleRate / 100;
    constexpr size_t kChunks = 3600 * 100;
    const auto sound = tone(1.0);
    InputLevel level;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            level.take();
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    const double before = threadCpuSeconds();
    for (size_t i = 0; i < kChunks; ++i) {
        level.feed(sound.data() + i % 100 * kChunk, kChunk);
    }
    const double cpu = threadCpuSeconds() - before;
    done = true;
    reader.join();
    const double share = cpu / 3600.0 * 100.0;
    std::printf(
        "level of an hour of sound in 10 ms chunks: %.3f s of the capture thread's CPU, %.4f %% "
        "of one core while recording\n",
        cpu, share);
    report(bench::Figure{
        "capture thread's added CPU share for the level", share, "%", {}, bench::Goal::AtMost, 1});
}

}  // namespace

int main(int argc, char** argv) {
    const bool live = argc > 1 && std::strcmp(argv[1], "--live") == 0;
    levelCost();
    MessageBox::setSeam([](const MessageBoxRecord& box) {
        std::fprintf(stderr, "message box: %s\n", box.text.c_str());
    });
    std::string dir = (std::filesystem::temp_directory_path() / "chatterly-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int status = 0;
    {
        VoiceRecorder recorder(nullptr);
        if (!recorder.OpenRecorder()) {
            std::fprintf(stderr, "no sound server: run under tools/with-sound-server.sh\n");
            status = 1;
        } else {
            pressToFirstSample(recorder, 10);
            for (const double seconds : {1.0, 10.0, 60.0}) {
                releaseToWire(recorder, seconds, live);
            }
            recorder.CloseRecorder();
        }
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    return status;
}
