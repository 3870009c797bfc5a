#pragma once
// What the network side needs of the station: the incoming connection (GUI
// thread only), the call state, the playback animation and the playback of a
// received message, and for an outgoing call the remote text, its address
// and the controls of a call that stands. Everything but the incoming
// connection may be called from any thread; the station carries it out
// safely, also once its window has gone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chatterly {

class CConnectionSocket;

class CallStation {
  public:
    virtual ~CallStation() = default;

    // GUI thread: the connection of the current incoming call, or nullptr.
    virtual CConnectionSocket* incomingConnection() = 0;
    virtual void setIncomingConnection(CConnectionSocket* connection) = 0;
    // GUI thread: whether a call is being set up or stands, incoming or
    // outgoing. The station holds one call at a time.
    virtual bool inCall() { return incomingConnection() != nullptr; }

    virtual void SetIncomingState(bool active) = 0;
    virtual void PlaybackAnimation(bool start) = 0;
    // Plays a received voice message synchronously; false when it cannot.
    virtual bool PlayVoiceMessage(const void* image, size_t length) = 0;
    // A recording has gone out on the connection's thread, whole.
    virtual void messageSent(const std::vector<uint8_t>& image) { (void)image; }

    // The remote-station text as Connect took it, and the address to call
    // for it: the address AddressByAlias maps it to, else the text itself.
    virtual std::string remoteText() = 0;
    virtual std::string resolveRemote(const std::string& text) = 0;
    virtual void SetConnectedControls(bool connected) = 0;
    virtual void Disconnect() = 0;
};

}  // namespace chatterly
