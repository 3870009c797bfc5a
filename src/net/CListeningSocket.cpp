#include "net/CListeningSocket.h"

#include <unistd.h>

#include "framework/threads/MessageQueue.h"
#include "net/BusyResponder.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"

namespace chatterly {

CListeningSocket::CListeningSocket(CallStation* station) : station_(station) {}

CListeningSocket::~CListeningSocket() {
    for (auto& connection : connections_) {
        connection.reset();
    }
    connections_.clear();
    CSocket::Close();
}

void CListeningSocket::HandleIncomingCall(int) {
    // One call at a time: a caller who comes while the station calls out is
    // turned away like a second caller, so Talk goes to the call the user
    // made and nobody else hears it.
    if (station_->inCall()) {
        RefuseCaller();
        return;
    }
    auto connection = std::make_unique<CConnectionSocket>(station_);
    if (!TryAccept(*connection)) {
        // Nothing was taken (the caller gave up before the accept, or the
        // process is out of descriptors): the station stays as it was.
        return;
    }
    connection->SetWhenClosed([this, alive = std::weak_ptr<bool>(alive_)] {
        Message free;
        free.handler = [this, alive] {
            if (alive.lock()) {
                FreeEndedCalls();
            }
        };
        MessageQueue::current().post(std::move(free));
    });
    CConnectionSocket* accepted = connection.get();
    connections_.push_back(std::move(connection));
    station_->setIncomingConnection(accepted);
    station_->SetIncomingState(true);
}

void CListeningSocket::FreeEndedCalls() {
    std::erase_if(connections_, [this](const std::unique_ptr<CConnectionSocket>& c) {
        return !c->IsOpen() && !c->InUse() && c.get() != station_->incomingConnection();
    });
}

void CListeningSocket::RefuseCaller() {
    CSocket caller;
    if (!TryAccept(caller)) {
        return;
    }
    const int handle = caller.Detach();
    if (!BusyResponder::tryStart(handle)) {
        // Too many refused callers are being answered already, or no thread
        // can be started: this one is closed at once, so a flood cannot hold
        // the station.
        ::close(handle);
    }
}

}  // namespace chatterly
