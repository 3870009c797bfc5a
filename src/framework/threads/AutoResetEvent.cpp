#include "framework/threads/AutoResetEvent.h"

namespace chatterly {

void AutoResetEvent::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

void AutoResetEvent::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool AutoResetEvent::wait(int timeoutMs) {
    std::unique_lock lock(mutex_);
    if (timeoutMs == kInfinite) {
        changed_.wait(lock, [this] { return signalled_; });
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return signalled_; })) {
        return false;
    }
    signalled_ = false;
    return true;
}

bool AutoResetEvent::isSignalled() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

}  // namespace chatterly
