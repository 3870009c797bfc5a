#pragma once
// The station as the network side sees it (CallStation): the incoming
// connection, the call state, the playback animation and playback. It is
// shared with the sockets and workers that use it and outlives the station
// window: once the window has gone (Detach), the call state and animation
// requests do nothing harmful, since the controller and displays they reach
// are kept alive here and their window requests are refused.

#include <memory>

#include "net/CallStation.h"

namespace chatterly {

class CallController;
class StatusDisplays;

class StationCalls : public CallStation {
  public:
    explicit StationCalls(std::shared_ptr<StatusDisplays> displays);
    // The controller is made after this object (its hooks hold it).
    void SetController(std::weak_ptr<CallController> controller);

    CConnectionSocket* IncomingConnection() override;
    void SetIncomingConnection(CConnectionSocket* connection) override;
    void SetIncomingState(bool active) override;
    void PlaybackAnimation(bool start) override;
    bool PlayVoiceMessage(const void* image, size_t length) override;

    // Any thread: closes the incoming connection, if there is one, on the
    // GUI thread; forgets it; its caller's address ("" without one).
    void CloseIncoming();
    void ClearIncoming();
    std::string IncomingPeerAddress();

    // GUI thread: the window is going; the incoming connection is forgotten.
    void Detach();

  private:
    std::weak_ptr<CallController> controller_;
    std::shared_ptr<StatusDisplays> displays_;
    CConnectionSocket* incoming_ = nullptr;  // GUI thread only
};

}  // namespace chatterly
