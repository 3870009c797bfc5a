#pragma once
// The voice recorder: turns one press and release of Talk into one WAV
// recording in the scratch file "Parlio.wav" (relative to the working
// directory), and hands it to the call's connection to send, on either end of
// a call. It drives one RecordingDevice, opened once when the
// station window initialises and closed when it is destroyed.
//
// With the voice's clean-up on (setCleanUp), a recording in which no voice
// was heard is not sent: the release says "Nothing was said; no message
// sent" on the status line, and no scratch file stands.
//
// The scratch file is made anew for each recording, readable by the user
// alone and never through a link put in its place (FileStream's scratch
// mode); what is sent is the image kept in memory from the save, so nothing
// put under the name after the save can be sent instead.
//
// Every failure is reported by the operation itself in a warning message box
// on the calling thread; callers look only at the result. The only control
// the recorder touches is the Talk button, through RecorderControls: it is
// disabled when the open fails and unchecked when a start fails.
//
// The recorder has no lock of its own: Talk presses are serialised by the GUI
// thread, so two threads never drive it for the same press (the device
// serialises its commands anyway): the GUI thread on the receiving end of a
// call, the caller worker on the calling end.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/RecorderControls.h"
#include "audio/RecordingDevice.h"
#include "audio/RecordingSink.h"

namespace chatterly {

// The recorder's fields in the station window.
struct RecorderState {
    std::string deviceType = "waveaudio";  // the device's type name, kept for reports
    std::string elementName;               // "": a new, untitled recording
    std::optional<uint32_t> deviceId;      // set by a successful open; a close keeps it
    std::string saveFileName;              // "Parlio.wav" once the open has succeeded
};

class VoiceRecorder {
  public:
    static constexpr const char* kScratchFileName = "Parlio.wav";
    // The size, at the most, of the file of the longest recording made.
    static constexpr uint64_t kLongestRecordingBytes = RecordingDevice::kLongestFileBytes;

    // How a release ended.
    enum class Release {
        Sent,         // handed to the connection
        NothingSaid,  // no voice was heard: nothing saved, nothing sent
        NotSent,      // a failure (said in a box), or no connection
    };

    // controls may be null: the recorder then touches no control.
    explicit VoiceRecorder(std::shared_ptr<RecorderControls> controls,
                           RecordingDevice::Options device = {});

    // Opens the device. On failure shows "Failed to open sound recording
    // device", disables Talk and returns false.
    bool OpenRecorder();

    // Clears the recording and starts recording. On failure closes the device
    // for the rest of the run, shows "Failed to start recording.", unchecks
    // Talk and returns false; every later start then fails the same way.
    bool StartRecording();

    // The clean-up of the recordings started from now on.
    void setCleanUp(VoiceCleanup::Level level) { device_.setCleanUp(level); }

    // Stops (with the sound up to this moment) and saves "Parlio.wav",
    // keeping the image written. On failure shows "Failed to save voice
    // recording to disk." and returns false; a cleaned recording without
    // voice is not saved either (the scratch file is removed) and says so on
    // the status line.
    bool StopAndSaveRecording();

    // The recording the last save wrote to "Parlio.wav", whole, taken out of
    // the recorder. Without one shows "Cannot find voice file Parlio.wav"
    // and returns nullopt.
    [[nodiscard]] std::optional<std::vector<uint8_t>> LoadRecording();

    // A release, on either end of a call: stop, save, load, and hand the
    // file's bytes to the call's connection, which sends them as one frame
    // (and ends the call, saying so, when it cannot). Without a connection
    // (null: the call ended under the press) the recording is stopped and
    // saved and nothing is sent. Counted in releases().
    Release StopAndSendRecording(RecordingSink* connection);

    // The releases finished so far, on any thread.
    uint64_t releases() const { return releases_; }
    // The end of the first release counted after count, once one is: waits
    // for one (serving only window requests on a GUI thread) while pending()
    // holds, up to limit; nullopt when none came. For the release an
    // outgoing call's worker makes.
    std::optional<Release> releaseAfter(uint64_t count, const std::function<bool()>& pending,
                                        std::chrono::milliseconds limit);

    // A call ended with Talk down: ends a running recording at once and drops
    // what it captured, releasing the microphone; nothing is saved or sent.
    void dropRecording();

    // Closes the device and removes "Parlio.wav"; failures are ignored.
    void CloseRecorder();

    const RecorderState& state() const { return state_; }
    // Tests and benchmarks reach the device through here.
    RecordingDevice& device() { return device_; }

  private:
    std::shared_ptr<RecorderControls> controls_;
    RecordingDevice device_;
    RecorderState state_;
    std::optional<std::vector<uint8_t>> saved_;  // the image of the last save
    bool nothingSaid_ = false;                   // the last save found no voice
    std::atomic<uint64_t> releases_{0};
    std::atomic<Release> lastRelease_{Release::NotSent};
};

}  // namespace chatterly
