#include "audio/WavDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "audio/SoundFileMemory.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"

namespace chatterly {
namespace {

bool isFloat(const SF_INFO& info) {
    const int encoding = info.format & SF_FORMAT_SUBMASK;
    return encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
}

// A float sample as a 16-bit one: full scale 1.0, rounded, clipped; NaN is
// silence.
int16_t toSample16(float x) {
    const double scaled = std::round(static_cast<double>(x) * 32767.0);
    if (scaled >= 32767.0) {
        return 32767;
    }
    if (scaled <= -32768.0) {
        return -32768;
    }
    return std::isnan(scaled) ? 0 : static_cast<int16_t>(scaled);
}

// Decodes an opened sound into sink, no more than maxFrames frames of it. The
// sink is opened at the first frames. False when not one frame could be
// decoded or the sink failed; true when stopped() ended it.
bool decodeOpened(SNDFILE* sound, const SF_INFO& info, sf_count_t maxFrames, SoundSink& sink,
                  const std::function<bool()>& stopped) {
    if (info.channels <= 0 || info.channels > 32 || info.samplerate <= 0) {
        return false;
    }
    constexpr sf_count_t kFrames = 2048;
    const auto blockSamples = static_cast<size_t>(kFrames * info.channels);
    std::vector<int16_t> samples(blockSamples);
    // libsndfile hands float sound to sf_readf_short unscaled (as silence):
    // it is read as float and scaled here.
    std::vector<float> floats(isFloat(info) ? blockSamples : 0);
    sf_count_t written = 0;
    for (;;) {
        if (stopped && stopped()) {
            return written == 0 || sink.finish(true);
        }
        const sf_count_t want = std::min(kFrames, maxFrames - written);
        if (want <= 0) {
            break;
        }
        const sf_count_t got = floats.empty() ? sf_readf_short(sound, samples.data(), want)
                                              : sf_readf_float(sound, floats.data(), want);
        if (got <= 0) {
            break;
        }
        if (!floats.empty()) {
            std::transform(floats.begin(), floats.begin() + got * info.channels, samples.begin(),
                           toSample16);
        }
        if (written == 0 && !sink.open(static_cast<uint32_t>(info.samplerate),
                                       static_cast<uint8_t>(info.channels))) {
            return false;
        }
        if (!sink.write(samples.data(), static_cast<size_t>(got * info.channels))) {
            return false;
        }
        written += got;
    }
    return written > 0 && sink.finish(false);
}

// The most frames an image's bytes may carry at the sound's rate; a header
// that claims more is refused.
double allowedFrames(const SF_INFO& info, size_t length) {
    return info.samplerate > 0 ? (static_cast<double>(length) + WavDecoder::kSlackBytes) *
                                     info.samplerate / WavDecoder::kLeastBytesPerSecond
                               : 0.0;
}

}  // namespace

bool WavDecoder::isRiffWave(const void* image, size_t length) {
    const auto* bytes = static_cast<const char*>(image);
    return image && length >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 &&
           std::memcmp(bytes + 8, "WAVE", 4) == 0;
}

std::optional<int64_t> WavDecoder::playingMs(const void* image, size_t length) {
    if (!isRiffWave(image, length)) {
        return std::nullopt;
    }
    SoundFileMemory memory(image, length);
    SF_INFO info{};
    SNDFILE* sound = memory.open(info);
    if (!sound) {
        return std::nullopt;
    }
    sf_close(sound);
    if (info.frames <= 0 || info.channels <= 0 || info.channels > 32 || info.samplerate <= 0 ||
        static_cast<double>(info.frames) > allowedFrames(info, length)) {
        return std::nullopt;
    }
    return info.frames * 1000 / info.samplerate;
}

bool WavDecoder::decode(const void* image, size_t length, SoundSink& sink,
                        const std::function<bool()>& stopped) {
    if (!isRiffWave(image, length)) {
        return false;
    }
    SoundFileMemory memory(image, length);
    SF_INFO info{};
    SNDFILE* sound = memory.open(info);
    if (!sound) {
        return false;
    }
    const double allowed = allowedFrames(info, length);
    bool played = false;
    if (static_cast<double>(info.frames) <= allowed) {
        played = decodeOpened(sound, info, static_cast<sf_count_t>(allowed), sink, stopped);
    }
    sf_close(sound);
    return played;
}

bool WavDecoder::decodeFile(const std::string& fileName, SoundSink& sink) {
    std::optional<FileStream> file;
    try {
        file.emplace(fileName, FileStream::Mode::Read);
    } catch (const FileError&) {
        return false;
    }
    SF_INFO info{};
    SNDFILE* sound = sf_open_fd(file->descriptor(), SFM_READ, &info, SF_FALSE);
    if (!sound) {
        return false;
    }
    const bool played = decodeOpened(sound, info, SF_COUNT_MAX, sink, {});
    sf_close(sound);
    return played;
}

}  // namespace chatterly
