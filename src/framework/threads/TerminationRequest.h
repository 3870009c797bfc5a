#pragma once
// SIGTERM and SIGINT (a desktop's logout, a kill, Ctrl+C in a terminal) made
// into a request that the GUI thread's loop runs like any other event, so
// that the program ends the way its own close does. The signal handler only
// writes one byte to a pipe (a self-pipe: the one thing a handler may do
// safely); a socket notifier on the GUI thread reads it and runs the request.
// While one of these lives, the two signals are taken this way; when it goes,
// they end the process again as before. GUI thread; one at a time.

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace chatterly {

class TerminationRequest {
  public:
    explicit TerminationRequest(std::function<void()> request);
    ~TerminationRequest();
    TerminationRequest(const TerminationRequest&) = delete;
    TerminationRequest& operator=(const TerminationRequest&) = delete;

  private:
    std::function<void()> request_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace chatterly
