// The sockets' notifications and blocking rules over real loopback
// connections, on the GUI thread (Qt's loop) and on a worker thread (the
// poll loop): both must keep the thread's other messages moving while a
// socket waits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "framework/sockets/CSocket.h"
#include "framework/sockets/SocketErrors.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"
#include "support/PlainSocket.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::PlainSocket;

namespace {

enum class Where { GuiThread, WorkerThread };

// A blocking socket whose notifications write to a log, and whose wait hook
// dispatches the thread's messages as the station's connections do.
class LoggingSocket : public CSocket {
  public:
    explicit LoggingSocket(std::vector<std::string>& log, std::string name = "socket")
        : log_(log), name_(std::move(name)) {}
    bool PumpWhileWaiting() override {
        Loop()->dispatchOne();
        return false;
    }
    int readable = 0;
    int closed = 0;

  protected:
    void HandleReadable(int) override {
        ++readable;
        log_.push_back(name_ + " readable");
        char buffer[256];
        TryReceive(buffer, sizeof buffer);
    }
    void HandlePeerClosed(int) override {
        ++closed;
        log_.push_back(name_ + " closed");
    }

  private:
    std::vector<std::string>& log_;
    std::string name_;
};

void post(std::function<void()> handler) {
    Message m;
    m.handler = std::move(handler);
    MessageQueue::current().post(std::move(m));
}

// Dispatches the thread's messages until done() holds.
bool pumpUntil(const std::function<bool()>& done) {
    if (WindowRequests::isGuiThread()) {
        return chatterly::test::waitFor(done);
    }
    ThreadLoop::Pump pump;
    pump.pass = std::chrono::milliseconds(50);
    return ThreadLoop::current().pumpUntil(
        done, ThreadLoop::Clock::now() + std::chrono::seconds(20), pump);
}

class BlockingRules : public ::testing::TestWithParam<Where> {
  protected:
    // Runs body on the thread under test.
    void run(const std::function<void()>& body) {
        if (GetParam() == Where::GuiThread) {
            body();
            return;
        }
        std::thread worker([&] { body(); });
        worker.join();
    }
};

std::string where(const ::testing::TestParamInfo<Where>& info) {
    return info.param == Where::GuiThread ? "OnTheGuiThread" : "OnAWorkerThread";
}

}  // namespace

TEST_P(BlockingRules, ASendOfSeveralMiBToASlowReaderCompletesWhole) {
    constexpr size_t kSize = 6 * 1024 * 1024;
    std::vector<uint8_t> data(kSize);
    for (size_t i = 0; i < kSize; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    }
    auto [near, far] = PlainSocket::connectedPair();
    const int small = 16 * 1024;
    setsockopt(far.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::vector<uint8_t> received;
    std::thread reader([&, fd = far.fd()] {
        uint8_t chunk[4096];
        while (received.size() < kSize) {
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            received.insert(received.end(), chunk, chunk + n);
            if (received.size() % (256 * 1024) < sizeof chunk) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a slow reader
            }
        }
    });
    int sent = 0;
    run([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        sent = socket.Send(data.data(), data.size());
    });
    reader.join();
    EXPECT_EQ(sent, static_cast<int>(kSize));
    EXPECT_TRUE(received == data);
}

TEST_P(BlockingRules, AWaitRunsPostedMessagesAndSetsOtherSocketsNotificationsAside) {
    auto [a, peerA] = PlainSocket::connectedPair();
    auto [b, peerB] = PlainSocket::connectedPair();
    run([&, fa = a.release(), fb = b.release()] {
        std::vector<std::string> log;
        LoggingSocket socketA(log, "A");
        LoggingSocket socketB(log, "B");
        ASSERT_TRUE(socketA.Attach(fa));
        ASSERT_TRUE(socketB.Attach(fb));
        post([&] {
            log.push_back("posted 1");
            peerB.sendAll("b", 1);
            post([&] {
                log.push_back("posted 2");
                peerA.sendAll("a", 1);
            });
        });
        char byte = 0;
        EXPECT_EQ(socketA.Receive(&byte, 1), 1);
        EXPECT_EQ(byte, 'a');
        const std::vector<std::string> duringWait{"posted 1", "posted 2"};
        EXPECT_EQ(log, duringWait);
        EXPECT_TRUE(pumpUntil([&] { return socketB.readable == 1; }));
        const std::vector<std::string> afterWait{"posted 1", "posted 2", "B readable"};
        EXPECT_EQ(log, afterWait);
    });
}

TEST_P(BlockingRules, CloseDuringAWaitCancelsItWithWSAEINTR) {
    auto [near, far] = PlainSocket::connectedPair();
    run([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        post([&] { socket.Close(); });
        char buffer[16];
        EXPECT_EQ(socket.Receive(buffer, sizeof buffer), SOCKET_ERROR);
        EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEINTR);
        EXPECT_FALSE(socket.IsOpen());
        EXPECT_FALSE(socket.IsBlocking());
    });
    EXPECT_TRUE(far.seesClose(20000));
}

