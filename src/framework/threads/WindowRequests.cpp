#include "framework/threads/WindowRequests.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "framework/threads/WakeFd.h"

namespace chatterly {
namespace {

struct Request {
    const std::function<void()>* fn;
    bool done = false;
    bool cancelled = false;
    std::exception_ptr error;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;  // a request finished, or one arrived
    std::deque<Request*> pending;
    std::thread::id gui;
    bool attached = false;
    bool open = false;
    WakeFd wake;
};

State& state() {
    static State* s = new State;  // never destroyed: workers may outlive main()
    return *s;
}

}  // namespace

void WindowRequests::attachGuiThread() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.gui = std::this_thread::get_id();
    s.attached = true;
    s.open = true;
}

bool WindowRequests::isGuiThread() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.attached && s.gui == std::this_thread::get_id();
}

bool WindowRequests::run(const std::function<void()>& fn) {
    State& s = state();
    Request request{&fn, false, false, nullptr};
    {
        std::unique_lock lock(s.mutex);
        if (!s.attached || !s.open) {
            return false;
        }
        if (s.gui == std::this_thread::get_id()) {
            lock.unlock();
            fn();
            return true;
        }
        s.pending.push_back(&request);
        s.wake.signal();
        s.changed.notify_all();
        s.changed.wait(lock, [&] { return request.done || request.cancelled; });
    }
    if (request.error) {
        std::rethrow_exception(request.error);
    }
    return request.done;
}

void WindowRequests::serve() {
    State& s = state();
    s.wake.drain();
    for (;;) {
        Request* request;
        {
            std::lock_guard lock(s.mutex);
            if (s.pending.empty()) {
                return;
            }
            request = s.pending.front();
            s.pending.pop_front();
        }
        try {
            (*request->fn)();
        } catch (...) {
            request->error = std::current_exception();
        }
        {
            std::lock_guard lock(s.mutex);
            request->done = true;
        }
        s.changed.notify_all();
    }
}

void WindowRequests::serveWaiting(int timeoutMs) {
    serve();
    State& s = state();
    {
        std::unique_lock lock(s.mutex);
        const auto arrived = [&] { return !s.pending.empty(); };
        if (timeoutMs < 0) {
            s.changed.wait(lock, arrived);
        } else {
            s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), arrived);
        }
    }
    serve();
}

int WindowRequests::wakeFd() {
    return state().wake.fd();
}

void WindowRequests::shutdown() {
    State& s = state();
    {
        std::lock_guard lock(s.mutex);
        s.open = false;
        for (Request* request : s.pending) {
            request->cancelled = true;
        }
        s.pending.clear();
    }
    s.changed.notify_all();
}

}  // namespace chatterly
