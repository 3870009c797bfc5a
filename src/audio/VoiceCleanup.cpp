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
// Frames under this are digital silence, not a room.
constexpr double kDigitalSilenceDb = -90.0;
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

// A preprocessor tuned for the level.
SpeexPreprocessState_* preprocessor(VoiceCleanup::Level level) {
    auto* state = speex_preprocess_state_init(static_cast<int>(VoiceCleanup::kFrameSamples),
                                              VoiceCleanup::kRate);
    const Tuning t = tuning(level);
    int on = 1;
    int suppress = t.suppressDb;
    int maxGain = t.maxGainDb;
    float agcLevel = t.agcLevel;
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppress);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_AGC, &on);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_AGC_LEVEL, &agcLevel);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_AGC_MAX_GAIN, &maxGain);
    // The voice detection is read as the preprocessor's speech probability
    // (SET_VAD would print a warning on stderr at every recording), with the
    // same start and continue thresholds its detector uses.
    return state;
}

}  // namespace

VoiceCleanup::VoiceCleanup(Level level)
    : highPass_(kHighPassHz, kRate),
      state_(preprocessor(level)),
      early_(preprocessor(level)),
      frame_(kFrameSamples),
      heldFrame_(kFrameSamples) {}

VoiceCleanup::~VoiceCleanup() {
    speex_preprocess_state_destroy(state_);
    if (early_) {
        speex_preprocess_state_destroy(early_);
    }
}

std::optional<VoiceCleanup::Span> VoiceCleanup::voice() const {
    return learning_ ? std::nullopt : voice_;
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
    if (learning_) {
        // Shorter than the learning: what the early cleaning gave stands, so
        // the release costs no cleaning of its own.
        learning_ = false;
        out.insert(out.end(), earlyOut_.begin(), earlyOut_.end());
        endLearning();
    }
}

void VoiceCleanup::cleanFrame(size_t samples, std::vector<int16_t>& out) {
    highPass_.process(frame_.data(), samples);
    filled_ = 0;
    const double level = rmsDb(frame_.data(), samples);
    if (!learning_) {
        give(state_, frame_.data(), samples, level, out);
        return;
    }
    // The denoiser needs about two seconds of the room to know its noise.
    // Meanwhile the frames are held and the preprocessor learns from them;
    // once it has, they are cleaned again with what it learnt, so the
    // silence kept before the first word and the first words themselves are
    // as clean as the rest. The capture thread catches up in one go then.
    // The early cleaning, made as the frames come, is what a recording
    // shorter than that keeps.
    heldFrame_ = frame_;
    give(early_, frame_.data(), samples, level, earlyOut_);
    if (samples < kFrameSamples) {
        return;  // the end of the capture
    }
    held_.insert(held_.end(), heldFrame_.begin(), heldFrame_.end());
    if (level >= kDigitalSilenceDb) {
        speex_preprocess_run(state_, heldFrame_.data());
        if (++learnt_ == kLearningFrames) {
            replayHeld(out);
        }
    }
}

void VoiceCleanup::replayHeld(std::vector<int16_t>& out) {
    learning_ = false;
    floorDb_ = 0.0;
    started_ = false;
    wasSpeech_ = false;
    voice_.reset();
    given_ = 0;
    bool first = true;
    for (size_t at = 0; at < held_.size(); at += kFrameSamples) {
        const double level = rmsDb(held_.data() + at, kFrameSamples);
        give(state_, held_.data() + at, kFrameSamples, level, out);
        if (level >= kDigitalSilenceDb && first) {
            // The preprocessor overlaps each frame with the end of the one
            // before, which is now the last frame it learnt from: the first
            // frame is taken from the early cleaning instead.
            std::copy_n(earlyOut_.begin() + static_cast<std::ptrdiff_t>(at), kFrameSamples,
                        out.end() - static_cast<std::ptrdiff_t>(kFrameSamples));
            first = false;
        }
    }
    endLearning();
}

void VoiceCleanup::endLearning() {
    speex_preprocess_state_destroy(early_);
    early_ = nullptr;
    held_ = {};
    earlyOut_ = {};
}

void VoiceCleanup::give(SpeexPreprocessState_* state, int16_t* frame, size_t samples, double level,
                        std::vector<int16_t>& out) {
    // A device that starts (or a source muted) gives zeros before any sound:
    // they are kept as they are, and teach neither the floor nor the denoiser
    // a noise of nothing, which would take the room's noise, when it comes,
    // for voice.
    if (level >= kDigitalSilenceDb && heardVoice(state, frame, level)) {
        const Span run{given_, given_ + samples};
        voice_ = voice_ ? Span{voice_->begin, run.end} : run;
    }
    out.insert(out.end(), frame, frame + samples);
    given_ += samples;
}

bool VoiceCleanup::heardVoice(SpeexPreprocessState_* state, int16_t* frame, double level) {
    floorDb_ = started_ ? std::min(level, floorDb_ + kFloorRiseDb) : level;
    started_ = true;
    speex_preprocess_run(state, frame);
    int probability = 0;  // percent
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_GET_PROB, &probability);
    const bool speech =
        probability > kSpeechStartPercent || (wasSpeech_ && probability > kSpeechGoesOnPercent);
    wasSpeech_ = speech;
    return speech && level > std::max(floorDb_ + kAboveFloorDb, kLeastVoiceDb);
}

std::optional<VoiceCleanup::Span> VoiceCleanup::kept(std::optional<Span> voice, uint64_t length) {
    if (!voice || voice->begin >= length) {
        return std::nullopt;
    }
    return Span{voice->begin - std::min(voice->begin, kMarginSamples),
                std::min(voice->end + kMarginSamples, length)};
}

}  // namespace chatterly
