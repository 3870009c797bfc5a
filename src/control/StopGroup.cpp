#include "control/StopGroup.h"

namespace chatterly {

uint64_t StopGroup::enter() {
    std::lock_guard lock(mutex_);
    ++running_[epoch_];
    return epoch_;
}

void StopGroup::leave(uint64_t epoch) {
    {
        std::lock_guard lock(mutex_);
        if (--running_[epoch] <= 0) {
            running_.erase(epoch);
        }
    }
    changed_.notify_all();
}

void StopGroup::stopAll() {
    {
        std::lock_guard lock(mutex_);
        ++epoch_;
    }
    changed_.notify_all();
}

bool StopGroup::stale(uint64_t epoch) const {
    std::lock_guard lock(mutex_);
    return epoch != epoch_;
}

int StopGroup::running() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& entry : running_) {
        n += entry.second;
    }
    return n;
}

bool StopGroup::newerRunning(uint64_t epoch) const {
    std::lock_guard lock(mutex_);
    return running_.upper_bound(epoch) != running_.end();
}

void StopGroup::sleep(uint64_t epoch, std::chrono::milliseconds period) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, period, [&] { return epoch != epoch_; });
}

}  // namespace chatterly
