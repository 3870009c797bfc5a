#include "control/CallController.h"

#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly {

CallController::CallController(std::shared_ptr<StationView> view,
                               std::shared_ptr<StatusDisplays> displays,
                               std::shared_ptr<TalkButton> talk, std::shared_ptr<CallHooks> hooks)
    : view_(std::move(view)),
      displays_(std::move(displays)),
      talk_(std::move(talk)),
      hooks_(std::move(hooks)) {}

std::string CallController::remoteText() const {
    std::lock_guard lock(remoteMutex_);
    return remoteText_;
}

void CallController::OnConnectButton() {
    if (hooks_->outgoingCallActive()) {
        return;
    }
    const std::string remote = view_->controlText(IDC_REMOTE);
    {
        std::lock_guard lock(remoteMutex_);
        remoteText_ = remote;
    }
    DisconnectEvent.reset();
    TalkStartEvent.reset();
    TalkStopEvent.reset();
    if (remote.empty()) {
        MessageBox::show("You must supply a remote parlio to connect to.");
        return;
    }
    TimerStopEvent.reset();
    if (!hooks_->startCaller()) {
        // The system will start no thread for the call: nothing was started.
        MessageBox::show("Failed to connect to remote parlio.");
        return;
    }
    displays_->startConnectionTimer();
    timerRecorded_ = true;
    // A call being set up can be abandoned (a host that does not answer).
    view_->enableControl(IDC_DISCONNECT, true);
}

void CallController::Disconnect() {
    DisconnectEvent.set();
    TalkStartEvent.set();
    TalkStopEvent.set();
    displays_->stopConnectionTimers();
    AnimationStopEvent.set();
    displays_->stopAnimations();
    hooks_->endOutgoingCall();
    hooks_->endIncomingCall();
    hooks_->dropRecording();
    hooks_->stopMessages();
    timerRecorded_ = false;
    incomingCall_ = false;
    SetConnectedControls(false);
    view_->setWindowCaption("Chatterly");
}

void CallController::OnTalkButton() {
    if (view_->isChecked(IDC_TALK)) {
        view_->setControlText(IDC_TALK, "&Stop Recording");
        if (incomingCall_) {
            if (!hooks_->StartRecording()) {
                return;  // the recorder has said why and released Talk
            }
        } else {
            TalkStartEvent.set();
            // A release the worker has yet to take stays: it ends the
            // recording before this press starts the next.
            if (!hooks_->outgoingCallRecording()) {
                TalkStopEvent.reset();
            }
        }
    } else {
        view_->setControlText(IDC_TALK, "&Talk");
        if (incomingCall_) {
            hooks_->StopAndSendRecording();
        } else {
            TalkStartEvent.reset();
            TalkStopEvent.set();
        }
    }
}

void CallController::OnPropertiesButton() {
    hooks_->startSoundSettings();
}

void CallController::OnCloseRequest() {
    Disconnect();
    // Window requests only: nothing else of the window's runs meanwhile.
    ThreadLoop::Pump requestsOnly;
    requestsOnly.runs = ThreadLoop::Pump::Runs::Nothing;
    ThreadLoop::current().pumpUntil([] { return false; },
                                    ThreadLoop::Clock::now() + std::chrono::milliseconds(500),
                                    requestsOnly);
}

void CallController::SetConnectedControls(bool connected) {
    view_->enableControl(IDC_TALK, connected);
    view_->enableControl(IDC_DISCONNECT, connected);
    view_->enableControl(IDC_CONNECT, !connected);
    if (connected) {
        view_->showBitmap(IDC_LED, IDB_LED_CONNECTED);
    } else {
        view_->showBitmap(IDC_LED, IDB_LED_IDLE);
        talk_->uncheckTalk();
    }
}

void CallController::SetIncomingState(bool active) {
    if (active) {
        view_->bringToFront();
        SetConnectedControls(true);
        if (!timerRecorded_) {
            // A stop left pending by an earlier Disconnect would end this
            // call's timer at its first look: every call shows its time.
            TimerStopEvent.reset();
            displays_->startConnectionTimer();
        }
        view_->setWindowCaption("Chatterly Connected to " + hooks_->incomingCallerName());
    } else {
        Disconnect();
    }
    incomingCall_ = active;
}

}  // namespace chatterly
