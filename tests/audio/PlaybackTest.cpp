// Playback against a real PulseAudio server with a null sink: what is played
// is recorded back from the sink's monitor and checked. The decoder's own
// cases keep the samples in a sink of their own and need no server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "audio/Playback.h"
#include "audio/SpeedChange.h"
#include "audio/WavDecoder.h"
#include "framework/threads/WindowRequests.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using chatterly::test::ScratchDirectory;

namespace {

// Records the default source (the null sink's monitor) on a thread.
class MonitorRecorder {
  public:
    MonitorRecorder() {
        thread_ = std::thread([this] {
            const pa_sample_spec format{PA_SAMPLE_S16LE, 22050, 1};
            pa_buffer_attr attr{static_cast<uint32_t>(-1), 0, 0, 0, 22050 * 2 / 50};
            int error = 0;
            pa_simple* s = pa_simple_new(nullptr, "chatterly-test", PA_STREAM_RECORD, nullptr,
                                         "monitor", &format, nullptr, &attr, &error);
            if (!s) {
                return;
            }
            std::vector<int16_t> chunk(441);
            while (!stop_) {
                if (pa_simple_read(s, chunk.data(), chunk.size() * 2, &error) < 0) {
                    break;
                }
                std::lock_guard lock(mutex_);
                samples_.insert(samples_.end(), chunk.begin(), chunk.end());
            }
            pa_simple_free(s);
        });
    }
    ~MonitorRecorder() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::vector<int16_t> samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }

  private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<int16_t> samples_;
};

// Keeps what the decoder hands it.
class KeptSound : public SoundSink {
  public:
    bool open(uint32_t rate, uint8_t channels) override {
        rate_ = rate;
        channels_ = channels;
        return true;
    }
    bool write(const int16_t* samples, size_t count) override {
        samples_.insert(samples_.end(), samples, samples + count);
        return true;
    }
    bool finish(bool) override { return true; }

    double seconds() const { return rate_ ? double(samples_.size()) / channels_ / rate_ : 0.0; }
    const std::vector<int16_t>& samples() const { return samples_; }
    // The lower of the tone's crests (the loudest sample on either side) in
    // dB of full scale; -inf for digital silence.
    double peakDb() const {
        const auto [low, high] = std::minmax_element(samples_.begin(), samples_.end());
        const int peak = samples_.empty() ? 0 : std::min(-int{*low}, int{*high});
        return 20 * std::log10(std::max(peak, 0) / 32767.0);
    }

  private:
    std::vector<int16_t> samples_;
    uint32_t rate_ = 0;
    uint8_t channels_ = 1;
};

// Writes a sound file of format holding a tone at level dBFS (-inf: digital
// silence) of a quarter of the Nyquist rate, so that samples fall on its
// crests, and returns its bytes.
std::vector<uint8_t> toneFile(const std::string& name, int format, int rate, double seconds,
                              double level) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(name.c_str(), SFM_WRITE, &info);
    if (!f) {
        return {};
    }
    std::vector<double> tone(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = std::pow(10.0, level / 20) * std::sin(2 * M_PI * double(i) / 8);
    }
    sf_writef_double(f, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(f);
    return test::fileBytes(name);
}

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!chatterly::test::soundServerAvailable()) {
            GTEST_SKIP() << "no sound server (run under tools/with-sound-server.sh)";
        }
    }
};

}  // namespace

TEST_F(PlaybackTest, AToneImageIsHeardOnTheLoudspeaker) {
    const auto image = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 1.0);
    MonitorRecorder monitor;
    EXPECT_TRUE(Playback::PlayVoiceMessage(image.data(), image.size()));
    monitor.finish();
    EXPECT_GT(test::loudSamples(monitor.samples()), 22050u / 2);
    EXPECT_NEAR(test::crossingsPerLoudSecond(monitor.samples(), 22050), 2000.0, 200.0);
}

TEST_F(PlaybackTest, EveryUsualWavFormatPlays) {
    struct Case {
        const char* name;
        int format, channels, rate;
    };
    const Case cases[] = {
        {"8-bit", SF_FORMAT_PCM_U8, 1, 11025},        {"16-bit stereo", SF_FORMAT_PCM_16, 2, 44100},
        {"IMA ADPCM", SF_FORMAT_IMA_ADPCM, 1, 22050}, {"MS ADPCM", SF_FORMAT_MS_ADPCM, 1, 8000},
        {"u-law", SF_FORMAT_ULAW, 1, 8000},           {"GSM 6.10", SF_FORMAT_GSM610, 1, 8000},
    };
    for (const Case& c : cases) {
        const auto image = test::toneImage(c.format, c.channels, c.rate, 0.2);
        EXPECT_TRUE(Playback::PlayVoiceMessage(image.data(), image.size())) << c.name;
    }
}

