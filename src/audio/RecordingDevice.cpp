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
        cut(0);
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
    cut(std::min(fromSample, samples_.length()));
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
    std::unique_ptr<VoiceCleanup> cleanup = makeCleanup();
    std::unique_lock data(dataMutex_);
    cleaned_ = cleaned_ || cleanup;
    reading_ = false;
    ending_ = Ending::None;
    captureStart_.reset();
    capturedThisRun_ = 0;
    try {
        capture_ =
            std::thread(&RecordingDevice::captureLoop, this, std::move(input), std::move(cleanup));
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
    VoiceCleanup::Span kept{0, samples_.length()};
    if (cleaned_) {
        const auto voice = VoiceCleanup::kept(voice_, samples_.length());
        if (!voice) {
            image.clear();
            return Status::NoVoice;
        }
        kept = *voice;
    }
    return WavEncoder::encode(kSampleRate, samples_.blocks(), image, kept.begin,
                              kept.end - kept.begin)
               ? Status::Ok
               : Status::SaveFailed;
}

void RecordingDevice::setCleanUp(VoiceCleanup::Level level) {
    std::lock_guard command(commandMutex_);
    cleanUp_ = level;
}

RecordingDevice::Status RecordingDevice::close() {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::Now);
    std::lock_guard data(dataMutex_);
    cut(0);
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
    std::unique_ptr<VoiceCleanup> cleanup = makeCleanup();
    std::vector<int16_t> kept;
    if (cleanup) {
        cleanup->process(samples, count, kept);
        cleanup->finish(kept);
    } else {
        kept.assign(samples, samples + count);
    }
    std::lock_guard data(dataMutex_);
    cleaned_ = cleaned_ || cleanup;
    store(kept, cleanup.get(), samples_.length());
    return Status::Ok;
}

std::unique_ptr<VoiceCleanup> RecordingDevice::makeCleanup() {
    return cleanUp_ == VoiceCleanup::Level::Off ? nullptr
                                                : std::make_unique<VoiceCleanup>(cleanUp_);
}

bool RecordingDevice::store(const std::vector<int16_t>& samples, const VoiceCleanup* cleanup,
                            uint64_t runStart) {
    const bool room = samples_.append(samples.data(), samples.size());
    if (const auto heard = cleanup ? cleanup->voice() : std::nullopt) {
        const VoiceCleanup::Span run{runStart + heard->begin, runStart + heard->end};
        voice_ = voice_ ? VoiceCleanup::Span{std::min(voice_->begin, run.begin),
                                             std::max(voice_->end, run.end)}
                        : run;
    }
    return room;
}

void RecordingDevice::cut(uint64_t length) {
    samples_.truncate(length);
    if (voice_ && voice_->begin >= length) {
        voice_.reset();
    } else if (voice_) {
        voice_->end = std::min(voice_->end, length);
    }
    cleaned_ = cleaned_ && length > 0;
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

void RecordingDevice::captureLoop(std::unique_ptr<PulseInput> input,
                                  std::unique_ptr<VoiceCleanup> cleanup) {
    std::vector<int16_t> chunk(kChunkSamples);
    std::vector<int16_t> cleaned;  // what the clean-up gave for the chunk
    uint64_t runStart = 0;         // where this capture's samples begin
    {
        std::lock_guard data(dataMutex_);
        reading_ = true;
        runStart = samples_.length();
    }
    started_.notify_all();
    for (;;) {
        const bool read = input->read(chunk.data(), chunk.size());
        if (read) {
            level_.feed(chunk.data(), chunk.size());
        } else {
            chunk.clear();  // nothing came; what the clean-up holds is still kept
        }
        const auto now = Clock::now();
        // When the sample after this chunk was heard: the chunk's sound
        // is the latency plus its own length old.
        const auto heard = now - input->latency().value_or(microseconds(0));
        // The clean-up runs outside the lock: commands never wait on it.
        if (cleanup) {
            cleaned.clear();
            cleanup->process(chunk.data(), chunk.size(), cleaned);
        }
        std::lock_guard data(dataMutex_);
        if (ending_ == Ending::Now) {
            break;
        }
        bool done = !read;  // the server went away: keep what arrived
        if (read && !captureStart_) {
            captureStart_ = heard - samplesToTime(chunk.size());
        }
        uint64_t beyondStop = 0;  // samples heard after the stop moment
        if (read && ending_ == Ending::AtStopMoment) {
            if (heard >= stopAt_) {
                beyondStop = timeToSamples(heard - stopAt_ - kStopMargin);
                done = true;
            } else if (now - stopAt_ > kCatchUpLimit) {
                done = true;
            }
        }
        if (done && cleanup) {
            cleanup->finish(cleaned);  // the frame begun, so the cut below counts whole samples
        }
        const uint64_t before = samples_.length();
        const bool full = !store(cleanup ? cleaned : chunk, cleanup.get(), runStart);
        capturedThisRun_ += samples_.length() - before;
        if (beyondStop > 0) {
            const uint64_t cutBack = std::min(beyondStop, capturedThisRun_);
            cut(samples_.length() - std::min(cutBack, samples_.length()));
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
