// The voice's clean-up: the high-pass filter's response, the trim of the
// silence around a voice over built signals, and, through a real recording
// device, a recording with the clean-up off saved byte for byte as captured.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <random>

#include "audio/HighPassFilter.h"
#include "audio/RecordingDevice.h"
#include "audio/VoiceCleanup.h"
#include "audio/WavEncoder.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;

namespace {

constexpr int kRate = VoiceCleanup::kRate;

double rmsDb(const std::vector<int16_t>& s, size_t from) {
    double sum = 0;
    for (size_t i = from; i < s.size(); ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    return 10.0 * std::log10(sum / static_cast<double>(s.size() - from));
}

enum Part { Zeros, Hiss, Voice };

// A voice-like sound (harmonics of 150 Hz, swelling four times a second as
// syllables do) over a quiet hiss, the hiss alone, or the zeros of a device
// that starts, for seconds, after what is there.
void add(std::vector<int16_t>& s, Part part, double seconds) {
    static std::mt19937 random(11);
    std::normal_distribution<double> hiss(0.0, 100.0);
    const auto n = static_cast<size_t>(seconds * kRate);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = part == Zeros ? 0.0 : hiss(random);
        if (part == Voice) {
            const double swell = 0.6 + 0.4 * std::sin(2 * std::numbers::pi * 4 * t);
            for (int h = 1; h <= 20; ++h) {
                v += swell * 4000.0 / h * std::sin(2 * std::numbers::pi * 150.0 * h * t);
            }
        }
        s.push_back(static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L)));
    }
}

}  // namespace

TEST(HighPassFilterTest, HumUnderTheVoiceIsCutAndTheVoiceRangePasses) {
    const struct {
        double hz;
        double gainDb;  // the steady response
    } rows[] = {{50.0, -8.8}, {80.0, -3.0}, {1000.0, 0.0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.hz);
        std::vector<int16_t> s = test::sine(kRate, kRate, r.hz, 10000.0);
        const double before = rmsDb(s, kRate / 2);
        HighPassFilter(80.0, kRate).process(s.data(), s.size());
        EXPECT_NEAR(rmsDb(s, kRate / 2) - before, r.gainDb, 0.5);
    }
}

// Up to 150 ms of silence stays before the first voice and after the last;
// a pause between words stays; a recording without voice keeps nothing. A
// device's zeros before the room's noise do not make the noise voice.
TEST(VoiceCleanupTest, TheSilenceAroundTheVoiceIsTrimmedAndNothingWithin) {
    const uint64_t margin = VoiceCleanup::kMarginSamples;
    const uint64_t slack = kRate / 10;  // the voice detection's own latitude
    const struct {
        const char* name;
        std::vector<std::pair<Part, double>> parts;      // seconds each
        std::optional<std::pair<double, double>> voice;  // where the voice is, seconds
    } rows[] = {
        {"voice in the middle", {{Hiss, 1.5}, {Voice, 1.0}, {Hiss, 1.5}}, {{1.5, 2.5}}},
        {"voice at the very start", {{Voice, 1.0}, {Hiss, 1.5}}, {{0.0, 1.0}}},
        {"a pause inside the speech",
         {{Hiss, 1.0}, {Voice, 0.6}, {Hiss, 0.8}, {Voice, 0.6}, {Hiss, 1.0}},
         {{1.0, 3.0}}},
        {"hiss only", {{Hiss, 3.0}}, std::nullopt},
        {"a word shorter than the preprocessor's learning",
         {{Voice, 0.5}, {Hiss, 0.5}},
         {{0.0, 0.5}}},
        {"the device's zeros, then hiss and voice",
         {{Zeros, 0.3}, {Hiss, 1.5}, {Voice, 1.0}, {Hiss, 1.5}},
         {{1.8, 2.8}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<int16_t> in;
        for (const auto& [part, seconds] : r.parts) {
            add(in, part, seconds);
        }
        VoiceCleanup cleanup(VoiceCleanup::Level::Gentle);
        std::vector<int16_t> out;
        for (size_t i = 0; i < in.size(); i += 220) {
            cleanup.process(in.data() + i, std::min<size_t>(220, in.size() - i), out);
        }
        cleanup.finish(out);
        ASSERT_EQ(out.size(), in.size());
        const auto kept = VoiceCleanup::kept(cleanup.voice(), out.size());
        ASSERT_EQ(kept.has_value(), r.voice.has_value());
        if (!kept) {
            continue;
        }
        const auto begin = static_cast<uint64_t>(r.voice->first * kRate);
        const auto end = static_cast<uint64_t>(r.voice->second * kRate);
        EXPECT_LE(kept->begin, begin - std::min(begin, margin) + slack);
        EXPECT_GE(kept->begin + slack, begin - std::min(begin, margin));
        EXPECT_GE(kept->end, end + margin - slack);
        EXPECT_LE(kept->end, end + margin + slack);
        // The silence kept before the voice is cleaned as well as that after.
        if (begin > margin && kept->end >= end + margin - slack) {
            const std::vector<int16_t> before(out.begin() + kept->begin, out.begin() + begin);
            const std::vector<int16_t> after(out.begin() + end + slack, out.begin() + kept->end);
            EXPECT_LT(rmsDb(before, 0), rmsDb(after, 0) + 6.0);
        }
    }
}

// With the clean-up off the device stores what it is given, and saves it as
// it always has; on, the same samples are cleaned and trimmed.
TEST(VoiceCleanupTest, OffSavesTheCapturedSamplesByteForByte) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    std::vector<int16_t> captured;
    add(captured, Hiss, 1.0);
    add(captured, Voice, 1.0);
    add(captured, Hiss, 1.0);
    std::vector<uint8_t> plain;
    ASSERT_TRUE(WavEncoder::encode(kRate, {captured}, plain));
    for (const auto level : {VoiceCleanup::Level::Off, VoiceCleanup::Level::Gentle}) {
        SCOPED_TRACE(static_cast<int>(level));
        RecordingDevice device;
        ASSERT_EQ(device.open(), RecordingDevice::Status::Ok);
        device.setCleanUp(level);
        ASSERT_EQ(device.appendSamples(captured.data(), captured.size()),
                  RecordingDevice::Status::Ok);
        std::vector<uint8_t> image;
        ASSERT_EQ(device.save(image), RecordingDevice::Status::Ok);
        EXPECT_EQ(image == plain, level == VoiceCleanup::Level::Off);
        EXPECT_EQ(image.size() < plain.size(), level != VoiceCleanup::Level::Off);
    }
}
