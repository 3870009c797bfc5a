#pragma once
// What the network side needs of the station window: the incoming
// connection (GUI thread only), the call state, the playback animation and
// the playback of a received message. The animation and SetIncomingState may
// be called from any thread; the station carries them out safely.

#include <cstddef>

namespace chatterly {

class CConnectionSocket;

class CallStation {
  public:
    virtual ~CallStation() = default;

    // GUI thread: the connection of the current incoming call, or nullptr.
    virtual CConnectionSocket* incomingConnection() = 0;
    virtual void setIncomingConnection(CConnectionSocket* connection) = 0;

    virtual void SetIncomingState(bool active) = 0;
    virtual void PlaybackAnimation(bool start) = 0;
    // Plays a received voice message synchronously; false when it cannot.
    virtual bool PlayVoiceMessage(const void* image, size_t length) = 0;
};

}  // namespace chatterly
