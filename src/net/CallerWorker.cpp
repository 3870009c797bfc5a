#include "net/CallerWorker.h"

#include <atomic>
#include <string>

#include "audio/VoiceRecorder.h"
#include "control/SignalEvents.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadStarter.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"
#include "net/OutgoingCall.h"

namespace chatterly {

// What the station and the worker's thread share for one call.
struct CallerWorker::Call {
    std::atomic<bool> recording{false};  // from a taken press to its taken release
    std::mutex mutex;
    bool cancelled = false;
    bool ended = false;
    std::shared_ptr<MessageQueue> queue;      // the worker thread's, while it runs
    CConnectionSocket* connection = nullptr;  // on the worker's stack; used on its thread only

    bool isCancelled() {
        std::lock_guard lock(mutex);
        return cancelled;
    }
};

CallerWorker::CallerWorker(Options options) : options_(options) {}

bool CallerWorker::running() const {
    std::lock_guard lock(mutex_);
    if (!call_) {
        return false;
    }
    std::lock_guard callLock(call_->mutex);
    return !call_->ended;
}

bool CallerWorker::recording() const {
    std::lock_guard lock(mutex_);
    return call_ && call_->recording;
}

bool CallerWorker::start(std::shared_ptr<CallStation> station,
                         std::shared_ptr<VoiceRecorder> recorder) {
    if (running()) {
        return false;
    }
    auto call = std::make_shared<Call>();
    {
        std::lock_guard lock(mutex_);
        call_ = call;
    }
    const bool started = ThreadStarter::start([call, station, recorder, options = options_] {
        // Whatever ends the thread, the call is over afterwards, and nothing
        // is posted to the thread's queue any more.
        struct End {
            std::shared_ptr<Call> call;
            ~End() {
                std::lock_guard lock(call->mutex);
                call->ended = true;
                call->queue.reset();
            }
        } end{call};
        CallerThread(call, options, *station, *recorder);
    });
    if (!started) {
        // No thread: no call, and Connect may try again.
        std::lock_guard lock(mutex_);
        call_.reset();
    }
    return started;
}

void CallerWorker::cancel() {
    std::shared_ptr<Call> call;
    {
        std::lock_guard lock(mutex_);
        call = call_;
    }
    if (!call) {
        return;
    }
    std::lock_guard lock(call->mutex);
    if (call->ended || call->cancelled) {
        return;
    }
    call->cancelled = true;
    if (call->queue) {
        // Closing the connection on its own thread ends any wait of it.
        Message close;
        close.handler = [weak = std::weak_ptr<Call>(call)] {
            if (auto c = weak.lock()) {
                CConnectionSocket* connection = nullptr;
                {
                    std::lock_guard lock(c->mutex);
                    connection = c->connection;
                }
                if (connection) {
                    connection->Close();
                }
            }
        };
        call->queue->post(std::move(close));
    }
}

void CallerWorker::CallerThread(const std::shared_ptr<Call>& call, Options options,
                                CallStation& station, VoiceRecorder& recorder) {
    CConnectionSocket connection(&station);
    std::string remoteAddress;
    std::string remoteText;
    const std::shared_ptr<MessageQueue> queue = MessageQueue::currentShared();
    const AutoResetEvent::WakeOnSet wakeOnPress(TalkStartEvent, queue);
    const AutoResetEvent::WakeOnSet wakeOnRelease(TalkStopEvent, queue);
    {
        std::lock_guard lock(call->mutex);
        call->queue = queue;
        call->connection = &connection;
    }
    struct Leave {
        Call& call;
        ~Leave() {
            std::lock_guard lock(call.mutex);
            call.connection = nullptr;
        }
    } leave{*call};
    remoteText = station.remoteText();
    remoteAddress = station.resolveRemote(remoteText);
    OutgoingCall outgoing(
        {options.port, options.connectLimit}, station, recorder, connection,
        [&call] { return call->isCancelled(); }, call->recording);
    if (outgoing.connect(remoteAddress)) {
        outgoing.serve();
    }
    // The far end sees the close and returns to idle.
    connection.Close();
}

}  // namespace chatterly
