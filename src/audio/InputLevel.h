#pragma once
// The microphone's level, from the capture thread to whoever shows it. The
// capture thread (the one writer) feeds every chunk it reads, before anything
// else is done with it; a reader takes what came since its previous take: the
// loudest peak of those samples and their RMS, in dBFS (full scale 32768),
// silence reading kFloorDb.
//
// Neither side ever waits on the other, and there is no lock: the writer keeps
// running totals (sum of squares, sample count) under a sequence count, so a
// reader gets a matching pair or tries again, and keeps the loudest peak since
// the last take in an atomic the reader swaps for zero. Feeding a chunk costs
// one pass over its samples and a few atomic stores. One writer, one reader.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace chatterly {

class InputLevel {
  public:
    static constexpr double kFloorDb = -90.0;

    struct Reading {
        double peakDb = kFloorDb;  // the loudest sample since the previous take
        double rmsDb = kFloorDb;   // the RMS of the samples since the previous take
        uint64_t samples = 0;      // how many samples that was
    };

    // The capture thread: the samples just captured.
    void feed(const int16_t* samples, size_t count);
    // The reader: the level of the samples fed since its previous take.
    Reading take();

    // An amplitude (in sample units) in dBFS, no lower than kFloorDb.
    static double toDb(double amplitude);

  private:
    std::atomic<uint32_t> sequence_{0};    // odd while the writer changes the totals
    std::atomic<uint64_t> sumSquares_{0};  // of every sample fed (wraps harmlessly)
    std::atomic<uint64_t> count_{0};       // samples fed
    std::atomic<uint32_t> peak_{0};        // the largest magnitude since the last take
    uint64_t takenSum_ = 0;                // the reader's totals at its last take
    uint64_t takenCount_ = 0;
};

}  // namespace chatterly
