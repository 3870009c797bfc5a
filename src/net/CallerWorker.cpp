#include "net/CallerWorker.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "audio/VoiceRecorder.h"
#include "control/SignalEvents.h"
#include "framework/threads/ErrorReport.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"

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

namespace {

// The longest the worker sleeps between two looks at its events and messages.
constexpr std::chrono::milliseconds kPass{500};

// One outgoing call, run on the worker's thread from connect to close.
class OutgoingCall {
  public:
    OutgoingCall(CallerWorker::Options options, CallStation& station, VoiceRecorder& recorder,
                 CConnectionSocket& connection, const std::function<bool()>& cancelled,
                 std::atomic<bool>& recording)
        : options_(options),
          station_(station),
          recorder_(recorder),
          connection_(connection),
          cancelled_(cancelled),
          recording_(recording),
          queue_(MessageQueue::currentShared()),
          loop_(ThreadLoop::current()) {}

    // Connects to address; false (after the message and Disconnect, unless
    // the call was cancelled) when no call stands.
    bool connect(const std::string& address) {
        (void)connection_.Create();
        connection_.SetGiveUpTime(std::chrono::steady_clock::now() + options_.connectLimit);
        const bool connected = !cancelled_() && connection_.Connect(address, options_.port);
        connection_.SetGiveUpTime(std::nullopt);
        if (!connected) {
            if (!cancelled_()) {
                MessageBox::show("Failed to connect to remote parlio.");
                station_.Disconnect();
            }
            return false;
        }
        // On the GUI thread, where Disconnect runs: a call that a Disconnect
        // ended meanwhile never shows as connected.
        bool stands = false;
        WindowRequests::run([&] {
            if (!cancelled_()) {
                station_.SetConnectedControls(true);
                stands = true;
            }
        });
        return stands;
    }

    // Serves Talk until Disconnect, a cancel or a failed send ends the call.
    void serve() {
        while (awaitPress()) {
            if (DisconnectEvent.poll()) {
                return;
            }
            recording_ = true;
            if (!recorder_.StartRecording()) {
                recording_ = false;
                continue;
            }
            const bool released = awaitRelease();
            recording_ = false;
            if (!released || DisconnectEvent.poll()) {
                // The call ended with Talk down: nobody goes on talking into it.
                recorder_.dropRecording();
                return;
            }
            if (!recorder_.StopAndSaveRecording()) {
                continue;
            }
            std::optional<std::vector<uint8_t>> recording = recorder_.LoadRecording();
            if (!recording) {
                continue;
            }
            if (!send(*recording)) {
                return;
            }
        }
    }

  private:
    // Between presses: one of the thread's messages a pass, the passes at
    // most 500 ms apart and at once when a message comes or Talk is pressed
    // (Disconnect presses it too). False when the call was cancelled.
    bool awaitPress() {
        ThreadLoop::Pump pump;
        pump.runs = ThreadLoop::Pump::Runs::Hook;
        pump.hook = [this] { (void)connection_.PumpWhileWaiting(); };
        pump.pass = kPass;
        bool pressed = false;
        loop_.pumpUntil([&] { return (pressed = TalkStartEvent.poll()) || cancelled_(); },
                        std::nullopt, pump);
        return pressed;
    }

    // While Talk is down the thread's messages wait, frames from the far end
    // too; only the connection's close is taken at once (it runs Disconnect,
    // which releases Talk). False when the call was cancelled.
    bool awaitRelease() {
        const void* socket = static_cast<const CAsyncSocket*>(&connection_);
        ThreadLoop::Pump pump;
        pump.runs = ThreadLoop::Pump::Runs::Nothing;
        pump.pass = kPass;
        bool released = false;
        loop_.pumpUntil(
            [&] {
                if ((released = TalkStopEvent.poll()) || cancelled_()) {
                    return true;
                }
                // Its Disconnect sets TalkStopEvent: the next look takes it.
                if (auto closed = queue_->takeNetwork(socket, FD_CLOSE)) {
                    ErrorReport::run(closed->handler, ErrorOrigin::Call);
                }
                return false;
            },
            std::nullopt, pump);
        return released;
    }

    // One frame; false when the call ended under it (a connection that
    // failed has returned the station to idle and said so).
    bool send(const std::vector<uint8_t>& recording) {
        connection_.sendRecording(recording);
        return connection_.IsOpen();
    }

    const CallerWorker::Options options_;
    CallStation& station_;
    VoiceRecorder& recorder_;
    CConnectionSocket& connection_;
    const std::function<bool()>& cancelled_;
    std::atomic<bool>& recording_;
    const std::shared_ptr<MessageQueue> queue_;
    ThreadLoop& loop_;
};

}  // namespace

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
    const std::function<bool()> cancelled = [&call] { return call->isCancelled(); };

    remoteText = station.remoteText();
    remoteAddress = station.resolveRemote(remoteText);
    OutgoingCall outgoing(options, station, recorder, connection, cancelled, call->recording);
    if (outgoing.connect(remoteAddress)) {
        outgoing.serve();
    }
    // The far end sees the close and returns to idle.
    connection.Close();
}

}  // namespace chatterly
