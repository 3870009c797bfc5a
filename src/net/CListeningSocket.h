#pragma once
// The listener on the station's port. A caller becomes the station's
// incoming call when the station has no call; a caller who arrives while a
// call is held, incoming or outgoing (being set up or standing), is answered
// by a busy responder on a thread of its own, which plays the call-waiting
// cue here and sends the caller the busy message.
//
// Every connection socket accepted as an incoming call is kept, in order of
// acceptance, while it may still be used: a call that has ended (its socket
// closed, no longer the incoming call, no handler of it running) is freed
// right after, from the thread's queue, so a station that takes thousands of
// calls does not grow. The rest go with the listener (with the station
// window).
//
// The listener never waits: a caller who gave up before the accept is
// simply not there, and its notification is never held (MessageQueue), so
// callers are taken or refused whatever else the thread waits for.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/sockets/CSocket.h"

namespace chatterly {

// The port every station listens on and calls.
inline constexpr uint16_t ListenPort = 2005;

class CallStation;
class CConnectionSocket;

class CListeningSocket : public CSocket {
  public:
    explicit CListeningSocket(CallStation* station);
    // Deletes every accepted connection socket, then closes.
    ~CListeningSocket() override;

    size_t ConnectionCount() const { return connections_.size(); }
    CConnectionSocket* Connection(size_t index) const { return connections_.at(index).get(); }

  protected:
    void HandleIncomingCall(int error) override;

  private:
    void RefuseCaller();
    // Frees the connections whose call has ended.
    void FreeEndedCalls();

    CallStation* station_;
    std::vector<std::unique_ptr<CConnectionSocket>> connections_;
    // Alive as long as the listener: posted frees of a gone listener do nothing.
    const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace chatterly
