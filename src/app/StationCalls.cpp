#include "app/StationCalls.h"

#include "app/SoundSettings.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/StationView.h"
#include "control/StatusDisplays.h"
#include "framework/threads/WindowRequests.h"
#include "memory/StationMemory.h"
#include "net/CConnectionSocket.h"
#include "net/CallerWorker.h"

namespace chatterly {

StationCalls::StationCalls(std::shared_ptr<StationView> view,
                           std::shared_ptr<StatusDisplays> displays,
                           std::shared_ptr<VoiceRecorder> recorder,
                           std::shared_ptr<StationMemory> memory,
                           std::shared_ptr<CallerWorker> caller)
    : view_(std::move(view)),
      displays_(std::move(displays)),
      recorder_(std::move(recorder)),
      memory_(std::move(memory)),
      caller_(std::move(caller)) {}

void StationCalls::setController(std::weak_ptr<CallController> controller) {
    controller_ = std::move(controller);
}

CConnectionSocket* StationCalls::incomingConnection() {
    return incoming_;
}

void StationCalls::setIncomingConnection(CConnectionSocket* connection) {
    incoming_ = connection;
}

bool StationCalls::inCall() {
    return incoming_ || caller_->running();
}

void StationCalls::SetIncomingState(bool active) {
    if (auto controller = controller_.lock()) {
        controller->SetIncomingState(active);
    }
}

void StationCalls::PlaybackAnimation(bool start) {
    displays_->PlaybackAnimation(start);
}

// Incoming calls play on the GUI thread, an outgoing call's messages on its
// worker: the speaker is the caller's name or the text the user called.
bool StationCalls::PlayVoiceMessage(const void* image, size_t length) {
    view_->announceSpeaker(WindowRequests::isGuiThread() ? incomingCallerName() : remoteText());
    return Playback::PlayVoiceMessage(image, length);
}

std::string StationCalls::remoteText() {
    auto controller = controller_.lock();
    return controller ? controller->remoteText() : std::string();
}

std::string StationCalls::resolveRemote(const std::string& text) {
    return memory_->resolveRemote(text);
}

void StationCalls::SetConnectedControls(bool connected) {
    if (auto controller = controller_.lock()) {
        controller->SetConnectedControls(connected);
    }
}

void StationCalls::Disconnect() {
    if (auto controller = controller_.lock()) {
        controller->Disconnect();
    }
}

bool StationCalls::startCaller() {
    return caller_->start(shared_from_this(), recorder_);
}

bool StationCalls::outgoingCallActive() {
    return caller_->running();
}

bool StationCalls::outgoingCallRecording() {
    return caller_->recording();
}

void StationCalls::endOutgoingCall() {
    caller_->cancel();
}

bool StationCalls::StartRecording() {
    return recorder_->StartRecording();
}

void StationCalls::StopAndSendRecording() {
    // The release comes on the GUI thread, which owns the incoming connection.
    CConnectionSocket* incoming = incoming_ && incoming_->IsOpen() ? incoming_ : nullptr;
    recorder_->StopAndSendRecording(incoming);
}

void StationCalls::dropRecording() {
    recorder_->dropRecording();
}

void StationCalls::stopMessages() {
    Playback::stopMessages();
}

void StationCalls::endIncomingCall() {
    WindowRequests::run([this] {
        if (incoming_) {
            incoming_->Close();
        }
        incoming_ = nullptr;
    });
}

std::string StationCalls::incomingCallerName() {
    std::string address;
    WindowRequests::run([&] {
        if (incoming_) {
            address = incoming_->PeerAddress();
        }
    });
    return memory_->callerName(address);
}

void StationCalls::startSoundSettings() {
    SoundSettings::start();
}

void StationCalls::detach() {
    incoming_ = nullptr;
}

}  // namespace chatterly
