// The thread core: events, window requests, the thread starter, the worker
// loop, the message queue and the generic error report's discard scope.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "framework/streams/ArchiveError.h"
#include "framework/streams/FileError.h"
#include "framework/threads/AutoResetEvent.h"
#include "framework/threads/ErrorReport.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/threads/WindowRequests.h"
#include "framework/threads/WorkerLoop.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::waitFor;

TEST(AutoResetEvent, PollConsumesTheSignalAndEachSetReleasesOneWaiter) {
    AutoResetEvent event;
    EXPECT_FALSE(event.poll());
    event.set();
    event.set();  // a second set does not count twice
    EXPECT_TRUE(event.poll());
    EXPECT_FALSE(event.poll());

    std::atomic<int> released{0};
    std::thread a([&] { released += event.wait(20000) ? 1 : 0; });
    std::thread b([&] { released += event.wait(20000) ? 1 : 0; });
    event.set();
    EXPECT_TRUE(waitFor([&] { return released.load() >= 1; }));
    EXPECT_EQ(released, 1);
    event.set();
    a.join();
    b.join();
    EXPECT_EQ(released, 2);

    event.set();
    event.reset();
    EXPECT_FALSE(event.wait(0));
}

TEST(WindowRequests, AWorkerRequestRunsOnTheGuiThreadWhileItWaits) {
    std::thread::id ranOn;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        EXPECT_TRUE(WindowRequests::run([&] { ranOn = std::this_thread::get_id(); }));
        done = true;
    });
    // A GUI-thread wait that runs nothing else still serves requests: the
    // worker goes on.
    ThreadLoop::Pump requestsOnly;
    requestsOnly.runs = ThreadLoop::Pump::Runs::Nothing;
    requestsOnly.pass = std::chrono::milliseconds(10);
    EXPECT_TRUE(ThreadLoop::current().pumpUntil([&] { return done.load(); },
                                                ThreadLoop::Clock::now() + std::chrono::seconds(20),
                                                requestsOnly));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(WindowRequests, ShutdownReleasesWaitingWorkersWithoutRunningTheirRequests) {
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    WindowRequests::serve();  // nothing pending: the wake fd is drained
    std::thread worker([&] { result = WindowRequests::run([&] { ran = true; }) ? 1 : 0; });
    // Shut down only once the request is pending (its wake fd is readable), so
    // the worker is released from its wait, not refused at its start.
    pollfd pending{WindowRequests::wakeFd(), POLLIN, 0};
    ASSERT_EQ(poll(&pending, 1, 20000), 1);
    EXPECT_EQ(result, -1);
    WindowRequests::shutdown();
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(WindowRequests::run([] {}));  // nor does the GUI thread's own
    WindowRequests::attachGuiThread();         // open again, as at the start
    EXPECT_TRUE(WindowRequests::run([] {}));
}

TEST(ErrorReport, ADiscardScopeSwallowsErrorsSilently) {
    MessageBoxRecorder boxes;
    {
        ErrorReport::DiscardScope scope;
        EXPECT_FALSE(ErrorReport::run([] { throw FileError(); }));
    }
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(ErrorReport::run([] {}));
}

TEST(ThreadStarter, AWorkerErrorIsReportedAndTheThreadIsCountedUntilItEnds) {
    MessageBoxRecorder boxes;
    const int before = ThreadStarter::running();
    AutoResetEvent go;
    ASSERT_TRUE(ThreadStarter::start([&] {
        go.wait(AutoResetEvent::kInfinite);
        throw ArchiveError();
    }));
    EXPECT_EQ(ThreadStarter::running(), before + 1);
    go.set();
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{
                                 "An attempt was made to access an unnamed file past its end."});
}

TEST(WorkerLoop, DispatchesPostedMessagesInOrderOnItsOwnThread) {
    std::shared_ptr<MessageQueue> queue;
    std::vector<int> order;
    std::atomic<bool> ready{false}, stop{false};
    std::thread worker([&] {
        WorkerLoop loop;
        queue = MessageQueue::currentShared();
        ready = true;
        ThreadLoop::Pump pump;
        pump.pass = std::chrono::milliseconds(50);
        loop.pumpUntil([&] { return stop.load(); }, std::nullopt, pump);
    });
    while (!ready) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 3; ++i) {
        queue->post({Message::Kind::Posted, [&, i] { order.push_back(i); }});
    }
    MessageBoxRecorder boxes;
    queue->post({Message::Kind::Posted, [] { throw FileError(); }});  // reported, loop goes on
    queue->post({Message::Kind::Posted, [&] { stop = true; }});
    EXPECT_TRUE(waitFor([&] { return stop.load(); }));
    worker.join();
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(MessageQueue, NetworkNotificationsAreTakenApartAndDiscardedPerSource) {
    MessageQueue queue;
    int a = 0, b = 0, listener = 0;
    queue.post({Message::Kind::Network, nullptr, &a, 1, 0});
    queue.post({Message::Kind::Network, nullptr, &listener, 8, 0, true});  // never held
    queue.post({Message::Kind::Posted, nullptr, nullptr, 0, 0});
    queue.post({Message::Kind::Network, nullptr, &b, 2, 0});
    queue.post({Message::Kind::Network, nullptr, &a, 3, 0});
    queue.discard(&a);
    auto first = queue.takeFirstHeld();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->source, &b);
    EXPECT_FALSE(queue.takeFirstHeld());
    auto unheld = queue.takeFirstUnheld();
    ASSERT_TRUE(unheld);
    EXPECT_EQ(unheld->source, &listener);
    EXPECT_TRUE(queue.takeFirstUnheld());
    EXPECT_TRUE(queue.empty());
}
