#include "framework/threads/TerminationRequest.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace chatterly {
namespace {

int pipeEnds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request: this one adds nothing.
    [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals) {
        sigaction(s, &action, nullptr);
    }
}

}  // namespace

TerminationRequest::TerminationRequest(std::function<void()> request)
    : request_(std::move(request)) {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;  // the signals keep ending the process at once
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        if (request_) {
            request_();
        }
    });
    handleWith(onSignal);
}

TerminationRequest::~TerminationRequest() {
    if (!notifier_) {
        return;
    }
    handleWith(SIG_DFL);
    notifier_.reset();
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

}  // namespace chatterly
