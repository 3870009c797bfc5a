#include "audio/VoiceCleanup.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>

namespace chatterly {
namespace {

constexpr double kHighPassHz = 80.0;
// A frame is voice only this far above the quietest frames...
constexpr double kAboveFloorDb = 6.0;
// ...and above this level of the filtered input, under any speech.
constexpr double kLeastVoiceDb = -55.0;
// How fast the floor follows a noise that grows: per frame.
constexpr double kFloorRiseDb = 0.05;

// What each level asks of the preprocessor.
struct Tuning {
    int suppressDb;  // the most noise is brought down (negative)
    int maxGainDb;   // the most the gain control lifts a quiet voice
    float agcLevel;  // the speech level it aims at (RMS in sample units)
};

Tuning tuning(VoiceCleanup::Level level) {
    return level == VoiceCleanup::Level::Strong ? Tuning{-40, 30, 24000.0F}
                                                : Tuning{-25, 20, 24000.0F};
}

double rmsDb(const int16_t* samples, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    const double rms = std::sqrt(sum / static_cast<double>(std::max<size_t>(count, 1)));
    return rms > 0.0 ? 20.0 * std::log10(rms / 32768.0) : -120.0;
}

}  // namespace

VoiceCleanup::VoiceCleanup(Level level)
    : highPass_(kHighPassHz, kRate),
      state_(speex_preprocess_state_init(static_cast<int>(kFrameSamples), kRate)),
      frame_(kFrameSamples) {
    const Tuning t = tuning(level);
    int on = 1;
    int suppress = t.suppressDb;
    int maxGain = t.maxGainDb;
    float agcLevel = t.agcLevel;
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppress);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_AGC, &on);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_AGC_LEVEL, &agcLevel);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_AGC_MAX_GAIN, &maxGain);
    // The voice detection is read as the preprocessor's speech probability
    // (SET_VAD would print a warning on stderr at every recording), with the
    // same start and continue thresholds its detector uses.
}

VoiceCleanup::~VoiceCleanup() {
    speex_preprocess_state_destroy(state_);
}

void VoiceCleanup::process(const int16_t* samples, size_t count, std::vector<int16_t>& out) {
    while (count > 0) {
        const size_t take = std::min(count, kFrameSamples - filled_);
        std::copy_n(samples, take, frame_.begin() + static_cast<std::ptrdiff_t>(filled_));
        filled_ += take;
        samples += take;
        count -= take;
        if (filled_ == kFrameSamples) {
            cleanFrame(kFrameSamples, out);
        }
    }
}

void VoiceCleanup::finish(std::vector<int16_t>& out) {
    if (filled_ > 0) {
        std::fill(frame_.begin() + static_cast<std::ptrdiff_t>(filled_), frame_.end(), 0);
        cleanFrame(filled_, out);
    }
}

void VoiceCleanup::cleanFrame(size_t samples, std::vector<int16_t>& out) {
    highPass_.process(frame_.data(), samples);
    const double level = rmsDb(frame_.data(), samples);
    floorDb_ = started_ ? std::min(level, floorDb_ + kFloorRiseDb) : level;
    started_ = true;
    speex_preprocess_run(state_, frame_.data());
    int probability = 0;  // percent
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_GET_PROB, &probability);
    const bool speech =
        probability > kSpeechStartPercent || (wasSpeech_ && probability > kSpeechGoesOnPercent);
    wasSpeech_ = speech;
    if (speech && level > std::max(floorDb_ + kAboveFloorDb, kLeastVoiceDb)) {
        const Span frame{given_, given_ + samples};
        voice_ = voice_ ? Span{voice_->begin, frame.end} : frame;
    }
    out.insert(out.end(), frame_.begin(), frame_.begin() + static_cast<std::ptrdiff_t>(samples));
    given_ += samples;
    filled_ = 0;
}

std::optional<VoiceCleanup::Span> VoiceCleanup::kept(std::optional<Span> voice, uint64_t length) {
    if (!voice || voice->begin >= length) {
        return std::nullopt;
    }
    return Span{voice->begin - std::min(voice->begin, kMarginSamples),
                std::min(voice->end + kMarginSamples, length)};
}

}  // namespace chatterly