TEST_P(BlockingRules, ASecondBlockingCallOnAWaitingSocketFailsWithWSAEINPROGRESS) {
    auto [near, far] = PlainSocket::connectedPair();
    run([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        int second = 0;
        int secondError = 0;
        bool secondSend = true;
        post([&] {
            char byte;
            second = socket.Receive(&byte, 1);
            secondError = CAsyncSocket::GetLastError();
            secondSend = socket.Send("x", 1) != SOCKET_ERROR;
            far.sendAll("z", 1);
        });
        char byte = 0;
        EXPECT_EQ(socket.Receive(&byte, 1), 1);
        EXPECT_EQ(byte, 'z');
        EXPECT_EQ(second, SOCKET_ERROR);
        EXPECT_EQ(secondError, WSAEINPROGRESS);
        EXPECT_FALSE(secondSend);
    });
}

TEST_P(BlockingRules, AClosedNotificationEndsAWaitAndIsDeliveredOnceAfterIt) {
    auto [near, far] = PlainSocket::connectedPair();
    run([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        post([&] {
            far.sendAll("last", 4);
            far.close();
        });
        char buffer[16];
        int total = 0;
        for (int n; (n = socket.Receive(buffer, sizeof buffer)) > 0;) {
            total += n;
        }
        EXPECT_EQ(total, 4);
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(pumpUntil([&] { return socket.closed > 0; }));
        // Nothing more comes: the close is delivered once.
        ThreadLoop::current().pumpUntil([] { return false; },
                                        ThreadLoop::Clock::now() + std::chrono::milliseconds(300));
        EXPECT_EQ(socket.closed, 1);
    });
}

TEST_P(BlockingRules, ConnectTakesAddressesAndHostNamesAndReportsFailures) {
    PlainSocket listener = PlainSocket::listenLoopback();
    const uint16_t open = listener.port();
    uint16_t closedPort = 0;
    {
        PlainSocket gone = PlainSocket::listenLoopback();
        closedPort = gone.port();
    }
    struct Case {
        const char* remote;
        uint16_t port;
        bool connects;
        int error;
    };
    const Case cases[] = {
        {"127.0.0.1", open, true, 0},
        {"localhost", open, true, 0},
        {"127.0.0.1", closedPort, false, WSAECONNREFUSED},
        {"", open, false, WSAEINVAL},
    };
    run([&] {
        for (const Case& c : cases) {
            CSocket socket;
            ASSERT_TRUE(socket.Create());
            EXPECT_EQ(socket.Connect(c.remote, c.port), c.connects) << c.remote << ":" << c.port;
            if (c.connects) {
                EXPECT_EQ(socket.PeerAddress(), "127.0.0.1");
                EXPECT_EQ(socket.ConnectError(), 0);
            } else {
                EXPECT_EQ(CAsyncSocket::GetLastError(), c.error) << c.remote;
            }
        }
    });
}

TEST_P(BlockingRules, AnAcceptWaitsForItsCaller) {
    run([&] {
        std::vector<std::string> log;
        LoggingSocket listener(log);  // its wait hook runs the posted connect
        ASSERT_TRUE(listener.Create(0, FD_ALL_EVENTS, "127.0.0.1"));
        ASSERT_TRUE(listener.Listen(5));
        PlainSocket caller;
        post([&] { caller = PlainSocket::connectLoopback(listener.LocalPort()); });
        CSocket accepted;
        ASSERT_TRUE(listener.Accept(accepted));
        EXPECT_EQ(accepted.PeerAddress(), "127.0.0.1");
        EXPECT_TRUE(caller.valid());
    });
}

TEST_P(BlockingRules, TheRetryTimeEndsAWaitThatNoNotificationEnds) {
    auto [near, far] = PlainSocket::connectedPair();
    run([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        // No readable notifications: only the retry can see the byte.
        ASSERT_TRUE(socket.Attach(fd, FD_CLOSE));
        post([&] { far.sendAll("r", 1); });
        const auto start = std::chrono::steady_clock::now();
        char byte = 0;
        EXPECT_EQ(socket.Receive(&byte, 1), 1);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(CSocket::kRetryMs - 100));
        EXPECT_LT(waited, std::chrono::milliseconds(CSocket::kRetryMs * 5));
    });
}

INSTANTIATE_TEST_SUITE_P(Threads, BlockingRules,
                         ::testing::Values(Where::GuiThread, Where::WorkerThread), where);

