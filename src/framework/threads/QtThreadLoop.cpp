#include "framework/threads/QtThreadLoop.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include "framework/threads/ErrorReport.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {

QtThreadLoop::QtThreadLoop()
    : ThreadLoop(MessageQueue::currentShared()),
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
    FdWatch& w = watches_[fd];
    if (w.callback) {
        *w.callback = std::move(onReady);
    } else {
        w.callback = std::make_shared<Watch>(std::move(onReady));
    }
    auto update = [&](std::unique_ptr<QSocketNotifier>& notifier, QSocketNotifier::Type type,
                      short event) {
        const bool wanted = (events & event) != 0;
        if (!notifier) {
            if (!wanted) {
                return;
            }
            notifier = std::make_unique<QSocketNotifier>(fd, type);
            std::weak_ptr<Watch> callback = w.callback;
            connect(notifier.get(), &QSocketNotifier::activated, this, [callback, event] {
                if (auto cb = callback.lock()) {
                    // Copy: the callback may rewatch this fd and replace itself.
                    Watch run = *cb;
                    run(event);
                }
            });
        }
        notifier->setEnabled(wanted);
    };
    update(w.read, QSocketNotifier::Read, POLLIN);
    update(w.write, QSocketNotifier::Write, POLLOUT);
    update(w.exception, QSocketNotifier::Exception, POLLPRI);
}

void QtThreadLoop::callAfter(int delayMs, std::function<void()> fn) {
    QTimer::singleShot(delayMs, this, [fn = std::move(fn)] { ErrorReport::run(fn); });
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

void QtThreadLoop::dispatchPaint() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void QtThreadLoop::dispatchQueued() {
    while (runQueuedOne()) {
    }
}

bool QtThreadLoop::dispatchOne() {
    if (runQueuedOne()) {
        return true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return false;
}

void QtThreadLoop::sleep(int timeoutMs, Pump::Runs runs) {
    if (runs == Pump::Runs::Nothing) {
        WindowRequests::serveWaiting(timeoutMs);
        return;
    }
    WindowRequests::serve();
    QTimer timer;
    if (timeoutMs >= 0) {
        timer.setSingleShot(true);
        timer.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace chatterly
