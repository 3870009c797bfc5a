#include "audio/SampleStore.h"

#include <algorithm>

namespace chatterly {

bool SampleStore::append(const int16_t* samples, size_t count) {
    while (count > 0 && length_ < limit_) {
        if (blocks_.empty() || blocks_.back().size() == blockSamples_) {
            blocks_.emplace_back();
            blocks_.back().reserve(blockSamples_);
        }
        auto& block = blocks_.back();
        const auto n = static_cast<size_t>(
            std::min<uint64_t>({count, blockSamples_ - block.size(), limit_ - length_}));
        block.insert(block.end(), samples, samples + n);
        samples += n;
        count -= n;
        length_ += n;
    }
    return length_ < limit_;
}

void SampleStore::truncate(uint64_t length) {
    if (length >= length_) {
        return;
    }
    const auto keepBlocks = static_cast<size_t>((length + blockSamples_ - 1) / blockSamples_);
    blocks_.resize(keepBlocks);
    if (!blocks_.empty()) {
        blocks_.back().resize(static_cast<size_t>(length - (keepBlocks - 1) * blockSamples_));
    }
    length_ = length;
}

void SampleStore::release() {
    truncate(0);
    blocks_.shrink_to_fit();
}

}  // namespace chatterly
