#pragma once
// The busy responder: answers a caller refused because an incoming call is
// already held. On a thread of its own it plays the call-waiting cue at this
// station, sends the caller one voice message frame holding "Busy.wav", and
// closes the connection.
//
// Responders are bounded: at most kMaxRunning at once, and each gives up on a
// caller that has not taken the frame within kGiveUpAfter, so refused callers
// that never read cannot pile up threads. The cue sounds at most once every
// kCueInterval, however many callers are refused: a responder that comes
// sooner sends the busy message at once.

#include <chrono>

namespace chatterly {

class BusyResponder {
  public:
    static constexpr int kMaxRunning = 4;
    static constexpr std::chrono::seconds kGiveUpAfter{30};
    static constexpr std::chrono::seconds kCueInterval{5};

    // Starts a responder for the connected handle, which it takes over.
    // False (and the handle is left to the caller) when kMaxRunning already
    // run or no thread can be started.
    static bool tryStart(int handle);

    // The thread function: answers the caller on handle and closes it.
    static void BusyResponderThread(int handle);

    static int running();
};

}  // namespace chatterly
