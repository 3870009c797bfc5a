#pragma once
// The station as its calls reach it, from any thread: what the network side
// needs (CallStation: the incoming connection, the call state, the playback
// animation and playback, the remote text and its address, whether a call is
// held) and what the call controller asks at its steps (CallHooks: the
// outgoing call's worker, the recorder on an incoming call, the incoming
// connection, the sound settings). It is shared with the sockets and workers
// that use it and outlives the station window: once the window has gone
// (detach) it forgets the incoming connection; the view and displays it
// holds refuse their window requests, and the controller, which the station
// owns, is reached only while it lives. So nothing it does then is harmful.

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/StationHistory.h"

#include "control/CallHooks.h"
#include "net/CallStation.h"

namespace chatterly {

class CallController;
class CallerWorker;
class StationMemory;
class StationView;
class StatusDisplays;
class VoiceRecorder;

class StationCalls : public CallStation,
                     public CallHooks,
                     public std::enable_shared_from_this<StationCalls> {
  public:
    StationCalls(std::shared_ptr<StationView> view, std::shared_ptr<StatusDisplays> displays,
                 std::shared_ptr<VoiceRecorder> recorder, std::shared_ptr<StationMemory> memory,
                 std::shared_ptr<CallerWorker> caller, std::shared_ptr<StationHistory> history);
    // The controller is made after this object (it holds this as its hooks).
    void setController(std::weak_ptr<CallController> controller);

    // CallStation.
    CConnectionSocket* incomingConnection() override;
    void setIncomingConnection(CConnectionSocket* connection) override;
    bool inCall() override;
    void SetIncomingState(bool active) override;
    void PlaybackAnimation(bool start) override;
    bool PlayVoiceMessage(const void* image, size_t length) override;
    void messageSent(const std::vector<uint8_t>& image) override;
    std::string remoteText() override;
    std::string resolveRemote(const std::string& text) override;
    void SetConnectedControls(bool connected) override;
    void Disconnect() override;

    // CallHooks.
    bool startCaller() override;
    bool outgoingCallActive() override;
    bool outgoingCallRecording() override;
    void endOutgoingCall() override;
    bool StartRecording() override;
    void StopAndSendRecording() override;
    void dropRecording() override;
    void stopMessages() override;
    void endIncomingCall() override;
    std::string incomingCallerName() override;
    void startSoundSettings() override;

    // GUI thread: the window is going; the incoming connection is forgotten.
    void detach();

  private:
    std::weak_ptr<CallController> controller_;
    std::shared_ptr<StationView> view_;
    std::shared_ptr<StatusDisplays> displays_;
    std::shared_ptr<VoiceRecorder> recorder_;
    std::shared_ptr<StationMemory> memory_;
    std::shared_ptr<CallerWorker> caller_;
    std::shared_ptr<StationHistory> history_;
    CConnectionSocket* incoming_ = nullptr;  // GUI thread only
    // Each call's number (the history's count of a call's messages): the
    // time it began in milliseconds, made unique.
    std::atomic<int64_t> lastCall_{0};
    std::atomic<int64_t> incomingCall_{0};
    std::atomic<int64_t> outgoingCall_{0};

    int64_t newCall();
    // The far end of the call this thread serves, as the history keeps it.
    StationHistory::Remote remoteHere();
};

}  // namespace chatterly
