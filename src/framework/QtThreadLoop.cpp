#include "framework/QtThreadLoop.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include "framework/ErrorReport.h"
#include "framework/WindowRequests.h"

namespace chatterly {
namespace {

int holdDepth = 0;  // GUI thread only

}  // namespace

QtThreadLoop::NetworkHold::NetworkHold() {
    ++holdDepth;
}
QtThreadLoop::NetworkHold::~NetworkHold() {
    --holdDepth;
}
bool QtThreadLoop::networkHeld() {
    return holdDepth > 0;
}

QtThreadLoop::QtThreadLoop()
    : queue_(MessageQueue::currentShared()),
      queueNotifier_(queue_->wakeFd(), QSocketNotifier::Read),
      requestNotifier_(WindowRequests::wakeFd(), QSocketNotifier::Read) {
    ThreadLoop::install(this);
    WindowRequests::attachGuiThread();
    connect(&queueNotifier_, &QSocketNotifier::activated, this, [this] {
        queue_->drainWake();
        dispatchQueued();
    });
    connect(&requestNotifier_, &QSocketNotifier::activated, this, [] { WindowRequests::serve(); });
}

QtThreadLoop::~QtThreadLoop() {
    ThreadLoop::install(nullptr);
}

void QtThreadLoop::watch(int fd, short events, Watch onReady) {
    unwatch(fd);
    FdWatch& w = watches_[fd];
    w.callback = std::make_shared<Watch>(std::move(onReady));
    auto make = [&](QSocketNotifier::Type type, short revents) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, type);
        std::weak_ptr<Watch> callback = w.callback;
        connect(notifier.get(), &QSocketNotifier::activated, this, [callback, revents] {
            if (auto cb = callback.lock()) {
                (*cb)(revents);
            }
        });
        return notifier;
    };
    if (events & POLLIN) {
        w.read = make(QSocketNotifier::Read, POLLIN);
    }
    if (events & POLLOUT) {
        w.write = make(QSocketNotifier::Write, POLLOUT);
    }
    if (events & POLLPRI) {
        w.exception = make(QSocketNotifier::Exception, POLLPRI);
    }
}

void QtThreadLoop::unwatch(int fd) {
    auto it = watches_.find(fd);
    if (it == watches_.end()) {
        return;
    }
    // Notifiers may be deleted from inside their own activation.
    for (auto* n : {&it->second.read, &it->second.write, &it->second.exception}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n).release()->deleteLater();
        }
    }
    watches_.erase(it);
}

bool QtThreadLoop::hasMessage() {
    return !queue_->empty();
}

void QtThreadLoop::dispatchQueued() {
    for (;;) {
        auto message = networkHeld() ? queue_->takeFirstPosted() : queue_->take();
        if (!message) {
            return;
        }
        if (message->handler) {
            ErrorReport::run(message->handler);
        }
    }
}

bool QtThreadLoop::dispatchOne() {
    auto message = networkHeld() ? queue_->takeFirstPosted() : queue_->take();
    if (message) {
        if (message->handler) {
            ErrorReport::run(message->handler);
        }
        return true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return false;
}

void QtThreadLoop::waitForMessage(int timeoutMs) {
    WindowRequests::serve();
    if (!queue_->empty()) {
        return;
    }
    QTimer timer;
    if (timeoutMs >= 0) {
        timer.setSingleShot(true);
        timer.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace chatterly
