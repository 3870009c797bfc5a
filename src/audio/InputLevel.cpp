#include "audio/InputLevel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace chatterly {

void InputLevel::feed(const int16_t* samples, size_t count) {
    uint64_t sum = 0;
    uint32_t peak = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t s = samples[i];
        sum += static_cast<uint64_t>(s * s);
        peak = std::max(peak, static_cast<uint32_t>(std::abs(s)));
    }
    const uint32_t seq = sequence_.load(std::memory_order_relaxed);
    sequence_.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    sumSquares_.store(sumSquares_.load(std::memory_order_relaxed) + sum, std::memory_order_relaxed);
    count_.store(count_.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
    sequence_.store(seq + 2, std::memory_order_release);

    uint32_t current = peak_.load(std::memory_order_relaxed);
    while (peak > current && !peak_.compare_exchange_weak(current, peak)) {
    }
}

InputLevel::Reading InputLevel::take() {
    uint64_t sum = 0;
    uint64_t count = 0;
    for (;;) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        sum = sumSquares_.load(std::memory_order_relaxed);
        count = count_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
            break;
        }
        std::this_thread::yield();  // the writer is between its two stores
    }
    Reading r;
    r.samples = count - takenCount_;
    const uint64_t squares = sum - takenSum_;
    takenSum_ = sum;
    takenCount_ = count;
    r.peakDb = toDb(peak_.exchange(0));
    if (r.samples > 0) {
        r.rmsDb = toDb(std::sqrt(static_cast<double>(squares) / static_cast<double>(r.samples)));
    }
    return r;
}

double InputLevel::toDb(double amplitude) {
    if (amplitude <= 0) {
        return kFloorDb;
    }
    return std::max(kFloorDb, 20.0 * std::log10(amplitude / 32768.0));
}

}  // namespace chatterly
