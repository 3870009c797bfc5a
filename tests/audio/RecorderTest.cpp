// The recording device and the voice recorder against a real PulseAudio
// server with a null sink: a tone played to the sink "spk" is what the
// recorder hears from its monitor, the default source. Recordings are checked
// as the WAV files libsndfile reads back, and frames as a real reader on the
// other end of a socket pair receives them.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "audio/InputLevel.h"
#include "audio/PulseOutput.h"
#include "audio/RecordingDevice.h"
#include "audio/SilenceCheck.h"
#include "audio/VoiceRecorder.h"
#include "framework/streams/CArchive.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "net/VoiceMessageFrame.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using namespace std::chrono_literals;
using chatterly::test::fileBytes;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::ScratchDirectory;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = RecordingDevice::kSampleRate;

// Plays a 1 kHz tone to the default sink (the null sink "spk") on a thread of
// its own, returning from wait() once it has been played out.
class TonePlayer {
  public:
    explicit TonePlayer(std::chrono::milliseconds length, double frequency = 1000.0) {
        thread_ = std::thread([this, length, frequency] {
            PulseOutput output("test tone");
            if (!output.open(kRate, 1)) {
                return;
            }
            const auto n = static_cast<size_t>(length.count() * kRate / 1000);
            const std::vector<int16_t> samples = test::sine(n, kRate, frequency);
            played_ = output.write(samples.data(), n) && output.finish(false);
        });
    }
    ~TonePlayer() { wait(); }
    bool wait() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return played_;
    }

  private:
    std::thread thread_;
    std::atomic<bool> played_{false};
};

// A WAV image as libsndfile reads it.
struct Sound {
    bool opened = false;
    SF_INFO info{};
    std::vector<int16_t> samples;

    double seconds() const { return static_cast<double>(samples.size()) / kRate; }
    size_t loud() const { return test::loudSamples(samples); }
    // How long a tone lasted in the recording.
    double loudSpan() const { return test::loudSpan(samples, kRate); }
    double crossingsPerLoudSecond() const { return test::crossingsPerLoudSecond(samples, kRate); }
};

Sound decode(const std::vector<uint8_t>& image) {
    ScratchDirectory dir;
    test::writeFile(dir.file("image.wav"), image);
    Sound sound;
    SNDFILE* f = sf_open(dir.file("image.wav").c_str(), SFM_READ, &sound.info);
    if (!f) {
        return sound;
    }
    sound.opened = true;
    sound.samples.resize(static_cast<size_t>(sound.info.frames * sound.info.channels));
    sf_read_short(f, sound.samples.data(), static_cast<sf_count_t>(sound.samples.size()));
    sf_close(f);
    return sound;
}

Sound decodeFile(const std::string& path) {
    return decode(fileBytes(path));
}

// The call's connection as the recorder meets it: keeps every recording
// handed to it (the frame it becomes is the connection's business).
struct HandedRecordings : RecordingSink {
    void sendRecording(const std::vector<uint8_t>& wavFile) override {
        recordings.push_back(wavFile);
    }
    std::vector<std::vector<uint8_t>> recordings;
};

RecordingDevice::Options deviceOptions(std::string server, std::string source = {},
                                       std::chrono::milliseconds limit = std::chrono::hours(1)) {
    RecordingDevice::Options options;
    options.server = std::move(server);
    options.source = std::move(source);
    options.limit = limit;
    return options;
}

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) {
            out += buffer;
        }
        ::pclose(p);
    }
    return out;
}

// The Talk button's calls, counted.
struct CountingTalkButton : RecorderControls {
    void disableTalk() override { ++disabled; }
    void uncheckTalk() override { ++unchecked; }
    int disabled = 0;
    int unchecked = 0;
};

// A recorder in a scratch working directory with its message boxes and its
// Talk button's calls recorded.
class RecorderFixture : public ::testing::Test {
  protected:
    VoiceRecorder makeRecorder(RecordingDevice::Options options = {}) {
        return VoiceRecorder(talk, std::move(options));
    }

    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    std::shared_ptr<CountingTalkButton> talk = std::make_shared<CountingTalkButton>();
    int& talkDisabled = talk->disabled;
    int& talkUnchecked = talk->unchecked;
};

