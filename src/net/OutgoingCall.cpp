#include "net/OutgoingCall.h"

#include "audio/VoiceRecorder.h"
#include "control/SignalEvents.h"
#include "framework/threads/ErrorReport.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"

namespace chatterly {
namespace {

// The longest the worker sleeps between two looks at its events and messages.
constexpr std::chrono::milliseconds kPass{500};

}  // namespace

OutgoingCall::OutgoingCall(Options options, CallStation& station, VoiceRecorder& recorder,
                           CConnectionSocket& connection, std::function<bool()> cancelled,
                           std::atomic<bool>& recording)
    : options_(options),
      station_(station),
      recorder_(recorder),
      connection_(connection),
      cancelled_(std::move(cancelled)),
      recording_(recording),
      queue_(MessageQueue::currentShared()),
      loop_(ThreadLoop::current()) {}

bool OutgoingCall::connect(const std::string& address) {
    connection_.SetGiveUpTime(std::chrono::steady_clock::now() + options_.connectLimit);
    // A socket that cannot be made cannot connect either.
    const bool connected =
        !cancelled_() && connection_.Create() && connection_.Connect(address, options_.port);
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

void OutgoingCall::serve() {
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
        recorder_.StopAndSendRecording(&connection_);
        if (!connection_.IsOpen()) {
            return;  // it failed under the message and ended the call
        }
    }
}

// One of the thread's messages a pass, the passes at most 500 ms apart and at
// once when a message comes or Talk is pressed (Disconnect presses it too).
bool OutgoingCall::awaitPress() {
    ThreadLoop::Pump pump;
    pump.runs = ThreadLoop::Pump::Runs::Hook;
    pump.hook = [this] { (void)connection_.PumpWhileWaiting(); };
    pump.pass = kPass;
    bool pressed = false;
    loop_.pumpUntil([&] { return (pressed = TalkStartEvent.poll()) || cancelled_(); }, std::nullopt,
                    pump);
    return pressed;
}

// The thread's messages wait, frames from the far end too; only the
// connection's close is taken at once (it runs Disconnect, which releases
// Talk).
bool OutgoingCall::awaitRelease() {
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

}  // namespace chatterly
