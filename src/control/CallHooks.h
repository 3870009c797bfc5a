#pragma once
// What the call controller asks of the rest of the station at its steps: the
// outgoing call's worker, the recorder on an incoming call, the incoming
// connection and the desktop's sound settings. The station implements it in
// one object that stays safe to call from any thread, also once the window
// has gone.

#include <string>

namespace chatterly {

class CallHooks {
  public:
    virtual ~CallHooks() = default;

    // Connect: starts the worker of an outgoing call to the remote text;
    // false when it could not be started.
    [[nodiscard]] virtual bool startCaller() = 0;
    // Whether an outgoing call is being set up or under way, and whether its
    // worker is recording (it took a press and has yet to take the release).
    virtual bool outgoingCallActive() = 0;
    virtual bool outgoingCallRecording() = 0;
    // Disconnect: ends the outgoing call wherever its worker waits.
    virtual void endOutgoingCall() = 0;
    // Talk on an incoming call, on the GUI thread: the press records, the
    // release stops, saves and sends the recording on the incoming connection.
    // False when the recording did not start (the recorder has said so and
    // released Talk).
    [[nodiscard]] virtual bool StartRecording() = 0;
    virtual void StopAndSendRecording() = 0;
    // Disconnect with Talk down: the running recording stops and is dropped.
    virtual void dropRecording() = 0;
    // Disconnect: a voice message that plays stops at once.
    virtual void stopMessages() = 0;
    // Disconnect: closes the incoming connection, if there is one, and
    // forgets it.
    virtual void endIncomingCall() = 0;
    // The incoming caller's alias, else its dotted address.
    virtual std::string incomingCallerName() = 0;
    // Properties: starts the desktop's sound settings.
    virtual void startSoundSettings() = 0;
};

}  // namespace chatterly