class SoundRecorderTest : public RecorderFixture {
  protected:
    void SetUp() override {
        if (!chatterly::test::soundServerAvailable()) {
            GTEST_SKIP() << "no sound server (run under tools/with-sound-server.sh)";
        }
    }
};

}  // namespace

TEST_F(SoundRecorderTest, AToneRecordedBetweenPressAndReleaseIsSavedAsA22kHzMonoWavFile) {
    VoiceRecorder recorder = makeRecorder();
    ASSERT_TRUE(recorder.OpenRecorder());
    EXPECT_EQ(recorder.state().deviceType, "waveaudio");
    EXPECT_EQ(recorder.state().elementName, "");
    EXPECT_EQ(recorder.state().saveFileName, "Parlio.wav");
    EXPECT_TRUE(recorder.state().deviceId.has_value());

    TonePlayer tone(2600ms);
    std::this_thread::sleep_for(200ms);  // the tone is under way
    ASSERT_TRUE(recorder.StartRecording());
    const auto pressed = Clock::now();
    // Not a whole number of the server's 20 ms fragments, so the release
    // falls inside one.
    std::this_thread::sleep_for(2010ms);
    const auto released = Clock::now();
    ASSERT_TRUE(recorder.StopAndSaveRecording());
    EXPECT_TRUE(tone.wait());
    // The level heard the tone as it was captured (amplitude 12000).
    const InputLevel::Reading level = recorder.device().level().take();
    EXPECT_NEAR(level.peakDb, 20 * std::log10(12000.0 / 32768), 1.0);
    EXPECT_GE(level.samples, recorder.device().length());

    const Sound sound = decodeFile(dir.file("Parlio.wav"));
    ASSERT_TRUE(sound.opened);
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(sound.info.channels, 1);
    EXPECT_EQ(sound.info.samplerate, 22050);
    const double held = std::chrono::duration<double>(released - pressed).count();
    // From press to release within 100 ms, and nothing between them cut:
    // capture begins inside StartRecording, and the stop reaches past the
    // release. A stop that dropped the sound still on its way from the
    // server would come out some milliseconds short.
    EXPECT_NEAR(sound.seconds(), held, 0.1);
    EXPECT_GE(sound.seconds(), held);
    EXPECT_GT(sound.loud(), sound.samples.size() * 9 / 10);
    EXPECT_NEAR(sound.crossingsPerLoudSecond(), 2000.0, 100.0);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(SoundRecorderTest, TheLastSoundBeforeTheReleaseIsInTheRecording) {
    VoiceRecorder recorder = makeRecorder();
    ASSERT_TRUE(recorder.OpenRecorder());
    ASSERT_TRUE(recorder.StartRecording());
    std::this_thread::sleep_for(300ms);
    // The release comes the moment the last word has left the loudspeaker.
    TonePlayer lastWord(300ms);
    ASSERT_TRUE(lastWord.wait());
    ASSERT_TRUE(recorder.StopAndSaveRecording());

    const Sound sound = decodeFile(dir.file("Parlio.wav"));
    ASSERT_TRUE(sound.opened);
    EXPECT_GT(sound.loudSpan(), 0.27) << "of 0.3 s of tone";
}

TEST_F(SoundRecorderTest, TheSecondRecordingHoldsNothingOfTheFirst) {
    // The first recording hears a tone; the second, made after it, hears
    // silence. The first is released normally, or left running as when a
    // call ends with Talk down.
    for (const bool releasedFirst : {true, false}) {
        SCOPED_TRACE(releasedFirst ? "released" : "left running");
        VoiceRecorder recorder = makeRecorder();
        ASSERT_TRUE(recorder.OpenRecorder());
        HandedRecordings connection;

        ASSERT_TRUE(recorder.StartRecording());
        {
            TonePlayer tone(800ms);
            EXPECT_TRUE(tone.wait());
        }
        std::this_thread::sleep_for(200ms);  // the tone's tail has passed the monitor
        if (releasedFirst) {
            recorder.StopAndSendRecording(&connection);
            ASSERT_EQ(connection.recordings.size(), 1u);
        }
        ASSERT_TRUE(recorder.StartRecording());
        std::this_thread::sleep_for(800ms);
        recorder.StopAndSendRecording(&connection);
        const auto lastFile = fileBytes(dir.file("Parlio.wav"));

        const auto& frames = connection.recordings;
        ASSERT_EQ(frames.size(), releasedFirst ? 2u : 1u);
        EXPECT_EQ(frames.back(), lastFile);
        const Sound second = decode(frames.back());
        ASSERT_TRUE(second.opened);
        EXPECT_GT(second.seconds(), 0.7);
        EXPECT_LT(second.loud(), second.samples.size() / 100);
        if (releasedFirst) {
            const Sound first = decode(frames.front());
            EXPECT_GT(first.loudSpan(), 0.78);
            EXPECT_NEAR(first.crossingsPerLoudSecond(), 2000.0, 100.0);
        }
        recorder.CloseRecorder();
        EXPECT_EQ(boxes.count(), 0u);
    }
}

// A release stops and saves the recording and hands the file's bytes, once,
// to the call's connection; with none (the call ended under the press) it
// stops and saves and hands nothing over. Either way the next press records.
TEST_F(SoundRecorderTest, AReleaseHandsTheSavedFileOnceToTheConnection) {
    for (const bool withConnection : {true, false}) {
        SCOPED_TRACE(withConnection ? "a connection" : "no connection");
        VoiceRecorder recorder = makeRecorder();
        ASSERT_TRUE(recorder.OpenRecorder());
        HandedRecordings connection;
        ASSERT_TRUE(recorder.StartRecording());
        ASSERT_TRUE(chatterly::test::waitFor(
            [&] { return recorder.device().length() > kRate / 2; }));  // half a second
        recorder.StopAndSendRecording(withConnection ? &connection : nullptr);
        EXPECT_FALSE(recorder.device().isRecording());
        const auto saved = fileBytes(dir.file("Parlio.wav"));
        EXPECT_GT(saved.size(), 44u + kRate * 9 / 10);  // a header and about half a second
        if (withConnection) {
            ASSERT_EQ(connection.recordings.size(), 1u);
            EXPECT_TRUE(connection.recordings.front() == saved);
        }
        EXPECT_EQ(boxes.count(), 0u);
        EXPECT_TRUE(recorder.StartRecording());
        recorder.CloseRecorder();
    }
}

TEST_F(SoundRecorderTest, TheScratchFileIsMadeAnewAndTheRecordingSavedIsTheOneLoaded) {
    namespace fs = std::filesystem;
    const std::string scratch = dir.file("Parlio.wav");
    const std::string mine = dir.file("private");  // a file of the user's elsewhere
    const std::string elsewhere = dir.file("planted");
    struct Case {
        const char* what;
        std::function<void()> before;  // what stands under the name at the save
        std::function<void()> after;   // what is put there between save and load
    };
    const Case cases[] = {
        {"nothing", [] {}, [] {}},
        {"a stale file readable by all",
         [&] {
             test::writeFile(scratch, test::pattern(50));
             fs::permissions(scratch, fs::perms(0644));
         },
         [&] { fs::remove(scratch); }},
        {"a link to a file of the user's", [&] { fs::create_symlink(mine, scratch); },
         [&] {
             fs::remove(scratch);
             fs::create_symlink(mine, scratch);
         }},
        {"a dangling link", [&] { fs::create_symlink(elsewhere, scratch); }, [] {}},
    };
    VoiceRecorder recorder = makeRecorder();
    ASSERT_TRUE(recorder.OpenRecorder());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(mine, test::pattern(100, 9));
        fs::permissions(mine, fs::perms(0600));
        fs::remove(scratch);
        c.before();
        ASSERT_TRUE(recorder.StartRecording());
        ASSERT_TRUE(test::waitFor([&] { return recorder.device().length() > kRate / 10; }));
        ASSERT_TRUE(recorder.StopAndSaveRecording());
        ASSERT_FALSE(fs::is_symlink(scratch));
        EXPECT_EQ(fs::status(scratch).permissions() & fs::perms::all, fs::perms(0600));
        EXPECT_EQ(fileBytes(mine), test::pattern(100, 9));
        EXPECT_FALSE(fs::exists(elsewhere));
        const auto saved = fileBytes(scratch);
        c.after();
        const auto loaded = recorder.LoadRecording();
        ASSERT_TRUE(loaded.has_value());
        EXPECT_TRUE(*loaded == saved);
        EXPECT_TRUE(decode(*loaded).opened);
    }
    // The recording is taken by its load: without a new save there is none.
    EXPECT_FALSE(recorder.LoadRecording().has_value());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Cannot find voice file Parlio.wav"});
    EXPECT_EQ(boxes.boxes().front().icon, MessageIcon::Warning);
}

