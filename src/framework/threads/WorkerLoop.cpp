#include "framework/threads/WorkerLoop.h"

#include <poll.h>

#include <algorithm>
#include <vector>

#include "framework/threads/ErrorReport.h"

namespace chatterly {

WorkerLoop::WorkerLoop() : ThreadLoop(MessageQueue::currentShared()) {}

void WorkerLoop::watch(int fd, short events, Watch onReady) {
    watches_[fd] = {events, std::make_shared<Watch>(std::move(onReady))};
}

void WorkerLoop::unwatch(int fd) {
    watches_.erase(fd);
}

void WorkerLoop::callAfter(int delayMs, std::function<void()> fn) {
    timers_.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs),
                    std::move(fn));
}

void WorkerLoop::runDueTimers() {
    const auto now = std::chrono::steady_clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        std::function<void()> fn = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        ErrorReport::run(fn);
    }
}

void WorkerLoop::sleep(int timeoutMs, Pump::Runs) {
    std::vector<pollfd> fds;
    fds.push_back({queue_->wakeFd(), POLLIN, 0});
    for (const auto& [fd, watch] : watches_) {
        // An fd with nothing to watch stays out: poll() would still report
        // its hang-up on every pass.
        if (watch.first != 0) {
            fds.push_back({fd, watch.first, 0});
        }
    }
    if (!timers_.empty()) {
        const auto untilNext = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   timers_.begin()->first - std::chrono::steady_clock::now())
                                   .count() +
                               1;
        const int next = static_cast<int>(std::max<int64_t>(0, untilNext));
        timeoutMs = timeoutMs < 0 ? next : std::min(timeoutMs, next);
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    runDueTimers();
    if (ready <= 0) {
        return;
    }
    if (fds[0].revents) {
        queue_->drainWake();
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        if (!fds[i].revents) {
            continue;
        }
        // A callback may unwatch fds; look each one up again.
        auto it = watches_.find(fds[i].fd);
        if (it != watches_.end() && it->second.first != 0) {
            Watch callback = *it->second.second;
            callback(fds[i].revents);
        }
    }
}

}  // namespace chatterly
