#include "framework/threads/ThreadLoop.h"

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

bool ThreadLoop::hasMessage() const {
    return networkHeld() ? queue_->hasPosted() : !queue_->empty();
}

bool ThreadLoop::runQueuedOne() {
    auto message = networkHeld() ? queue_->takeFirstPosted() : queue_->take();
    if (!message) {
        return false;
    }
    if (message->handler) {
        ErrorReport::run(message->handler);
    }
    return true;
}

}  // namespace chatterly