TEST_F(SoundRecorderTest, ASaveThatCannotWriteIsReportedAndTheDeviceStaysOpen) {
    VoiceRecorder recorder = makeRecorder();
    ASSERT_TRUE(recorder.OpenRecorder());
    std::filesystem::create_directory(dir.file("Parlio.wav"));  // in the file's way
    ASSERT_TRUE(recorder.StartRecording());
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(recorder.StopAndSaveRecording());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to save voice recording to disk."});
    EXPECT_TRUE(recorder.device().isOpen());
    EXPECT_FALSE(recorder.device().isRecording());
}

TEST_F(SoundRecorderTest, CloseRecorderRemovesTheScratchFileOrQuietlyFindsNone) {
    for (const bool recorded : {true, false}) {
        SCOPED_TRACE(recorded ? "after a recording" : "never recorded");
        VoiceRecorder recorder = makeRecorder();
        ASSERT_TRUE(recorder.OpenRecorder());
        if (recorded) {
            ASSERT_TRUE(recorder.StartRecording());
            std::this_thread::sleep_for(200ms);
            ASSERT_TRUE(recorder.StopAndSaveRecording());
            ASSERT_TRUE(std::filesystem::exists(dir.file("Parlio.wav")));
        }
        recorder.CloseRecorder();
        EXPECT_FALSE(std::filesystem::exists(dir.file("Parlio.wav")));
        EXPECT_FALSE(recorder.device().isOpen());
        EXPECT_TRUE(recorder.state().deviceId.has_value());  // a close keeps it
        EXPECT_EQ(boxes.count(), 0u);
    }
}

