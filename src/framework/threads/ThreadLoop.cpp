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

}  // namespace chatterly
