#pragma once
// One outgoing call, run on its caller worker's thread from the connect to
// the close: it connects to the remote station (within a time limit), shows
// the call as standing, and then serves Talk through the signal events. Each
// press starts a recording; each release stops it and hands it to the call's
// connection (VoiceRecorder::StopAndSendRecording, as on the receiving end).
// Between presses the thread's messages are dispatched one a pass, so frames
// from the far end are read and played on this thread; while Talk is down
// only the connection's close is taken. The call ends on Disconnect, a
// cancel, or a connection that fails under a message.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace chatterly {

class CallStation;
class CConnectionSocket;
class MessageQueue;
class ThreadLoop;
class VoiceRecorder;

class OutgoingCall {
  public:
    struct Options {
        uint16_t port;                           // where the remote station listens
        std::chrono::milliseconds connectLimit;  // a connect longer than this fails
    };

    // cancelled: whether the station has ended the call (it closes the
    // connection on this thread too). recording: set from a taken press to
    // its taken release.
    OutgoingCall(Options options, CallStation& station, VoiceRecorder& recorder,
                 CConnectionSocket& connection, std::function<bool()> cancelled,
                 std::atomic<bool>& recording);

    // Connects to address; false (after the message and Disconnect, unless
    // the call was cancelled) when no call stands.
    [[nodiscard]] bool connect(const std::string& address);

    // Serves Talk until Disconnect, a cancel or a failed send ends the call.
    void serve();

  private:
    // Between presses; false when the call was cancelled.
    bool awaitPress();
    // While Talk is down; false when the call was cancelled.
    bool awaitRelease();

    const Options options_;
    CallStation& station_;
    VoiceRecorder& recorder_;
    CConnectionSocket& connection_;
    const std::function<bool()> cancelled_;
    std::atomic<bool>& recording_;
    const std::shared_ptr<MessageQueue> queue_;
    ThreadLoop& loop_;
};

}  // namespace chatterly