TEST_F(SoundRecorderTest, AFailedStartClosesTheDeviceAndEveryLaterStartFailsTheSameWay) {
    // The device records from a sink's monitor that is taken away after the
    // open (as when a microphone is unplugged), or was never opened at all.
    const std::string index = commandOutput(
        "pactl load-module module-null-sink sink_name=chatterly_fault_test "
        "rate=22050 channels=1 2>/dev/null");
    if (index.empty()) {
        GTEST_SKIP() << "pactl cannot load a sink here";
    }
    struct Unload {
        std::string index;
        ~Unload() { commandOutput("pactl unload-module " + index + " 2>/dev/null"); }
    } unload{index.substr(0, index.find('\n'))};
    struct Case {
        const char* name;
        bool opened;
    };
    for (const Case c : {Case{"source unplugged", true}, Case{"never opened", false}}) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        talkUnchecked = 0;
        VoiceRecorder recorder = makeRecorder(deviceOptions({}, "chatterly_fault_test.monitor"));
        if (c.opened) {
            ASSERT_TRUE(recorder.OpenRecorder());
            commandOutput("pactl unload-module " + unload.index);
        }
        for (int press = 0; press < 3; ++press) {
            EXPECT_FALSE(recorder.StartRecording());
        }
        EXPECT_EQ(boxes.texts(), std::vector<std::string>(3, "Failed to start recording."));
        EXPECT_EQ(talkUnchecked, 3);
        EXPECT_EQ(talkDisabled, 0);
        EXPECT_FALSE(recorder.device().isOpen());
    }
}

