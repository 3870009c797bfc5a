#include "control/StopGroup.h"

#include "framework/threads/WindowRequests.h"

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
    std::lock_guard lock(mutex_);
    ++epoch_;
}

bool StopGroup::stale(uint64_t epoch) const {
    std::lock_guard lock(mutex_);
    return epoch != epoch_;
}

int StopGroup::staleRunning() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& [epoch, count] : running_) {
        if (epoch != epoch_) {
            n += count;
        }
    }
    return n;
}

int StopGroup::running() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& entry : running_) {
        n += entry.second;
    }
    return n;
}

bool StopGroup::awaitStale(std::chrono::milliseconds limit) {
    if (WindowRequests::isGuiThread()) {
        return WindowRequests::serveUntil([this] { return staleRunning() == 0; }, limit);
    }
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] {
        for (const auto& entry : running_) {
            if (entry.first != epoch_) {
                return false;
            }
        }
        return true;
    });
}

}  // namespace chatterly
