#pragma once
// The thread starter for worker threads: each runs on a std::thread of its
// own with the default stack and priority, detached, and is counted until its
// function returns. The count lets the program end promptly and safely: at
// exit the GUI thread waits (bounded, serving window requests) for the
// workers to see their stop events, and only then leaves main().

#include <chrono>
#include <functional>

namespace chatterly {

class ThreadStarter {
  public:
    // Starts fn on a new worker thread. An error of the framework's types
    // that escapes fn is shown by the generic error report. False, with
    // nothing counted and fn dropped, when the system will not start another
    // thread (its limit of threads or of memory is reached).
    [[nodiscard]] static bool start(std::function<void()> fn);

    // Number of started threads whose function has not yet returned.
    static int running();

    // Waits until no started thread runs or the limit passes, serving window
    // requests when called on the GUI thread. Returns whether all ended.
    static bool waitForAll(std::chrono::milliseconds limit);
};

}  // namespace chatterly
