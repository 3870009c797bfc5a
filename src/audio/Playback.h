#pragma once
// Playback of a received voice message (a WAV image in memory) and of the
// call-waiting cue ("CallWaiting.wav" in the working directory), both
// synchronous: each returns once the sound has been played and drained.
//
// Images are decoded with libsndfile, which reads PCM of any width, ADPCM,
// u-law, A-law and more; the decoder is given the received length and never
// reads past it. An image whose header claims more bytes than arrived plays
// what arrived.
//
// On the GUI thread the sound is played by a helper thread while the GUI
// thread serves window requests only: the speaker animation moves and
// repaints, but user input waits until the message has played.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace chatterly {

class Playback {
  public:
    // Plays the image; false when it is no sound libsndfile can decode, or
    // when no sound server can be reached.
    static bool PlayVoiceMessage(const void* image, size_t length);

    // Plays "CallWaiting.wav"; a missing or unplayable file plays nothing,
    // with no substitute sound and no report.
    static void PlayCallWaitingCue();

    // Plays a named WAV file; false when it cannot be opened or decoded.
    static bool playFile(const std::string& fileName);

    // When the latest voice message's first samples were handed to the
    // sound server (benchmarks: the far end of release to playback).
    static std::optional<std::chrono::steady_clock::time_point> lastMessageStart();
};

}  // namespace chatterly
