#include "app/StationCalls.h"

#include <algorithm>
#include <chrono>

#include "app/SoundSettings.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/StationView.h"
#include "control/StatusDisplays.h"
#include "framework/streams/AnsiCodec.h"
#include "framework/threads/WindowRequests.h"
#include "memory/StationMemory.h"
#include "net/CConnectionSocket.h"
#include "net/CallerWorker.h"

namespace chatterly {

StationCalls::StationCalls(std::shared_ptr<StationView> view,
                           std::shared_ptr<StatusDisplays> displays,
                           std::shared_ptr<VoiceRecorder> recorder,
                           std::shared_ptr<StationMemory> memory,
                           std::shared_ptr<CallerWorker> caller,
                           std::shared_ptr<StationHistory> history)
    : view_(std::move(view)),
      displays_(std::move(displays)),
      recorder_(std::move(recorder)),
      memory_(std::move(memory)),
      caller_(std::move(caller)),
      history_(std::move(history)) {}

int64_t StationCalls::newCall() {
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    int64_t last = lastCall_.load();
    while (!lastCall_.compare_exchange_weak(last, std::max(now, last + 1))) {
    }
    return std::max(now, last + 1);
}

StationHistory::Remote StationCalls::remoteHere() {
    StationHistory::Remote remote;
    std::string address;
    std::string alias;
    if (WindowRequests::isGuiThread()) {
        address = incoming_ ? incoming_->PeerAddress() : std::string();
    } else {
        // The text called may be the alias, or an address the memory knows
        // by one.
        const std::string text = remoteText();
        address = resolveRemote(text);
        alias = text;
    }
    if (const std::string known = memory_->callerName(address); known != address) {
        alias = known;
    }
    remote.address = AnsiCodec::toQString(address).toStdString();
    if (alias != address) {
        remote.alias = AnsiCodec::toQString(alias).toStdString();
    }
    return remote;
}

void StationCalls::setController(std::weak_ptr<CallController> controller) {
    controller_ = std::move(controller);
}

CConnectionSocket* StationCalls::incomingConnection() {
    return incoming_;
}

void StationCalls::setIncomingConnection(CConnectionSocket* connection) {
    if (connection && connection != incoming_) {
        incomingCall_ = newCall();
    }
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
    const bool incoming = WindowRequests::isGuiThread();
    view_->announceSpeaker(incoming ? incomingCallerName() : remoteText());
    return history_->receive(image, length, remoteHere(), incoming ? incomingCall_ : outgoingCall_);
}

void StationCalls::messageSent(const std::vector<uint8_t>& image) {
    history_->sent(image, remoteHere(),
                   WindowRequests::isGuiThread() ? incomingCall_ : outgoingCall_);
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
    outgoingCall_ = newCall();
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
