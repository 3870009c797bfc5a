#pragma once
// The GUI thread's dispatch loop: Qt's event loop with the thread's
// MessageQueue and the window requests driven from it. A socket notifier on
// the queue's wake fd dispatches queued messages; one on the window requests'
// wake fd serves them; each watched socket fd gets notifiers of its own,
// which are kept and only enabled or disabled as the watched events change.
//
// While a blocking socket wait runs on the GUI thread it holds the network
// notifications (ThreadLoop::NetworkHold): the queue then dispatches only
// posted messages, and the wait itself takes the notifications it waits for.

#include <QObject>
#include <QSocketNotifier>
#include <map>
#include <memory>

#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"

namespace chatterly {

class QtThreadLoop : public QObject, public ThreadLoop {
    Q_OBJECT
  public:
    // Installs itself as the calling (GUI) thread's loop and attaches the
    // thread to the window requests.
    QtThreadLoop();
    ~QtThreadLoop() override;

    void watch(int fd, short events, Watch onReady) override;
    void unwatch(int fd) override;
    void callAfter(int delayMs, std::function<void()> fn) override;
    bool dispatchOne() override;
    void dispatchPaint() override;

    // Runs every queued message that may run now.
    void dispatchQueued();

  protected:
    // Qt's loop until an event comes (window requests served first); for
    // Runs::Nothing, window requests only.
    void sleep(int timeoutMs, Pump::Runs runs) override;

  private:
    struct FdWatch {
        std::unique_ptr<QSocketNotifier> read, write, exception;
        std::shared_ptr<Watch> callback;
    };

    QSocketNotifier queueNotifier_;
    QSocketNotifier requestNotifier_;
    std::map<int, FdWatch> watches_;
};

}  // namespace chatterly
