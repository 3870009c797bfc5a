#include "support/Tones.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "support/TestSupport.h"

namespace chatterly::test {
namespace {

bool loud(int16_t s) {
    return std::abs(s) > 1000;
}

}  // namespace

std::vector<int16_t> sine(size_t count, int rate, double frequency, double amplitude) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * frequency * i / rate));
    }
    return samples;
}

std::vector<uint8_t> toneImage(int format, int channels, int rate, double seconds, double frequency,
                               int major) {
    ScratchDirectory dir;
    const std::string path = dir.file("tone.wav");
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = major | format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        return {};
    }
    const auto frames = static_cast<size_t>(seconds * rate);
    const std::vector<int16_t> tone = sine(frames, rate, frequency);
    std::vector<short> samples(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = tone[i / static_cast<size_t>(channels)];
    }
    sf_writef_short(f, samples.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
    return fileBytes(path);
}

size_t loudSamples(const std::vector<int16_t>& samples) {
    return static_cast<size_t>(std::count_if(samples.begin(), samples.end(), loud));
}

double loudSpan(const std::vector<int16_t>& samples, int rate) {
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end()) {
        return 0.0;
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return static_cast<double>(std::distance(first, last.base())) / rate;
}

double crossingsPerLoudSecond(const std::vector<int16_t>& samples, int rate) {
    size_t loudCount = 0;
    size_t crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (loud(samples[i]) || loud(samples[i - 1])) {
            ++loudCount;
            if ((samples[i - 1] < 0) != (samples[i] < 0)) {
                ++crossings;
            }
        }
    }
    return loudCount ? static_cast<double>(crossings) * rate / loudCount : 0.0;
}

}  // namespace chatterly::test