TEST_F(RecorderFixture, EveryCommandToADeviceThatIsNotOpenFails) {
    RecordingDevice device;
    const int16_t sample = 0;
    std::vector<uint8_t> image;
    const std::pair<const char*, std::function<RecordingDevice::Status()>> commands[] = {
        {"clear", [&] { return device.clear(0); }},
        {"record", [&] { return device.record(); }},
        {"stop", [&] { return device.stop(); }},
        {"save", [&] { return device.save(image); }},
        {"close", [&] { return device.close(); }},
        {"append", [&] { return device.appendSamples(&sample, 1); }},
    };
    auto expectAllFail = [&] {
        for (const auto& [name, command] : commands) {
            EXPECT_EQ(command(), RecordingDevice::Status::NotOpen) << name;
        }
        EXPECT_TRUE(image.empty());
    };
    {
        SCOPED_TRACE("never opened");
        expectAllFail();
        EXPECT_EQ(device.id(), 0u);
    }
    if (!chatterly::test::soundServerAvailable()) {
        return;
    }
    SCOPED_TRACE("closed");
    ASSERT_EQ(device.open(), RecordingDevice::Status::Ok);
    EXPECT_EQ(device.open(), RecordingDevice::Status::AlreadyOpen);
    const uint32_t id = device.id();
    EXPECT_NE(id, 0u);
    EXPECT_EQ(device.close(), RecordingDevice::Status::Ok);
    expectAllFail();
    EXPECT_EQ(device.id(), id);
}

TEST_F(SoundRecorderTest, TheDeviceClearsFromAPositionAndSavesWhatItHolds) {
    RecordingDevice device;
    ASSERT_EQ(device.open(), RecordingDevice::Status::Ok);
    std::vector<int16_t> ramp(2 * kRate + 100);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<int16_t>(i % 30000);
    }
    ASSERT_EQ(device.appendSamples(ramp.data(), ramp.size()), RecordingDevice::Status::Ok);
    struct Case {
        uint64_t from;
        uint64_t length;
    };
    // Across a block boundary, on one, beyond the end, and from the start.
    for (const Case c :
         {Case{kRate + 7, kRate + 7}, Case{kRate, kRate}, Case{5 * kRate, kRate}, Case{0, 0}}) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(device.clear(c.from), RecordingDevice::Status::Ok);
        EXPECT_EQ(device.length(), c.length);
        std::vector<uint8_t> image;
        ASSERT_EQ(device.save(image), RecordingDevice::Status::Ok);
        const Sound sound = decode(image);
        ASSERT_TRUE(sound.opened);
        ASSERT_EQ(sound.samples.size(), c.length);
        EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), ramp.begin()));
    }
    // A recording made after a clear comes after what is kept.
    ASSERT_EQ(device.appendSamples(ramp.data(), 1000), RecordingDevice::Status::Ok);
    ASSERT_EQ(device.record(), RecordingDevice::Status::Ok);
    EXPECT_TRUE(device.isRecording());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(device.stop(), RecordingDevice::Status::Ok);
    EXPECT_FALSE(device.isRecording());
    std::vector<uint8_t> image;
    ASSERT_EQ(device.save(image), RecordingDevice::Status::Ok);
    const Sound sound = decode(image);
    ASSERT_GT(sound.samples.size(), 1000u + kRate / 5);
    EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.begin() + 1000, ramp.begin()));
}

TEST_F(SoundRecorderTest, ARecordingStopsGrowingAtItsLimit) {
    RecordingDevice device(deviceOptions({}, {}, 400ms));
    ASSERT_EQ(device.open(), RecordingDevice::Status::Ok);
    ASSERT_EQ(device.record(), RecordingDevice::Status::Ok);
    EXPECT_TRUE(chatterly::test::waitFor([&] { return device.length() >= kRate * 4 / 10; }));
    std::this_thread::sleep_for(300ms);  // capture would have gone on by now
    EXPECT_EQ(device.length(), static_cast<uint64_t>(kRate * 4 / 10));
    EXPECT_EQ(device.stop(), RecordingDevice::Status::Ok);
    EXPECT_EQ(device.length(), static_cast<uint64_t>(kRate * 4 / 10));
}

