// The framework core: events, window requests, message boxes, the generic
// error report, the worker loop and the 8-bit text encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "framework/AnsiCodec.h"
#include "framework/ArchiveError.h"
#include "framework/AutoResetEvent.h"
#include "framework/ErrorReport.h"
#include "framework/FileError.h"
#include "framework/MessageBox.h"
#include "framework/ThreadStarter.h"
#include "framework/WindowRequests.h"
#include "framework/WorkerLoop.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::waitFor;

TEST(AutoResetEvent, PollConsumesTheSignalAndEachSetReleasesOneWaiter) {
    AutoResetEvent event;
    EXPECT_FALSE(event.poll());
    event.set();
    event.set();  // a second set does not count twice
    EXPECT_TRUE(event.isSignalled());
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
    // A GUI-thread wait that serves requests lets the worker go on.
    EXPECT_TRUE(WindowRequests::serveUntil([&] { return done.load(); }, std::chrono::seconds(20)));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(WindowRequests, ShutdownReleasesWaitingWorkersWithoutRunningTheirRequests) {
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread worker([&] { result = WindowRequests::run([&] { ran = true; }) ? 1 : 0; });
    // Let the request arrive, then shut down without serving it.
    while (result == -1) {
        WindowRequests::shutdown();
        std::this_thread::yield();
    }
    worker.join();
    WindowRequests::reopen();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(WindowRequests::run([] {}));  // the GUI thread itself still may
}

TEST(MessageBoxes, CarryTextIconAndTheApplicationTitle) {
    MessageBoxRecorder boxes;
    MessageBox::show("Failed to connect to remote parlio.");
    MessageBox::show("About", MessageIcon::Information);
    std::atomic<bool> shown{false};
    std::thread worker([&] {
        MessageBox::show("from a worker");
        shown = true;
    });
    EXPECT_TRUE(waitFor([&] { return shown.load(); }));
    worker.join();
    ASSERT_EQ(boxes.count(), 3u);
    const auto b = boxes.boxes();
    EXPECT_EQ(b[0].text, "Failed to connect to remote parlio.");
    EXPECT_EQ(b[0].icon, MessageIcon::Warning);
    EXPECT_EQ(b[0].caption, "test_framework");
    EXPECT_EQ(b[1].icon, MessageIcon::Information);
    EXPECT_EQ(b[2].text, "from a worker");
}

TEST(MessageBoxes, TheTitleIsTheFileNameWithoutItsExtension) {
    const std::string before = MessageBox::applicationTitle();
    MessageBox::setApplicationTitle("/usr/bin/station.exe");
    EXPECT_EQ(MessageBox::applicationTitle(), "station");
    MessageBox::setApplicationTitle("chatterly");
    EXPECT_EQ(MessageBox::applicationTitle(), "chatterly");
    MessageBox::setApplicationTitle(before);
}

TEST(ErrorReport, ShowsEachErrorWithItsTextAndIconAndSkipsTheRest) {
    struct Case {
        std::function<void()> raise;
        std::string text;
        MessageIcon icon;
    };
    const Case cases[] = {
        {[] { throw FileError(); }, "An unknown error occurred while accessing an unnamed file.",
         MessageIcon::Stop},
        {[] { throw FileError("Parlio.mem", 5); },
         "An unknown error occurred while accessing Parlio.mem.", MessageIcon::Stop},
        {[] { throw ArchiveError(); },
         "An attempt was made to access an unnamed file past its end.", MessageIcon::Stop},
        {[] { throw std::bad_alloc(); }, "Out of memory.", MessageIcon::Warning},
    };
    for (const Case& c : cases) {
        MessageBoxRecorder boxes;
        bool rest = false;
        EXPECT_FALSE(ErrorReport::run([&] {
            c.raise();
            rest = true;
        }));
        EXPECT_FALSE(rest);
        ASSERT_EQ(boxes.count(), 1u) << c.text;
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
        EXPECT_EQ(boxes.boxes()[0].icon, c.icon);
    }
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
    ThreadStarter::start([&] {
        go.wait(AutoResetEvent::Infinite);
        throw ArchiveError();
    });
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
        loop.runUntil([&] { return stop.load(); }, 50);
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
    int a = 0, b = 0;
    queue.post({Message::Kind::Network, nullptr, &a, 1, 0});
    queue.post({Message::Kind::Posted, nullptr, nullptr, 0, 0});
    queue.post({Message::Kind::Network, nullptr, &b, 2, 0});
    queue.post({Message::Kind::Network, nullptr, &a, 3, 0});
    queue.discard(&a);
    auto first = queue.takeFirstNetwork();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->source, &b);
    EXPECT_FALSE(queue.takeFirstNetwork());
    EXPECT_TRUE(queue.takeFirstPosted());
    EXPECT_TRUE(queue.empty());
}

TEST(AnsiCodec, EveryByteSurvivesARoundTripAndUnmappableCharactersBecomeQuestionMarks) {
    std::string all;
    for (int i = 1; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(AnsiCodec::fromQString(AnsiCodec::toQString(all)), all);
    EXPECT_EQ(AnsiCodec::toQString("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(AnsiCodec::fromQString(QStringLiteral("caf\u00e9 \u20ac \u4e2d")), "caf\xe9 \x80 ?");
}
