#include "control/CallController.h"

#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly {

CallController::CallController(std::shared_ptr<StationView> view,
                               std::shared_ptr<StatusDisplays> displays,
                               std::shared_ptr<CallHooks> hooks)
    : view_(std::move(view)), displays_(std::move(displays)), hooks_(std::move(hooks)) {}

std::string CallController::RemoteText() const {
    std::lock_guard lock(remoteMutex_);
    return remoteText_;
}

void CallController::OnConnectButton() {
    const std::string remote = view_->ControlText(IDC_REMOTE);
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
    hooks_->startCaller();
    displays_->StartConnectionTimer();
    timerRecorded_ = true;
}

void CallController::Disconnect() {
    DisconnectEvent.set();
    TalkStartEvent.set();
    TalkStopEvent.set();
    displays_->StopConnectionTimers();
    AnimationStopEvent.set();
    displays_->StopAnimations();
    hooks_->endIncomingCall();
    timerRecorded_ = false;
    incomingCall_ = false;
    SetConnectedControls(false);
    view_->SetWindowCaption("Chatterly");
}

void CallController::OnTalkButton() {
    if (view_->IsChecked(IDC_TALK)) {
        view_->SetControlText(IDC_TALK, "&Stop Recording");
        if (incomingCall_) {
            hooks_->StartRecording();
        } else {
            TalkStartEvent.set();
            TalkStopEvent.reset();
        }
    } else {
        view_->SetControlText(IDC_TALK, "&Talk");
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
    WindowRequests::serveUntil([] { return false; }, std::chrono::milliseconds(500));
}

void CallController::SetConnectedControls(bool connected) {
    view_->EnableControl(IDC_TALK, connected);
    view_->EnableControl(IDC_DISCONNECT, connected);
    view_->EnableControl(IDC_CONNECT, !connected);
    if (connected) {
        view_->ShowBitmap(IDC_LED, IDB_LED_CONNECTED);
    } else {
        view_->ShowBitmap(IDC_LED, IDB_LED_IDLE);
        view_->SetChecked(IDC_TALK, false);
    }
}

void CallController::SetIncomingState(bool active) {
    if (active) {
        view_->BringToFront();
        SetConnectedControls(true);
        if (!timerRecorded_) {
            displays_->StartConnectionTimer();
        }
        view_->SetWindowCaption("Chatterly Connected to " + hooks_->incomingCallerName());
    } else {
        Disconnect();
    }
    incomingCall_ = active;
}

}  // namespace chatterly
