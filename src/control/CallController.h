#pragma once
// The call controller: turns the station window's buttons and the network's
// notifications into call state (enabled buttons, LED picture, window
// caption, running workers, where a Talk press goes). It coordinates the
// workers through the five signal events and reaches the window only through
// StationView requests, so Disconnect, SetConnectedControls and
// SetIncomingState may be called from any thread.
//
// The operations of the other subsystems that it calls at its steps reach
// it as CallHooks.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "control/CallHooks.h"
#include "control/StationView.h"
#include "control/StatusDisplays.h"
#include "control/TalkButton.h"

namespace chatterly {

class CallController {
  public:
    CallController(std::shared_ptr<StationView> view, std::shared_ptr<StatusDisplays> displays,
                   std::shared_ptr<TalkButton> talk, std::shared_ptr<CallHooks> hooks);

    // Button handlers, on the GUI thread. Connect does nothing while an
    // outgoing call is being set up or under way.
    void OnConnectButton();
    void OnTalkButton();
    void OnPropertiesButton();
    // The window's close request: Disconnect, then a 500 ms pause (serving
    // window requests) in which the workers see their events.
    void OnCloseRequest();

    // Any thread.
    void Disconnect();
    void SetConnectedControls(bool connected);
    void SetIncomingState(bool active);

    std::string remoteText() const;
    bool incomingCall() const { return incomingCall_; }
    bool timerRecorded() const { return timerRecorded_; }

  private:
    std::shared_ptr<StationView> view_;
    std::shared_ptr<StatusDisplays> displays_;
    std::shared_ptr<TalkButton> talk_;
    std::shared_ptr<CallHooks> hooks_;

    mutable std::mutex remoteMutex_;
    std::string remoteText_;
    std::atomic<bool> incomingCall_{false};
    std::atomic<bool> timerRecorded_{false};
};

}  // namespace chatterly
