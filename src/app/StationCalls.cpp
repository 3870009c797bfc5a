#include "app/StationCalls.h"

#include "audio/Playback.h"
#include "control/CallController.h"
#include "control/StatusDisplays.h"
#include "framework/WindowRequests.h"
#include "net/CConnectionSocket.h"

namespace chatterly {

StationCalls::StationCalls(std::shared_ptr<StatusDisplays> displays)
    : displays_(std::move(displays)) {}

void StationCalls::SetController(std::weak_ptr<CallController> controller) {
    controller_ = std::move(controller);
}

CConnectionSocket* StationCalls::IncomingConnection() {
    return incoming_;
}

void StationCalls::SetIncomingConnection(CConnectionSocket* connection) {
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

void StationCalls::CloseIncoming() {
    WindowRequests::run([this] {
        if (incoming_) {
            incoming_->Close();
        }
    });
}

void StationCalls::ClearIncoming() {
    WindowRequests::run([this] { incoming_ = nullptr; });
}

std::string StationCalls::IncomingPeerAddress() {
    std::string address;
    WindowRequests::run([&] {
        if (incoming_) {
            address = incoming_->PeerAddress();
        }
    });
    return address;
}

void StationCalls::Detach() {
    incoming_ = nullptr;
}

}  // namespace chatterly