TEST_F(PlaybackTest, BytesThatAreNoSoundAreNotPlayed) {
    const std::string junk = "this is not a sound file at all, just some text bytes";
    EXPECT_FALSE(Playback::PlayVoiceMessage(junk.data(), junk.size()));
    auto image = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.1);
    EXPECT_FALSE(Playback::PlayVoiceMessage(image.data(), 12));  // a header cut short
    EXPECT_FALSE(Playback::PlayVoiceMessage(nullptr, 0));
    // Sounds that are no RIFF WAVE image never reach the decoder.
    for (const int major : {SF_FORMAT_FLAC, SF_FORMAT_OGG, SF_FORMAT_AIFF}) {
        const int format = major == SF_FORMAT_OGG ? SF_FORMAT_VORBIS : SF_FORMAT_PCM_16;
        const auto other = test::toneImage(format, 1, 22050, 0.2, 1000.0, major);
        ASSERT_FALSE(other.empty()) << major;
        EXPECT_FALSE(Playback::PlayVoiceMessage(other.data(), other.size())) << major;
    }
}

TEST_F(PlaybackTest, AnImageThatClaimsMoreTimeThanItsBytesCarryIsRefusedAtOnce) {
    // 160 samples of 8-bit sound at 8 Hz claim 20 s for a couple of hundred
    // bytes.
    const auto image = test::toneImage(SF_FORMAT_PCM_U8, 1, 8, 20.0, 1.0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Playback::PlayVoiceMessage(image.data(), image.size()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(PlaybackTest, AnImageCutShortPlaysWhatArrivedAndReadsNoFurther) {
    auto image = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.5);
    // Exactly the received bytes on the heap: reading past them would be
    // caught by the address sanitizer builds.
    const size_t received = image.size() / 2;
    std::unique_ptr<uint8_t[]> cut(new uint8_t[received]);
    std::memcpy(cut.get(), image.data(), received);
    EXPECT_TRUE(Playback::PlayVoiceMessage(cut.get(), received));
}

TEST_F(PlaybackTest, TheCueWithoutItsFileIsSilentAndReportsNothing) {
    ScratchDirectory dir;
    Playback::PlayCallWaitingCue();
    EXPECT_FALSE(Playback::playFile("CallWaiting.wav"));
}

TEST_F(PlaybackTest, TheShippedSoundFilesPlay) {
    EXPECT_TRUE(Playback::playFile(CHATTERLY_RESOURCE_DIR "/CallWaiting.wav"));
    SF_INFO info{};
    SNDFILE* busy = sf_open(CHATTERLY_RESOURCE_DIR "/Busy.wav", SFM_READ, &info);
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    sf_close(busy);
}

TEST_F(PlaybackTest, PlayingOnTheGuiThreadKeepsServingWindowRequests) {
    const auto image = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 1.5);
    std::atomic<bool> served{false};
    std::atomic<bool> playing{true};
    std::atomic<bool> servedWhilePlaying{false};
    std::thread worker([&] {
        WindowRequests::run([&] { servedWhilePlaying = playing.load(); });
        served = true;
    });
    EXPECT_TRUE(Playback::PlayVoiceMessage(image.data(), image.size()));
    playing = false;
    EXPECT_TRUE(chatterly::test::waitFor([&] { return served.load(); }));
    worker.join();
    EXPECT_TRUE(servedWhilePlaying);
}

TEST(WavDecoderTest, AnImagePlaysAtItsLevelForNoLongerThanItsBytesCarry) {
    ScratchDirectory dir;
    constexpr double kSilent = -std::numeric_limits<double>::infinity();
    constexpr double kLossy = std::numeric_limits<double>::quiet_NaN();  // level not checked
    struct Row {
        const char* name;
        int format, rate;
        double seconds, level;  // what the file holds
        bool plays;
        bool asCue;  // also played as the station's own file
    };
    const Row rows[] = {
        {"16-bit PCM", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 0.5, -6, true, true},
        {"32-bit float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 0.5, -6, true, true},
        {"64-bit float", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 22050, 0.5, -6, true, true},
        {"float, extensible", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 22050, 0.5, -6, true, true},
        {"float above full scale", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 0.5, 6, true, false},
        {"silent recording", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 0.5, kSilent, true, true},
        {"no frame", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 0.0, -6, false, true},
        // About 10 KB each: the bound lets them claim about 6.3 s.
        {"10 KB claiming 10 s", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1024, 10.0, -6, false, false},
        {"10 KB claiming 5 s", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2048, 5.0, -6, true, false},
        // 25 blocks and a pad byte, which libsndfile counts as a 26th block:
        // it claims 1.04 s in 1686 bytes.
        {"GSM 6.10", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1.0, kLossy, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto image =
            toneFile("CallWaiting.wav", row.format, row.rate, row.seconds, row.level);
        ASSERT_FALSE(image.empty());
        for (const bool asCue : {false, true}) {
            if (asCue && !row.asCue) {
                continue;
            }
            KeptSound sound;
            EXPECT_EQ(asCue ? WavDecoder::decodeFile("CallWaiting.wav", sound)
                            : WavDecoder::decode(image.data(), image.size(), sound),
                      row.plays)
                << (asCue ? "as the cue" : "as an image");
            if (!row.plays) {
                continue;
            }
            EXPECT_GE(sound.seconds(), row.seconds);
            if (row.level == kSilent) {
                EXPECT_EQ(sound.peakDb(), kSilent);
            } else if (!std::isnan(row.level)) {
                EXPECT_NEAR(sound.peakDb(), std::min(row.level, 0.0), 0.5);
            }
        }
    }
}

// A 2 s tone of 1 kHz written through SpeedChange in blocks: it lasts its
// time over the speed, at its own pitch (in each channel), and at 1× every
// sample passes as it was.
TEST(SpeedChangeTest, AToneLastsItsTimeOverTheSpeedAtItsOwnPitch) {
    constexpr int kRate = 22050;
    const std::vector<int16_t> mono = test::sine(2 * kRate, kRate);
    const struct {
        double speed;
        uint8_t channels;
    } rows[] = {{1.0, 1}, {1.25, 1}, {1.5, 1}, {2.0, 1}, {2.0, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.speed << "x, " << int{row.channels} << " channels");
        std::vector<int16_t> written;
        for (const int16_t sample : mono) {
            written.insert(written.end(), row.channels, sample);
        }
        KeptSound kept;
        SpeedChange faster(kept, row.speed);
        ASSERT_TRUE(faster.open(kRate, row.channels));
        const size_t block = 4000 * row.channels;
        for (size_t at = 0; at < written.size(); at += block) {
            ASSERT_TRUE(faster.write(written.data() + at, std::min(block, written.size() - at)));
        }
        ASSERT_TRUE(faster.finish(false));
        EXPECT_NEAR(kept.seconds(), 2.0 / row.speed, 0.02);
        if (row.speed == 1.0) {
            EXPECT_EQ(kept.samples(), written);
        }
        for (uint8_t channel = 0; channel < row.channels; ++channel) {
            std::vector<int16_t> one;
            for (size_t i = channel; i < kept.samples().size(); i += row.channels) {
                one.push_back(kept.samples()[i]);
            }
            EXPECT_NEAR(test::crossingsPerLoudSecond(one, kRate), 2000.0, 2000.0 * 0.02);
        }
    }
}

TEST(WavDecoderTest, ACueThatIsAFifoIsNotWaitedFor) {
    ScratchDirectory dir;
    ASSERT_EQ(::mkfifo("CallWaiting.wav", 0600), 0);
    std::atomic<bool> returned{false};
    bool played = true;
    std::thread cue([&] {
        KeptSound sound;
        played = WavDecoder::decodeFile("CallWaiting.wav", sound);
        returned = true;
    });
    const bool promptly = test::waitFor([&] { return returned.load(); });
    if (!promptly) {
        // It waits in the open for a writer: give it one, so the test ends.
        const int writer = ::open("CallWaiting.wav", O_WRONLY | O_NONBLOCK);
        ::close(writer);
    }
    cue.join();
    EXPECT_TRUE(promptly);
    EXPECT_FALSE(played);
}