// The level of known signals fed in 10 ms chunks, as the capture thread
// feeds them, read once: peak and RMS in dBFS (full scale 32768).
TEST(InputLevelTest, PeakAndRmsOfKnownSignalsInDbfs) {
    struct Row {
        const char* name;
        double amplitude;
        double peakDb, rmsDb;
    };
    const Row rows[] = {{"silence", 0, InputLevel::kFloorDb, InputLevel::kFloorDb},
                        {"full-scale sine", 32767, 0, -3.01},
                        {"-20 dBFS sine", 3276.8, -20, -23.01}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InputLevel level;
        const auto samples = test::sine(kRate, kRate, 1000.0, row.amplitude);
        for (size_t at = 0; at < samples.size(); at += kRate / 100) {
            level.feed(samples.data() + at, std::min<size_t>(kRate / 100, samples.size() - at));
        }
        const InputLevel::Reading r = level.take();
        EXPECT_NEAR(r.peakDb, row.peakDb, 0.5);
        EXPECT_NEAR(r.rmsDb, row.rmsDb, 0.5);
        EXPECT_EQ(r.samples, samples.size());
    }
}

// A read covers what came since the previous one: a 1 ms burst among
// quiet chunks is the next read's peak, and the read after it is quiet,
// its RMS that of its own samples.
TEST(InputLevelTest, AShortBurstBetweenTwoReadsIsTheNextReadsPeak) {
    InputLevel level;
    const std::vector<int16_t> quiet(kRate / 100, 30);
    const auto burst = test::sine(kRate / 1000, kRate, 1000.0, 32767);
    level.feed(quiet.data(), quiet.size());
    EXPECT_LT(level.take().peakDb, -60);
    level.feed(quiet.data(), quiet.size());
    level.feed(burst.data(), burst.size());
    level.feed(quiet.data(), quiet.size());
    EXPECT_GT(level.take().peakDb, -0.5);
    level.feed(quiet.data(), quiet.size());
    const InputLevel::Reading after = level.take();
    EXPECT_LT(after.peakDb, -60);
    EXPECT_NEAR(after.rmsDb, 20 * std::log10(30.0 / 32768), 0.5);  // of this chunk alone
}

// Recordings read 25 times a second: silent ones warn once each, after two
// seconds; one that gets loud within two seconds never does, nor does one
// that gets loud after a warning warn again.
TEST(InputLevelTest, ASilentStartWarnsOnceARecording) {
    struct Row {
        const char* name;
        double loudFrom;  // seconds; the rest of the recording's 4 s is silent
        int warnings;
        double warnedAt;
    };
    const Row rows[] = {{"silent", 99, 1, 2.0},
                        {"silent again", 99, 1, 2.0},
                        {"loud at once", 0, 0, 0},
                        {"loud at 1.9 s", 1.9, 0, 0},
                        {"loud at 3 s", 3, 1, 2.0}};
    SilenceCheck check(kRate);
    InputLevel level;
    const size_t read = kRate / 25;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        check.begin();
        int warnings = 0;
        double warnedAt = 0;
        for (size_t at = 0; at < size_t{4} * kRate; at += read) {
            const double seconds = static_cast<double>(at) / kRate;
            const auto chunk = test::sine(read, kRate, 1000.0, seconds >= row.loudFrom ? 8000 : 50);
            level.feed(chunk.data(), chunk.size());
            if (check.update(level.take())) {
                ++warnings;
                warnedAt = static_cast<double>(at + read) / kRate;
            }
        }
        EXPECT_EQ(warnings, row.warnings);
        EXPECT_NEAR(warnedAt, row.warnedAt, 0.05);
    }
}
