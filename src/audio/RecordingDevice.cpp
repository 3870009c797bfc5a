#include "audio/RecordingDevice.h"

#include <algorithm>
#include <atomic>
#include <system_error>

#include "audio/PulseInput.h"
#include "audio/WavEncoder.h"

namespace chatterly {
namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr size_t kChunkSamples = RecordingDevice::kSampleRate / 100;  // 10 ms per read
// How long past the stop moment the capture waits for the server to deliver
// the sound up to it, in case the latency it reports never gets there.
constexpr auto kCatchUpLimit = std::chrono::seconds(1);
// Sound kept past the stop moment: the tail of the last syllable, and slack
// for a latency the server reports a little short.
constexpr auto kStopMargin = std::chrono::milliseconds(20);

std::atomic<uint32_t> lastDeviceId{0};

microseconds samplesToTime(uint64_t samples) {
    return microseconds(static_cast<int64_t>(samples * 1000000 / RecordingDevice::kSampleRate));
}

uint64_t timeToSamples(RecordingDevice::Clock::duration d) {
    const auto us = duration_cast<microseconds>(d).count();
    return us <= 0 ? 0 : static_cast<uint64_t>(us) * RecordingDevice::kSampleRate / 1000000;
}

}  // namespace

RecordingDevice::RecordingDevice() : RecordingDevice(Options{}) {}

RecordingDevice::RecordingDevice(Options options)
    : options_(std::move(options)),
      samples_(kSampleRate, static_cast<uint64_t>(std::max<int64_t>(options_.limit.count(), 0)) *
                                kSampleRate / 1000) {}

RecordingDevice::~RecordingDevice() {
    std::lock_guard command(commandMutex_);
    endCapture(Ending::Now);
}

RecordingDevice::Status RecordingDevice::open() {
    std::lock_guard command(commandMutex_);
    if (open_) {
        return Status::AlreadyOpen;
    }
    PulseInput probe;
    if (!probe.open(options_.server, options_.source, kSampleRate, "recorder check")) {
        return Status::NoSoundServer;
    }
    probe.close();
    {
        std::lock_guard data(dataMutex_);
        samples_.truncate(0);
        captureStart_.reset();
    }
    open_ = true;
    id_ = ++lastDeviceId;
    return Status::Ok;
}

RecordingDevice::Status RecordingDevice::clear(uint64_t fromSample) {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::Now);
    std::lock_guard data(dataMutex_);
    samples_.truncate(std::min(fromSample, samples_.length()));
    return Status::Ok;
}

RecordingDevice::Status RecordingDevice::record() {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::Now);
    auto input = std::make_unique<PulseInput>();
    if (!input->open(options_.server, options_.source, kSampleRate, "voice recording")) {
        return Status::CaptureFailed;
    }
    std::unique_lock data(dataMutex_);
    reading_ = false;
    ending_ = Ending::None;
    captureStart_.reset();
    capturedThisRun_ = 0;
    try {
        capture_ = std::thread(&RecordingDevice::captureLoop, this, std::move(input));
    } catch (const std::system_error&) {
        return Status::CaptureFailed;  // no thread to capture on
    }
    started_.wait(data, [this] { return reading_; });
    return Status::Ok;
}

RecordingDevice::Status RecordingDevice::stop() {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::AtStopMoment);
    return Status::Ok;
}

RecordingDevice::Status RecordingDevice::save(std::vector<uint8_t>& image) {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    std::lock_guard data(dataMutex_);
    return WavEncoder::encode(kSampleRate, samples_.blocks(), image) ? Status::Ok
                                                                     : Status::SaveFailed;
}

RecordingDevice::Status RecordingDevice::close() {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::Now);
    std::lock_guard data(dataMutex_);
    samples_.release();
    open_ = false;
    return Status::Ok;
}

bool RecordingDevice::isOpen() const {
    std::lock_guard command(commandMutex_);
    return open_;
}

bool RecordingDevice::isRecording() const {
    std::lock_guard command(commandMutex_);
    return capture_.joinable();
}

uint32_t RecordingDevice::id() const {
    std::lock_guard command(commandMutex_);
    return id_;
}

uint64_t RecordingDevice::length() const {
    std::lock_guard data(dataMutex_);
    return samples_.length();
}

std::optional<RecordingDevice::Clock::time_point> RecordingDevice::captureStart() const {
    std::lock_guard data(dataMutex_);
    return captureStart_;
}

RecordingDevice::Status RecordingDevice::appendSamples(const int16_t* samples, size_t count) {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    std::lock_guard data(dataMutex_);
    samples_.append(samples, count);
    return Status::Ok;
}

void RecordingDevice::endCapture(Ending how) {
    if (!capture_.joinable()) {
        return;
    }
    {
        std::lock_guard data(dataMutex_);
        ending_ = how;
        stopAt_ = Clock::now();
    }
    capture_.join();
}

void RecordingDevice::captureLoop(std::unique_ptr<PulseInput> input) {
    std::vector<int16_t> chunk(kChunkSamples);
    {
        std::lock_guard data(dataMutex_);
        reading_ = true;
    }
    started_.notify_all();
    for (;;) {
        if (!input->read(chunk.data(), chunk.size())) {
            break;  // the server went away: keep what arrived
        }
        level_.feed(chunk.data(), chunk.size());
        const auto now = Clock::now();
        // When the sample after this chunk was heard: the chunk's sound
        // is the latency plus its own length old.
        const auto heard = now - input->latency().value_or(microseconds(0));
        std::lock_guard data(dataMutex_);
        if (ending_ == Ending::Now) {
            break;
        }
        if (!captureStart_) {
            captureStart_ = heard - samplesToTime(chunk.size());
        }
        bool done = false;
        uint64_t beyondStop = 0;  // samples heard after the stop moment
        if (ending_ == Ending::AtStopMoment) {
            if (heard >= stopAt_) {
                beyondStop = timeToSamples(heard - stopAt_ - kStopMargin);
                done = true;
            } else if (now - stopAt_ > kCatchUpLimit) {
                done = true;
            }
        }
        const uint64_t before = samples_.length();
        const bool full = !samples_.append(chunk.data(), chunk.size());
        capturedThisRun_ += samples_.length() - before;
        if (beyondStop > 0) {
            const uint64_t cut = std::min(beyondStop, capturedThisRun_);
            samples_.truncate(samples_.length() - std::min(cut, samples_.length()));
        }
        if (done || full) {
            break;
        }
    }
    // The stream is let go here, on the capture thread, so that the
    // microphone is released also when the limit ended the capture.
    input->close();
}

}  // namespace chatterly
