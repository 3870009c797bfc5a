#include "framework/threads/ThreadStarter.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "framework/threads/ErrorReport.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {
namespace {

struct Registry {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

Registry& registry() {
    static Registry* r = new Registry;  // outlives main(): detached threads use it last
    return *r;
}

}  // namespace

namespace {

void countDown() {
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        --r.running;
    }
    r.ended.notify_all();
}

}  // namespace

bool ThreadStarter::start(std::function<void()> fn) {
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        ++r.running;
    }
    try {
        std::thread([fn = std::move(fn)]() mutable {
            ErrorReport::run(fn);
            fn = nullptr;  // release what the function held before counting down
            countDown();
        }).detach();
    } catch (const std::system_error&) {
        countDown();
        return false;
    }
    return true;
}

int ThreadStarter::running() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.running;
}

bool ThreadStarter::waitForAll(std::chrono::milliseconds limit) {
    if (WindowRequests::isGuiThread()) {
        // The count falls without a message to the GUI thread: look often.
        ThreadLoop::Pump pump;
        pump.runs = ThreadLoop::Pump::Runs::Nothing;
        pump.pass = std::chrono::milliseconds(10);
        return ThreadLoop::current().pumpUntil([] { return running() == 0; },
                                               ThreadLoop::Clock::now() + limit, pump);
    }
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    return r.ended.wait_for(lock, limit, [&] { return r.running == 0; });
}

}  // namespace chatterly
