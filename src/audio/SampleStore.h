#pragma once
// A recording's samples, kept in blocks of a fixed size (a second of sound),
// so that a long recording is never copied as it grows. It holds at most a
// limit of samples: what comes beyond it is not kept. Not locked: its owner
// (the recording device) serialises the capture and the commands.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chatterly {

class SampleStore {
  public:
    SampleStore(size_t blockSamples, uint64_t limitSamples)
        : blockSamples_(blockSamples), limit_(limitSamples) {}

    // Appends samples up to the limit; false once the limit is reached.
    bool append(const int16_t* samples, size_t count);
    // Keeps the first length samples (nothing changes when it holds fewer).
    void truncate(uint64_t length);
    // Drops every sample and gives the blocks' memory back.
    void release();

    uint64_t length() const { return length_; }
    // Only the last block is partial.
    const std::vector<std::vector<int16_t>>& blocks() const { return blocks_; }

  private:
    const size_t blockSamples_;
    const uint64_t limit_;
    std::vector<std::vector<int16_t>> blocks_;
    uint64_t length_ = 0;
};

}  // namespace chatterly
