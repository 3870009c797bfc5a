#pragma once
// The clean-up of a voice as it is captured: a high-pass filter under 80 Hz,
// then SpeexDSP's preprocessor (noise suppression and automatic gain towards
// a steady speech level, with its voice detection), over 20 ms frames. It
// also notes where voice was heard, so that the silence at both ends of a
// recording can be cut (kept()): a frame is voice when the preprocessor says
// so and the filtered input stands clear of the quietest frames so far (and
// of a floor no microphone hears as speech). The output stays 16-bit mono at
// the input's rate, so the recording is written as before.
//
// Made for one capture and fed by one thread (the capture thread); the
// recording device owns what it gives out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/HighPassFilter.h"

struct SpeexPreprocessState_;

namespace chatterly {

class VoiceCleanup {
  public:
    enum class Level { Off, Gentle, Strong };

    static constexpr uint32_t kRate = 22050;
    static constexpr size_t kFrameSamples = kRate / 50;  // 20 ms
    // Silence kept before the first and after the last voice.
    static constexpr uint64_t kMarginSamples = kRate * 150 / 1000;

    // Samples [begin, end) of a recording.
    struct Span {
        uint64_t begin = 0;
        uint64_t end = 0;
        bool operator==(const Span&) const = default;
    };

    // level: Gentle or Strong (Off is no clean-up at all: none is made).
    explicit VoiceCleanup(Level level);
    ~VoiceCleanup();
    VoiceCleanup(const VoiceCleanup&) = delete;
    VoiceCleanup& operator=(const VoiceCleanup&) = delete;

    // Takes count captured samples; appends to out the cleaned samples of
    // every frame they complete. The frames of the first two seconds of
    // sound come out together at their end (the preprocessor learns the
    // room's noise from them first).
    void process(const int16_t* samples, size_t count, std::vector<int16_t>& out);
    // The end of the capture: the frame begun is cleaned (padded with
    // silence) and its own samples appended to out.
    void finish(std::vector<int16_t>& out);
    // Where voice was heard in what was given out: from the start of the
    // first voiced frame to the end of the last; nullopt while none was (or
    // nothing was given out yet).
    std::optional<Span> voice() const;

    // What a recording of length samples keeps: its voice with up to
    // kMarginSamples of silence before and after; nullopt without voice.
    static std::optional<Span> kept(std::optional<Span> voice, uint64_t length);

  private:
    // The speech probability (%) a frame needs to start speech, and to go on
    // with it after a speech frame.
    static constexpr int kSpeechStartPercent = 35;
    static constexpr int kSpeechGoesOnPercent = 20;

    // The preprocessor's learning: frames of sound it hears before its
    // cleaning is kept (two seconds).
    static constexpr int kLearningFrames = 100;

    void cleanFrame(size_t samples, std::vector<int16_t>& out);
    // Cleans the frames held while the preprocessor learnt, in turn.
    void replayHeld(std::vector<int16_t>& out);
    void endLearning();
    // Cleans a frame (of the level given, in dBFS) in place with state,
    // notes its voice, and appends its own samples to out.
    void give(SpeexPreprocessState_* state, int16_t* frame, size_t samples, double level,
              std::vector<int16_t>& out);
    // Runs the preprocessor over a frame of sound; whether it is voice.
    bool heardVoice(SpeexPreprocessState_* state, int16_t* frame, double level);

    HighPassFilter highPass_;
    SpeexPreprocessState_* state_;
    SpeexPreprocessState_* early_;    // cleans while state_ learns; then none
    std::vector<int16_t> frame_;      // the frame being filled
    std::vector<int16_t> heldFrame_;  // the frame as filtered, before cleaning
    size_t filled_ = 0;
    bool learning_ = true;
    int learnt_ = 0;                 // frames of sound state_ has learnt from
    std::vector<int16_t> held_;      // whole frames filtered while it learns
    std::vector<int16_t> earlyOut_;  // and as early_ cleaned them
    uint64_t given_ = 0;             // samples given out so far
    double floorDb_ = 0.0;           // the quietest frames' level, rising slowly
    bool started_ = false;           // a frame has set the floor
    bool wasSpeech_ = false;         // the last frame was speech
    std::optional<Span> voice_;
};

}  // namespace chatterly
