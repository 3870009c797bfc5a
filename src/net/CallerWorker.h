#pragma once
// The worker of an outgoing call (CallerThread): a thread of its own that
// owns the call's connection and runs one OutgoingCall on it (the connect,
// then Talk served through the signal events). It ends with the call: on
// Disconnect, on a connect that fails or takes longer than its limit, and on
// a send that fails (which also returns the station to idle).
//
// At most one call runs at a time. cancel() reaches the worker wherever it
// waits: it closes the worker's connection on the worker's own thread, which
// ends a connect, send or receive under way at once.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "net/CListeningSocket.h"

namespace chatterly {

class CallStation;
class VoiceRecorder;

class CallerWorker {
  public:
    struct Options {
        uint16_t port = ListenPort;                    // where every station listens
        std::chrono::milliseconds connectLimit{8000};  // a connect longer than this fails
    };

    explicit CallerWorker(Options options);
    CallerWorker(const CallerWorker&) = delete;
    CallerWorker& operator=(const CallerWorker&) = delete;

    // GUI thread: starts a CallerThread for station's remote text; false, and
    // nothing starts, while a call is being set up or under way or when no
    // thread can be started.
    [[nodiscard]] bool start(std::shared_ptr<CallStation> station,
                             std::shared_ptr<VoiceRecorder> recorder);
    // Whether a call is being set up or under way, and whether its worker is
    // recording: it took a press and has yet to take the release.
    bool running() const;
    bool recording() const;
    // Any thread: ends the running call, if any, wherever the worker waits.
    void cancel();

  private:
    struct Call;
    // The thread function of one call.
    static void CallerThread(const std::shared_ptr<Call>& call, Options options,
                             CallStation& station, VoiceRecorder& recorder);

    const Options options_;
    mutable std::mutex mutex_;
    std::shared_ptr<Call> call_;  // the latest call; ended once its thread is done
};

}  // namespace chatterly
