#pragma once
// The call controller: turns the station window's buttons and the network's
// notifications into call state (enabled buttons, LED picture, window
// caption, running workers, where a Talk press goes). It coordinates the
// workers through the five signal events and reaches the window only through
// StationView requests, so Disconnect, SetConnectedControls and
// SetIncomingState may be called from any thread.
//
// The operations of the other subsystems that it calls at its steps are
// given to it as CallHooks.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "control/StationView.h"
#include "control/StatusDisplays.h"

namespace chatterly {

struct CallHooks {
    std::function<void()> startCaller;           // start a CallerThread
    std::function<bool()> startRecording;        // StartRecording, on this thread
    std::function<void()> stopAndSendRecording;  // StopAndSendRecording, on this thread
    std::function<void()> closeIncoming;         // close the incoming connection, if any
    std::function<void()> clearIncoming;         // forget the incoming connection
    std::function<std::string()> incomingPeer;   // caller's alias or dotted address
    std::function<void()> startProperties;       // the desktop's sound settings
};

class CallController {
  public:
    CallController(std::shared_ptr<StationView> view, std::shared_ptr<StatusDisplays> displays,
                   CallHooks hooks);

    // Button handlers, on the GUI thread.
    void OnConnectButton();
    void OnTalkButton();
    void OnPropertiesButton();

    // Any thread.
    void Disconnect();
    void SetConnectedControls(bool connected);
    void SetIncomingState(bool active);

    std::string RemoteText() const;
    bool IncomingCall() const { return incomingCall_; }
    bool TimerRecorded() const { return timerRecorded_; }

  private:
    std::shared_ptr<StationView> view_;
    std::shared_ptr<StatusDisplays> displays_;
    CallHooks hooks_;

    mutable std::mutex remoteMutex_;
    std::string remoteText_;
    std::atomic<bool> incomingCall_{false};
    std::atomic<bool> timerRecorded_{false};
};

}  // namespace chatterly
