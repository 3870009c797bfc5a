#pragma once
// The encoding of the station's recordings: 16-bit PCM samples, mono, as a
// complete RIFF WAVE image in memory, written by libsndfile exactly as it
// writes such a file (the header with its final sizes, then the samples).
// WavDecoder reads what any station sends; this writes what this one sends.

#include <cstdint>
#include <vector>

namespace chatterly {

class WavEncoder {
  public:
    // Room a WAV header takes at the most beside the samples.
    static constexpr uint64_t kHeaderRoom = 4096;
    // The size of the image of samples, at the most.
    static constexpr uint64_t imageBytes(uint64_t samples) {
        return samples * sizeof(int16_t) + kHeaderRoom;
    }

    // The image of the samples, block after block, at rate samples a second,
    // into image (what it held is replaced); only count samples from first
    // on, when they are given. False (image empty) when libsndfile could not
    // write it.
    [[nodiscard]] static bool encode(uint32_t rate, const std::vector<std::vector<int16_t>>& blocks,
                                     std::vector<uint8_t>& image, uint64_t first = 0,
                                     uint64_t count = UINT64_MAX);
};

}  // namespace chatterly
