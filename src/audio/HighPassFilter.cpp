#include "audio/HighPassFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace chatterly {

// The biquad of the audio EQ cookbook with Q = 1/sqrt(2): flat above the
// cutoff, falling 12 dB an octave below it.
HighPassFilter::HighPassFilter(double cutoffHz, double rateHz) {
    const double w0 = 2.0 * std::numbers::pi * cutoffHz / rateHz;
    const double alpha = std::sin(w0) / std::numbers::sqrt2;
    const double cosW0 = std::cos(w0);
    const double a0 = 1.0 + alpha;
    b0_ = (1.0 + cosW0) / 2.0 / a0;
    b1_ = -(1.0 + cosW0) / a0;
    b2_ = b0_;
    a1_ = -2.0 * cosW0 / a0;
    a2_ = (1.0 - alpha) / a0;
}

void HighPassFilter::process(int16_t* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const double x = samples[i];
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        samples[i] = static_cast<int16_t>(std::clamp(std::lround(y), -32768L, 32767L));
    }
}

}  // namespace chatterly
