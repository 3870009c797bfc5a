#include "framework/threads/ThreadLoop.h"

#include <algorithm>
#include <memory>

#include "framework/threads/ErrorReport.h"
#include "framework/threads/WorkerLoop.h"

namespace chatterly {
namespace {

thread_local ThreadLoop* installed = nullptr;

}  // namespace

ThreadLoop& ThreadLoop::current() {
    if (installed) {
        return *installed;
    }
    thread_local std::unique_ptr<WorkerLoop> own = std::make_unique<WorkerLoop>();
    return *own;
}

void ThreadLoop::install(ThreadLoop* loop) {
    installed = loop;
}

ThreadLoop::NetworkHold::~NetworkHold() {
    MessageQueue::current().wakeOwner();
}

bool ThreadLoop::hasMessage() const {
    return networkHeld() ? queue_->hasUnheld() : !queue_->empty();
}

bool ThreadLoop::runQueuedOne() {
    auto message = networkHeld() ? queue_->takeFirstUnheld() : queue_->take();
    if (!message) {
        return false;
    }
    if (message->handler) {
        // A notification runs what a far station caused.
        ErrorReport::run(message->handler, message->kind == Message::Kind::Network
                                               ? ErrorOrigin::Call
                                               : ErrorOrigin::User);
    }
    return true;
}

bool ThreadLoop::pumpUntil(const std::function<bool()>& done,
                           std::optional<Clock::time_point> deadline, const Pump& pump) {
    for (;;) {
        if (done()) {
            return true;
        }
        const auto now = Clock::now();
        if (deadline && now >= *deadline) {
            return false;
        }
        switch (pump.runs) {
            case Pump::Runs::Everything:
                while (runQueuedOne()) {
                }
                break;
            case Pump::Runs::Hook:
                pump.hook();
                break;
            case Pump::Runs::Nothing:
                break;
        }
        if (done()) {
            return true;
        }
        int timeoutMs = pump.pass.count() >= 0 ? static_cast<int>(pump.pass.count()) : -1;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
            const int leftMs = static_cast<int>(std::max<int64_t>(0, left.count()) + 1);
            timeoutMs = timeoutMs < 0 ? leftMs : std::min(timeoutMs, leftMs);
        }
        sleep(timeoutMs, pump.runs);
    }
}

}  // namespace chatterly
