#pragma once
// Playback of a received voice message (a WAV image in memory) and of the
// call-waiting cue ("CallWaiting.wav" in the working directory), both
// synchronous: each returns once the sound has been played and drained, or a
// message has been stopped.
//
// Images are decoded by WavDecoder, which refuses what is no RIFF WAVE image
// and what claims more playing time than its bytes can carry, and never reads
// past the received length. An image whose header claims more bytes than
// arrived plays what arrived.
//
// On the GUI thread the sound is played by a helper thread while the GUI
// thread waits in the installed GUI wait: by default it serves window
// requests only, so the speaker animation moves and repaints while user input
// waits until the message has played.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace chatterly {

class Playback {
  public:
    enum class Outcome {
        Played,   // to its end
        Stopped,  // stopMessages() ended it
        Failed,   // refused, no sound the decoder can read, or no sound server
    };
    // Plays the image. Voice messages play one at a time, whatever thread
    // plays them: one that comes while another plays waits for its end (a
    // stop ends the one playing, not the one waiting). speed: how many times
    // faster than recorded, pitch kept (SpeedChange).
    static Outcome playMessage(const void* image, size_t length, double speed = 1.0);
    // playMessage; false only when it failed (a stopped message counts as
    // played).
    static bool PlayVoiceMessage(const void* image, size_t length);

    // Plays "CallWaiting.wav"; a missing or unplayable file plays nothing,
    // with no substitute sound and no report.
    static void PlayCallWaitingCue();

    // Plays a named WAV file; false when it cannot be opened or decoded.
    static bool playFile(const std::string& fileName);

    // Any thread: ends every voice message playing now, at once (what the
    // sound server still holds is dropped). Messages started later play.
    static void stopMessages();

    // How the GUI thread waits while a message plays on it: until played()
    // holds. The helper thread wakes the GUI thread's event loop (a posted
    // event) when it is done. Null restores the default wait.
    using GuiWait = std::function<void(const std::function<bool()>& played)>;
    static void setGuiWait(GuiWait wait);

    // When the latest voice message's first samples were handed to the
    // sound server (benchmarks: the far end of release to playback).
    static std::optional<std::chrono::steady_clock::time_point> lastMessageStart();
    // The speed the latest voice message was played at, 1 before any (tests:
    // which speed the station chose).
    static double lastMessageSpeed();
};

}  // namespace chatterly
