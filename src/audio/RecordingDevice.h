#pragma once
// The station's recording device: one recording held in memory, captured
// from a PulseAudio source (the default source unless named) as 16-bit PCM,
// mono, 22 050 Hz, and saved as a complete RIFF WAVE image through
// libsndfile. Its six commands are those of a sound recorder: open a new,
// empty recording; clear from a position to the end; record until stopped;
// stop; save (the image of a WAV file, in memory); close. A command to a device that was never
// opened, or that has been closed, fails with NotOpen.
//
// Recording runs on a capture thread of the device's own. record() returns
// once the stream is connected and the thread reads from it, so nothing said
// after the press is lost. stop() keeps reading until the captured audio
// reaches the moment of the stop (the server delivers sound some tens of
// milliseconds after it was heard), and then cuts what came later, so the
// recording runs from the press to the release.
//
// A recording is bounded (an hour by default, about 160 MB): one left running
// stops capturing at the bound and releases the microphone, keeping what it
// has. Samples are kept in one-second blocks, so a long recording is never
// copied as it grows.
//
// A capture may clean the voice up as it comes (VoiceCleanup, chosen with
// setCleanUp for the next record): the capture thread then stores the
// cleaned samples and notes where voice was heard, and a save keeps the
// voice with a little silence around it, or saves nothing (NoVoice) when
// none was heard. Without clean-up the samples are stored as captured. The
// level is measured on what the microphone gives, before any clean-up.
//
// Commands may come from any thread; they are serialised. The capture thread
// and the commands share the samples and the stop request under one mutex.
// Not for realtime use: each record connects to the server anew.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/InputLevel.h"
#include "audio/SampleStore.h"
#include "audio/VoiceCleanup.h"
#include "audio/WavEncoder.h"

namespace chatterly {

class PulseInput;

class RecordingDevice {
  public:
    static constexpr uint32_t kSampleRate = 22050;
    // The longest recording kept, and the size of its WAV file: the samples
    // and room for the header.
    static constexpr std::chrono::hours kLongestRecording{1};
    static constexpr uint64_t kLongestFileBytes =
        WavEncoder::imageBytes(uint64_t{3600} * kLongestRecording.count() * kSampleRate);

    enum class Status {
        Ok,
        NotOpen,        // never opened, or closed
        AlreadyOpen,    // open() on an open device
        NoSoundServer,  // no server, or no such source, could be reached
        CaptureFailed,  // the record stream could not be started
        SaveFailed,     // the file could not be written
        NoVoice,        // a cleaned recording in which no voice was heard
    };

    struct Options {
        std::string server;  // empty: the default server (PULSE_SERVER or the session's)
        std::string source;  // empty: the server's default source
        std::chrono::milliseconds limit = kLongestRecording;  // longest recording kept
    };

    using Clock = std::chrono::steady_clock;

    RecordingDevice();
    explicit RecordingDevice(Options options);
    // Ends a running capture and drops the recording.
    ~RecordingDevice();
    RecordingDevice(const RecordingDevice&) = delete;
    RecordingDevice& operator=(const RecordingDevice&) = delete;

    // Opens a new, empty recording after checking that the server and the
    // source can be reached (a record stream is connected and let go again).
    [[nodiscard]] Status open();

    // Deletes the recording from fromSample to its end; a running capture is
    // ended first and its sound dropped. The position is then the end.
    Status clear(uint64_t fromSample = 0);

    // Records from the current position (always the end of the recording, as
    // there is no seek) until stop(); a capture still running is ended first,
    // keeping what it captured. Returns once capture runs.
    [[nodiscard]] Status record();

    // Ends a running capture with the sound up to this moment, and waits
    // until it has ended. Ok without a capture.
    Status stop();

    // The recording as a complete 16-bit mono RIFF WAVE image, into image
    // (what it held is replaced). The sound captured so far is saved while a
    // capture runs.
    [[nodiscard]] Status save(std::vector<uint8_t>& image);

    // The clean-up of the captures that follow (Off: none; the default).
    void setCleanUp(VoiceCleanup::Level level);

    // Ends a running capture and drops the recording; commands then fail
    // with NotOpen until the next open().
    Status close();

    bool isOpen() const;
    bool isRecording() const;
    // A number for each successful open, counting from 1 in the process;
    // 0 before the first. It stays after a close.
    uint32_t id() const;
    // The recording's length in samples.
    uint64_t length() const;
    // When the first sample of the latest capture was heard, as the server's
    // latency tells; nullopt until a capture has read its first samples.
    std::optional<Clock::time_point> captureStart() const;

    // The level of what the capture thread reads, as it reads it (before the
    // cut at the stop), for one reader on any thread.
    InputLevel& level() { return level_; }

    // Tests and benchmarks: appends samples to a stopped recording as though
    // they had been recorded (cleaned up as a capture would be).
    Status appendSamples(const int16_t* samples, size_t count);

  private:
    enum class Ending { None, AtStopMoment, Now };

    void captureLoop(std::unique_ptr<PulseInput> input, std::unique_ptr<VoiceCleanup> cleanup);
    // A capture's clean-up, or none (Off); commandMutex_ is held.
    std::unique_ptr<VoiceCleanup> makeCleanup();
    // Appends a capture's samples, as cleaned when cleanup is set, whose
    // voice then starts at runStart; false once the bound is reached.
    // dataMutex_ is held.
    bool store(const std::vector<int16_t>& samples, const VoiceCleanup* cleanup, uint64_t runStart);
    // Keeps the first length samples, and the voice heard in them; a
    // recording cut to nothing is no longer a cleaned one. dataMutex_ is held.
    void cut(uint64_t length);
    // Stops the capture thread (if any) and joins it; commandMutex_ is held.
    void endCapture(Ending how);

    const Options options_;

    mutable std::mutex commandMutex_;  // serialises the commands
    bool open_ = false;
    uint32_t id_ = 0;
    VoiceCleanup::Level cleanUp_ = VoiceCleanup::Level::Off;
    std::thread capture_;

    mutable std::mutex dataMutex_;  // the capture thread's shared state
    std::condition_variable started_;
    bool reading_ = false;  // the capture thread has begun reading
    Ending ending_ = Ending::None;
    Clock::time_point stopAt_;
    std::optional<Clock::time_point> captureStart_;
    uint64_t capturedThisRun_ = 0;
    SampleStore samples_;   // the recording, in blocks of one second
    bool cleaned_ = false;  // a capture of this recording was cleaned up: a save trims it
    std::optional<VoiceCleanup::Span> voice_;  // where its cleaned captures heard voice

    InputLevel level_;  // fed by the capture thread, outside every lock
};

}  // namespace chatterly
