#pragma once
// A second-order high-pass filter (a Butterworth biquad) over 16-bit
// samples, in place: it takes away the rumble under a voice (handling noise,
// wind, mains hum) before the denoiser sees it. Its state runs on from one
// call to the next, so a stream may come in pieces of any size. One thread.

#include <cstddef>
#include <cstdint>

namespace chatterly {

class HighPassFilter {
  public:
    // cutoffHz: where the response is 3 dB down; rateHz: the samples' rate.
    HighPassFilter(double cutoffHz, double rateHz);

    // Filters count samples in place, rounding and clamping to 16 bits.
    void process(int16_t* samples, size_t count);

  private:
    double b0_, b1_, b2_, a1_, a2_;  // the coefficients, a0 divided out
    double z1_ = 0.0, z2_ = 0.0;     // transposed direct form II state
};

}  // namespace chatterly
