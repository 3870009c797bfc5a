#pragma once
// Window requests: how worker threads change the station window. Only the GUI
// thread touches widgets, so a worker hands its request (a function) to the
// GUI thread and waits until it has run, as a synchronous window call would.
//
// The GUI thread serves requests from its Qt event loop (a socket notifier on
// a wake eventfd, so nested loops such as a modal message box serve them too)
// and from every wait of its own (ThreadLoop::pumpUntil serves them on every
// pass), so a worker that asks for a caption change while the GUI thread
// waits for it never deadlocks.
//
// At shutdown() every pending request is cancelled and later ones are refused
// at once: nothing touches the station window after it is destroyed.

#include <chrono>
#include <functional>

namespace chatterly {

class WindowRequests {
  public:
    // Marks the calling thread as the GUI thread and opens for requests.
    static void attachGuiThread();
    static bool isGuiThread();

    // Runs fn on the GUI thread and returns once it has run (at once when
    // called on the GUI thread). Returns false, without running fn, when no
    // GUI thread is attached or requests are shut down. An exception that fn
    // raises is raised again in the requesting thread.
    static bool run(const std::function<void()>& fn);

    // GUI thread: runs every pending request.
    static void serve();
    // GUI thread: runs the pending requests; with none pending, sleeps until
    // one comes or timeoutMs passes (negative: no limit) and runs it. A wait
    // that runs nothing else sleeps here.
    static void serveWaiting(int timeoutMs);

    // The fd that becomes readable while requests are pending.
    static int wakeFd();

    // Cancels pending requests and refuses new ones (attachGuiThread opens
    // again).
    static void shutdown();
};

}  // namespace chatterly
