#include "audio/WavEncoder.h"

#include <sndfile.h>

#include "audio/SoundFileMemory.h"

namespace chatterly {

bool WavEncoder::encode(uint32_t rate, const std::vector<std::vector<int16_t>>& blocks,
                        std::vector<uint8_t>& image) {
    uint64_t samples = 0;
    for (const auto& block : blocks) {
        samples += block.size();
    }
    SoundFileMemory memory(image);
    // Room for the whole image at once, so that it never grows by copying.
    image.reserve(static_cast<size_t>(imageBytes(samples)));
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = memory.open(info);
    if (!file) {
        return false;
    }
    bool written = true;
    for (const auto& block : blocks) {
        const auto n = static_cast<sf_count_t>(block.size());
        if (sf_write_short(file, block.data(), n) != n) {
            written = false;
            break;
        }
    }
    // sf_close writes the final sizes into the header.
    if (sf_close(file) != 0 || !written) {
        image.clear();
        return false;
    }
    return true;
}

}  // namespace chatterly
