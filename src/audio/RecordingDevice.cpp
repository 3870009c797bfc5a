#include "audio/RecordingDevice.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>

#include "audio/PulseInput.h"

namespace chatterly {
namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr size_t kBlockSamples = RecordingDevice::kSampleRate;        // one second
constexpr size_t kChunkSamples = RecordingDevice::kSampleRate / 100;  // 10 ms per read
// How long past the stop moment the capture waits for the server to deliver
// the sound up to it, in case the latency it reports never gets there.
constexpr auto kCatchUpLimit = std::chrono::seconds(1);
// Sound kept past the stop moment: the tail of the last syllable, and slack
// for a latency the server reports a little short.
constexpr auto kStopMargin = std::chrono::milliseconds(20);

std::atomic<uint32_t> lastDeviceId{0};

// A libsndfile stream that writes a file's image into a byte vector.
struct MemoryFile {
    std::vector<uint8_t>& bytes;
    sf_count_t position = 0;

    static sf_count_t length(void* self) {
        return static_cast<sf_count_t>(static_cast<MemoryFile*>(self)->bytes.size());
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        auto* m = static_cast<MemoryFile*>(self);
        const sf_count_t base = whence == SEEK_CUR   ? m->position
                                : whence == SEEK_END ? length(self)
                                                     : 0;
        m->position = std::max<sf_count_t>(0, base + offset);
        return m->position;
    }
    static sf_count_t read(void* out, sf_count_t count, void* self) {
        auto* m = static_cast<MemoryFile*>(self);
        const sf_count_t n = std::clamp<sf_count_t>(length(self) - m->position, 0, count);
        if (n > 0) {
            std::memcpy(out, m->bytes.data() + m->position, static_cast<size_t>(n));
        }
        m->position += n;
        return n;
    }
    static sf_count_t write(const void* in, sf_count_t count, void* self) {
        auto* m = static_cast<MemoryFile*>(self);
        const auto end = static_cast<size_t>(m->position + count);
        if (end > m->bytes.size()) {
            m->bytes.resize(end);
        }
        std::memcpy(m->bytes.data() + m->position, in, static_cast<size_t>(count));
        m->position += count;
        return count;
    }
    static sf_count_t tell(void* self) { return static_cast<MemoryFile*>(self)->position; }
};

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
      limitSamples_(static_cast<uint64_t>(std::max<int64_t>(options_.limit.count(), 0)) *
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
        truncateLocked(0);
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
    truncateLocked(std::min(fromSample, length_));
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
    image.clear();
    // The header and every sample, so the image never grows by copying.
    image.reserve(static_cast<size_t>(4096 + length_ * sizeof(int16_t)));
    MemoryFile memory{image};
    SF_VIRTUAL_IO io{MemoryFile::length, MemoryFile::seek, MemoryFile::read, MemoryFile::write,
                     MemoryFile::tell};
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!file) {
        return Status::SaveFailed;
    }
    bool written = true;
    for (const auto& block : blocks_) {
        const auto n = static_cast<sf_count_t>(block.size());
        if (sf_write_short(file, block.data(), n) != n) {
            written = false;
            break;
        }
    }
    // sf_close writes the final sizes into the header.
    if (sf_close(file) != 0 || !written) {
        image.clear();
        return Status::SaveFailed;
    }
    return Status::Ok;
}

RecordingDevice::Status RecordingDevice::close() {
    std::lock_guard command(commandMutex_);
    if (!open_) {
        return Status::NotOpen;
    }
    endCapture(Ending::Now);
    std::lock_guard data(dataMutex_);
    truncateLocked(0);
    blocks_.shrink_to_fit();
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
    return length_;
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
    appendLocked(samples, count);
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
        const uint64_t before = length_;
        const bool full = !appendLocked(chunk.data(), chunk.size());
        capturedThisRun_ += length_ - before;
        if (beyondStop > 0) {
            const uint64_t cut = std::min(beyondStop, capturedThisRun_);
            truncateLocked(length_ - std::min(cut, length_));
        }
        if (done || full) {
            break;
        }
    }
    // The stream is let go here, on the capture thread, so that the
    // microphone is released also when the limit ended the capture.
    input->close();
}

bool RecordingDevice::appendLocked(const int16_t* samples, size_t count) {
    while (count > 0 && length_ < limitSamples_) {
        if (blocks_.empty() || blocks_.back().size() == kBlockSamples) {
            blocks_.emplace_back();
            blocks_.back().reserve(kBlockSamples);
        }
        auto& block = blocks_.back();
        const size_t n = static_cast<size_t>(
            std::min<uint64_t>({count, kBlockSamples - block.size(), limitSamples_ - length_}));
        block.insert(block.end(), samples, samples + n);
        samples += n;
        count -= n;
        length_ += n;
    }
    return length_ < limitSamples_;
}

void RecordingDevice::truncateLocked(uint64_t length) {
    if (length >= length_) {
        return;
    }
    const size_t keepBlocks = static_cast<size_t>((length + kBlockSamples - 1) / kBlockSamples);
    blocks_.resize(keepBlocks);
    if (!blocks_.empty()) {
        blocks_.back().resize(static_cast<size_t>(length - (keepBlocks - 1) * kBlockSamples));
    }
    length_ = length;
}

}  // namespace chatterly
