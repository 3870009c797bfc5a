#include "audio/WavEncoder.h"

#include <sndfile.h>

#include <algorithm>

#include "audio/SoundFileMemory.h"

namespace chatterly {

bool WavEncoder::encode(uint32_t rate, const std::vector<std::vector<int16_t>>& blocks,
                        std::vector<uint8_t>& image, uint64_t first, uint64_t count) {
    uint64_t total = 0;
    for (const auto& block : blocks) {
        total += block.size();
    }
    first = std::min(first, total);
    const uint64_t samples = std::min(count, total - first);
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
    uint64_t skip = first;    // samples before the range, in the blocks still to come
    uint64_t left = samples;  // samples of the range still to write
    for (const auto& block : blocks) {
        const uint64_t from = std::min<uint64_t>(skip, block.size());
        skip -= from;
        const auto n = static_cast<sf_count_t>(std::min<uint64_t>(block.size() - from, left));
        if (n == 0) {
            continue;
        }
        left -= static_cast<uint64_t>(n);
        if (sf_write_short(file, block.data() + from, n) != n) {
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
