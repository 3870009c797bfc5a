#pragma once
// The generic error report. Every handler that a thread's dispatch runs (a
// button click, a socket notification, a posted message, a worker's thread
// function) runs through ErrorReport::run. An error that escapes the handler
// is handed to the installed presenter, which shows it to the user (the
// widgets' ErrorBoxes puts it in a message box); the rest of the handler is
// skipped and the thread goes on dispatching. Without a presenter the error
// is described in one line on stderr.
//
// An error is reported with its origin: the user's own doing (a click, a key,
// a posted request) or a call's (a network notification: what a far station
// sent or did). The presenter shows the two alike but keeps boxes about calls
// to one at a time, so that no caller can pile them up.
//
// Inside a blocking socket wait the thread's errors are discarded instead
// (DiscardScope): a message dispatched while a socket waits must not stop the
// wait with a box.

#include <exception>
#include <functional>

#include "framework/threads/ThreadScope.h"

namespace chatterly {

enum class ErrorOrigin { User, Call };

// Shows an error that escaped a handler; called on the thread that ran it.
class ErrorPresenter {
  public:
    virtual ~ErrorPresenter() = default;
    virtual void present(std::exception_ptr error, ErrorOrigin origin) noexcept = 0;
};

class ErrorReport {
  public:
    // Runs handler; returns true if it completed, false if an error escaped
    // it (and was reported or discarded).
    static bool run(const std::function<void()>& handler,
                    ErrorOrigin origin = ErrorOrigin::User) noexcept;

    // Reports (or, in a discard scope, discards) an error caught elsewhere.
    static void report(std::exception_ptr error, ErrorOrigin origin = ErrorOrigin::User) noexcept;

    // Installs the presenter of every thread's errors (nullptr: stderr). The
    // presenter must outlive every thread that reports.
    static void setPresenter(ErrorPresenter* presenter);

    // While one exists on a thread, errors reported on that thread are
    // discarded. Nests.
    using DiscardScope = ThreadScope<struct DiscardTag>;
    static bool discarding() { return DiscardScope::active(); }
};

}  // namespace chatterly
