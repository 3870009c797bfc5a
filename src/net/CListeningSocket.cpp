#include "net/CListeningSocket.h"

#include <unistd.h>

#include "framework/threads/ThreadStarter.h"
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
    std::erase_if(connections_, [this](const std::unique_ptr<CConnectionSocket>& c) {
        return !c->IsOpen() && !c->InUse() && c.get() != station_->incomingConnection();
    });
    auto connection = std::make_unique<CConnectionSocket>(station_);
    if (!Accept(*connection)) {
        // Nothing was taken (the caller gave up before the accept, or the
        // process is out of descriptors): the station stays as it was.
        return;
    }
    CConnectionSocket* accepted = connection.get();
    connections_.push_back(std::move(connection));
    station_->setIncomingConnection(accepted);
    station_->SetIncomingState(true);
}

void CListeningSocket::RefuseCaller() {
    CSocket caller;
    if (!Accept(caller)) {
        return;
    }
    const int handle = caller.Detach();
    if (!BusyResponder::tryStart(handle)) {
        // Too many refused callers are being answered already: this one is
        // closed at once, so a flood cannot hold the station.
        ::close(handle);
    }
}

}  // namespace chatterly
