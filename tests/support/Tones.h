#pragma once
// Tones for the sound tests: a sine to play or to save, and what a recording
// of one shows: how much of it is loud, how long the loud part lasts, and its
// pitch as zero crossings per second (a 1 kHz tone gives about 2000).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chatterly::test {

std::vector<int16_t> sine(size_t count, int rate, double frequency = 1000.0,
                          double amplitude = 12000.0);

// The bytes of a sound file of a sine tone, written by libsndfile in format
// (SF_FORMAT_PCM_16, SF_FORMAT_IMA_ADPCM, ...) of major (a WAV file unless
// another is named); empty when libsndfile cannot write it.
std::vector<uint8_t> toneImage(int format, int channels, int rate, double seconds,
                               double frequency = 1000.0, int major = 0x010000);

// Samples louder than the noise (|s| > 1000).
size_t loudSamples(const std::vector<int16_t>& samples);
// Seconds from the first loud sample to the last.
double loudSpan(const std::vector<int16_t>& samples, int rate);
// Zero crossings per second over the loud samples.
double crossingsPerLoudSecond(const std::vector<int16_t>& samples, int rate);

}  // namespace chatterly::test
