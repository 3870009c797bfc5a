#include "framework/threads/AutoResetEvent.h"

#include <algorithm>

#include "framework/threads/MessageQueue.h"

namespace chatterly {

void AutoResetEvent::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        for (MessageQueue* queue : wakes_) {
            queue->wakeOwner();
        }
    }
    changed_.notify_one();
}

AutoResetEvent::WakeOnSet::WakeOnSet(AutoResetEvent& event, std::shared_ptr<MessageQueue> queue)
    : event_(event), queue_(std::move(queue)) {
    std::lock_guard lock(event_.mutex_);
    event_.wakes_.push_back(queue_.get());
}

AutoResetEvent::WakeOnSet::~WakeOnSet() {
    std::lock_guard lock(event_.mutex_);
    auto& wakes = event_.wakes_;
    wakes.erase(std::find(wakes.begin(), wakes.end(), queue_.get()));
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

}  // namespace chatterly
