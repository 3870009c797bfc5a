#pragma once
// The generic error report. Every handler that a thread's dispatch runs (a
// button click, a socket notification, a posted message, a worker's thread
// function) runs through ErrorReport::run. An error of the framework's types
// that escapes the handler is shown in a message box: its own description with
// the stop icon, or "Out of memory." with the exclamation icon. The rest of
// the handler is skipped and the thread goes on dispatching.
//
// Inside a blocking socket wait the thread's errors are discarded instead
// (DiscardScope): a message dispatched while a socket waits must not stop the
// wait with a box.

#include <exception>
#include <functional>

namespace chatterly {

class ErrorReport {
  public:
    // Runs handler; returns true if it completed, false if an error escaped
    // it (and was reported or discarded).
    static bool run(const std::function<void()>& handler) noexcept;

    // Reports (or, in a discard scope, discards) an error caught elsewhere.
    static void report(std::exception_ptr error) noexcept;

    // While one exists on a thread, errors reported on that thread are
    // discarded. Nests.
    class DiscardScope {
      public:
        DiscardScope();
        ~DiscardScope();
        DiscardScope(const DiscardScope&) = delete;
        DiscardScope& operator=(const DiscardScope&) = delete;
    };
    static bool discarding();
};

}  // namespace chatterly