TEST(SocketNotifications, AReadableNotificationWithNoByteWaitingRunsNothing) {
    auto [near, far] = PlainSocket::connectedPair();
    std::thread worker([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        ThreadLoop& loop = ThreadLoop::current();
        MessageQueue& queue = MessageQueue::current();
        far.sendAll("gone", 4);
        // The readable notification itself, taken out once it is queued (the
        // writable one of the attach may stand before it); then its bytes are
        // taken away, and it goes back to run in its turn.
        std::optional<Message> readable;
        ThreadLoop::Pump nothing;
        nothing.runs = ThreadLoop::Pump::Runs::Nothing;
        ASSERT_TRUE(loop.pumpUntil(
            [&] {
                readable = queue.takeNetwork(static_cast<CAsyncSocket*>(&socket), FD_READ);
                return readable.has_value();
            },
            ThreadLoop::Clock::now() + std::chrono::seconds(20), nothing));
        char buffer[16];
        ASSERT_EQ(recv(socket.Handle(), buffer, sizeof buffer, 0), 4);
        queue.pushFront({std::move(*readable)});
        chatterly::test::dispatchAll(loop);
        EXPECT_EQ(socket.readable, 0);
        // The next bytes are announced again.
        far.sendAll("next", 4);
        EXPECT_TRUE(pumpUntil([&] { return socket.readable == 1; }));
    });
    worker.join();
}

TEST(SocketNotifications, NotificationsQueuedForAClosedSocketAreDiscarded) {
    auto [near, far] = PlainSocket::connectedPair();
    std::thread worker([&, fd = near.release()] {
        std::vector<std::string> log;
        LoggingSocket socket(log);
        ASSERT_TRUE(socket.Attach(fd));
        ThreadLoop& loop = ThreadLoop::current();
        far.sendAll("data", 4);
        far.close();
        chatterly::test::waitUntilQueued(loop);
        socket.Close();
        chatterly::test::dispatchAll(loop);
        EXPECT_TRUE(log.empty());
    });
    worker.join();
}

TEST(SocketNotifications, DetachHandsTheHandleOverAndAttachAdoptsItOnAnotherThread) {
    auto [near, far] = PlainSocket::connectedPair();
    CSocket first;
    ASSERT_TRUE(first.Attach(near.release()));
    const int handle = first.Detach();
    EXPECT_FALSE(first.IsOpen());
    std::string got;
    std::thread other([&] {
        std::vector<std::string> log;
        LoggingSocket second(log);
        ASSERT_TRUE(second.Attach(handle));
        char buffer[8] = {};
        const int n = second.Receive(buffer, sizeof buffer);
        got.assign(buffer, n > 0 ? n : 0);
        EXPECT_EQ(second.Send("back", 4), 4);
    });
    ASSERT_TRUE(far.sendAll("over", 4));
    other.join();
    EXPECT_EQ(got, "over");
    char reply[4];
    EXPECT_EQ(recv(far.fd(), reply, sizeof reply, MSG_WAITALL), 4);
}

TEST(SocketListen, OutOfDescriptorsAWaitingCallerIsAnnouncedAtABoundedRate) {
    if (chatterly::test::kUndefinedChecks) {
        GTEST_SKIP() << chatterly::test::kNeedsDescriptors;
    }
    // A listener that takes each caller and lets it go.
    struct Listener : CSocket {
        int announced = 0;
        int taken = 0;
        void HandleIncomingCall(int) override {
            ++announced;
            CSocket caller;
            if (Accept(caller)) {
                ++taken;
            }
        }
    } listener;
    ASSERT_TRUE(listener.Create(0, FD_ALL_EVENTS, "127.0.0.1"));
    ASSERT_TRUE(listener.Listen(5));
    PlainSocket first = PlainSocket::connectLoopback(listener.LocalPort());
    ASSERT_TRUE(chatterly::test::waitFor([&] { return listener.taken == 1; }));
    PlainSocket second = PlainSocket::connectLoopback(listener.LocalPort());
    int announcedWithout = 0;
    {
        const chatterly::test::LimitScope noFiles(RLIMIT_NOFILE,
                                                  chatterly::test::lowestFreeDescriptor());
        const int before = listener.announced;
        chatterly::test::waitFor([] { return false; }, std::chrono::milliseconds(1000));
        announcedWithout = listener.announced - before;
    }
    // About ten tries in that second, not one after another.
    EXPECT_GE(announcedWithout, 1);
    EXPECT_LE(announcedWithout, 30);
    EXPECT_EQ(listener.taken, 1);
    // With descriptors back, the caller is taken.
    EXPECT_TRUE(chatterly::test::waitFor([&] { return listener.taken == 2; }));
}

TEST(SocketCreate, APortInUseFailsAndLeavesTheSocketClosed) {
    PlainSocket taken = PlainSocket::listenLoopback();
    CSocket socket;
    EXPECT_FALSE(socket.Create(taken.port()));
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEADDRINUSE);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(SocketGiveUp, AFarEndThatNeverReadsCannotHoldASendPastTheGiveUpTime) {
    auto [near, far] = PlainSocket::connectedPair();
    const int small = 4096;
    setsockopt(far.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::thread worker([&, fd = near.release()] {
        CSocket socket;
        ASSERT_TRUE(socket.Attach(fd));
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        socket.SetGiveUpTime(std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
        std::vector<uint8_t> data(32 * 1024 * 1024);
        EXPECT_EQ(socket.Send(data.data(), data.size()), SOCKET_ERROR);
        EXPECT_EQ(CAsyncSocket::GetLastError(), WSAETIMEDOUT);
    });
    worker.join();
}
