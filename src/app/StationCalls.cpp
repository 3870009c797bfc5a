#include "app/StationCalls.h"

#include "app/SoundSettings.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/StatusDisplays.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"
#include "memory/StationMemory.h"
#include "net/CConnectionSocket.h"

namespace chatterly {

StationCalls::StationCalls(std::shared_ptr<StatusDisplays> displays,
                           std::shared_ptr<VoiceRecorder> recorder,
                           std::shared_ptr<StationMemory> memory)
    : displays_(std::move(displays)), recorder_(std::move(recorder)), memory_(std::move(memory)) {}

void StationCalls::setController(std::weak_ptr<CallController> controller) {
    controller_ = std::move(controller);
}

CConnectionSocket* StationCalls::incomingConnection() {
    return incoming_;
}

void StationCalls::setIncomingConnection(CConnectionSocket* connection) {
    incoming_ = connection;
}

void StationCalls::SetIncomingState(bool active) {
    if (auto controller = controller_.lock()) {
        controller->SetIncomingState(active);
    }
}

void StationCalls::PlaybackAnimation(bool start) {
    displays_->PlaybackAnimation(start);
}

bool StationCalls::PlayVoiceMessage(const void* image, size_t length) {
    return Playback::PlayVoiceMessage(image, length);
}

void StationCalls::startCaller() {
    // Outgoing calls are not part of this station yet: a call fails as a
    // connect that did not go through.
    auto controller = controller_.lock();
    if (!controller) {
        return;
    }
    ThreadStarter::start([controller] {
        MessageBox::show("Failed to connect to remote parlio.");
        controller->Disconnect();
    });
}

bool StationCalls::StartRecording() {
    return recorder_->StartRecording();
}

void StationCalls::StopAndSendRecording() {
    // The release comes on the GUI thread, which owns the incoming connection.
    CConnectionSocket* incoming = incoming_ && incoming_->IsOpen() ? incoming_ : nullptr;
    recorder_->StopAndSendRecording(incoming);
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
