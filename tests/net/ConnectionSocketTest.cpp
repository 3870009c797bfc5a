// The connection socket over real loopback connections on the GUI thread: it
// reads frames whole while the window stays live, plays every frame, and
// ends the call cleanly when the far end leaves, resets or lies about a
// frame's length. The station is a recording double, so each play and each
// call state change can be seen; the playback itself is tested elsewhere.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "framework/sockets/SocketErrors.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"
#include "support/PlainSocket.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::frameBytes;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::pattern;
using chatterly::test::PlainSocket;
using chatterly::test::waitFor;

namespace {

class RecordingStation : public CallStation {
  public:
    CConnectionSocket* incomingConnection() override { return incoming; }
    void setIncomingConnection(CConnectionSocket* c) override { incoming = c; }
    void SetIncomingState(bool active) override {
        std::lock_guard lock(mutex);
        events.push_back(active ? "incoming" : "idle");
    }
    void PlaybackAnimation(bool start) override {
        std::lock_guard lock(mutex);
        animating = start;
        events.push_back(start ? "animate" : "still");
    }
    bool PlayVoiceMessage(const void* image, size_t length) override {
        if (duringPlay) {
            duringPlay();
        }
        std::lock_guard lock(mutex);
        const auto* p = static_cast<const uint8_t*>(image);
        played.emplace_back(p, p + length);
        events.push_back("play");
        return failNext-- <= 0;
    }

    std::string remoteText() override { return {}; }
    std::string resolveRemote(const std::string& text) override { return text; }
    void SetConnectedControls(bool) override {}
    void Disconnect() override { SetIncomingState(false); }

    size_t playedCount() {
        std::lock_guard lock(mutex);
        return played.size();
    }
    size_t idleCount() {
        std::lock_guard lock(mutex);
        return std::count(events.begin(), events.end(), "idle");
    }

    std::mutex mutex;
    CConnectionSocket* incoming = nullptr;
    std::vector<std::vector<uint8_t>> played;
    std::vector<std::string> events;
    bool animating = false;
    int failNext = 0;
    std::function<void()> duringPlay;  // runs as a message starts to play
};

class ConnectionSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        auto [near, peer] = PlainSocket::connectedPair();
        far = std::move(peer);
        connection = std::make_unique<CConnectionSocket>(&station);
        ASSERT_TRUE(connection->Attach(near.release()));
    }
    void TearDown() override {
        if (sender.joinable()) {
            sender.join();
        }
    }

    RecordingStation station;
    PlainSocket far;
    std::unique_ptr<CConnectionSocket> connection;
    std::thread sender;
    MessageBoxRecorder boxes;
};

}  // namespace

TEST_F(ConnectionSocket, AFrameInManySegmentsIsReadWholeWhileTheWindowHandlesAClick) {
    QPushButton button("Probe");
    button.show();
    std::atomic<int> clicks{0};
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });

    const auto data = pattern(300 * 1024, 3);
    const auto bytes = frameBytes(data);
    sender = std::thread([&] {
        const size_t half = bytes.size() / 2;
        for (size_t at = 0; at < half; at += 10000) {
            far.sendAll(bytes.data() + at, std::min<size_t>(10000, half - at));
        }
        // The rest only once the window has handled a click mid-frame.
        QMetaObject::invokeMethod(&button, "click", Qt::QueuedConnection);
        while (clicks == 0) {
            std::this_thread::yield();
        }
        for (size_t at = half; at < bytes.size(); at += 10000) {
            far.sendAll(bytes.data() + at, std::min<size_t>(10000, bytes.size() - at));
        }
    });
    ASSERT_TRUE(waitFor([&] { return station.playedCount() == 1; }));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(station.played[0] == data);
    const std::vector<std::string> order{"animate", "play", "still"};
    EXPECT_EQ(station.events, order);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(ConnectionSocket, FramesThatArriveTogetherAreAllPlayedInOrder) {
    const std::vector<std::vector<uint8_t>> frames{
        pattern(100, 1), pattern(5000, 2), pattern(1, 9), {}};
    std::vector<uint8_t> segment;
    for (const auto& f : frames) {
        const auto b = frameBytes(f);
        segment.insert(segment.end(), b.begin(), b.end());
    }
    ASSERT_TRUE(far.sendAll(segment));
    ASSERT_TRUE(waitFor([&] { return station.playedCount() == frames.size(); }));
    EXPECT_EQ(station.played, frames);
    EXPECT_EQ(connection->FramesPlayed(), frames.size());
    EXPECT_EQ(station.idleCount(), 0u);
}

TEST_F(ConnectionSocket,
       APlaybackFailureIsReportedOnceWhileTheSpeakerStillMovesAndLaterFramesPlay) {
    station.failNext = 2;  // the second failure in the call shows no box
    bool animatingAtBox = false;
    boxes.onShow = [&](const MessageBoxRecord&) { animatingAtBox = station.animating; };
    for (size_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(far.sendAll(frameBytes(pattern(64, static_cast<uint8_t>(i)))));
        ASSERT_TRUE(waitFor([&] { return station.playedCount() == i && !station.animating; }));
    }
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to play voice file."});
    EXPECT_TRUE(animatingAtBox);
    EXPECT_FALSE(station.animating);
}

// The call's buffer outlives a call that ends while its message plays: the
// far end's close is handled under the playback, which still reads the whole
// message afterwards (a buffer given back too early would be unmapped).
TEST_F(ConnectionSocket, TheFarEndClosingWhileAMessagePlaysLeavesTheMessageWhole) {
    const auto data = pattern(2 * 1024 * 1024, 4);
    station.duringPlay = [&] {
        station.duringPlay = nullptr;
        far.close();
        EXPECT_TRUE(waitFor([&] { return station.idleCount() == 1; }));
    };
    ASSERT_TRUE(far.sendAll(frameBytes(data)));
    ASSERT_TRUE(waitFor([&] { return station.playedCount() == 1; }));
    EXPECT_TRUE(station.played[0] == data);
    EXPECT_EQ(station.idleCount(), 1u);
}

TEST_F(ConnectionSocket, ClosingDuringAFrameCancelsTheReadWithoutAnErrorReport) {
    const auto bytes = frameBytes(pattern(100000, 6));
    ASSERT_TRUE(far.sendAll(bytes.data(), bytes.size() / 2));
    // The station's user presses Disconnect while the frame is arriving.
    QTimer disconnect;
    bool cancelled = false;
    QObject::connect(&disconnect, &QTimer::timeout, [&] {
        if (connection->IsBlocking()) {
            connection->Close();
            cancelled = true;
        }
    });
    disconnect.start(10);
    ASSERT_TRUE(waitFor([&] { return cancelled; }));
    EXPECT_TRUE(far.seesClose(20000));
    // The read ended quietly: nothing played, no box, the connection closed.
    EXPECT_TRUE(waitFor([&] { return !connection->IsBlocking(); }));
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(station.playedCount(), 0u);
    EXPECT_FALSE(connection->IsOpen());
}

TEST_F(ConnectionSocket, ARecordingSentWhileASendWaitsGoesOutRightAfterIt) {
    // Buffers far smaller than the first frame, so its send waits.
    const int buffer = 64 * 1024;
    setsockopt(far.fd(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(connection->Handle(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    const auto first = pattern(4 * 1024 * 1024, 1);
    const auto second = pattern(5000, 2);
    // While the first send waits for the far end, the window handles the
    // next release: its recording is queued, not refused.
    std::atomic<bool> queued{false};
    QTimer release;
    release.setSingleShot(true);
    QObject::connect(&release, &QTimer::timeout, [&] {
        EXPECT_TRUE(connection->IsBlocking());
        connection->sendRecording(second);
        queued = true;
    });
    release.start(50);
    auto frames = std::async(std::launch::async, [&] {
        while (!queued) {
            std::this_thread::yield();
        }
        return test::readFrames(far, 2);
    });
    connection->sendRecording(first);
    const auto received = frames.get();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[0] == first);
    EXPECT_TRUE(received[1] == second);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(ConnectionSocket, TheFarEndClosingBetweenFramesReturnsTheStationToIdle) {
    ASSERT_TRUE(far.sendAll(frameBytes(pattern(10, 7))));
    ASSERT_TRUE(waitFor([&] { return station.playedCount() == 1; }));
    far.close();
    ASSERT_TRUE(waitFor([&] { return station.idleCount() == 1; }));
    EXPECT_TRUE(boxes.texts().empty());
}

// A frame that cannot be read whole is never played; the connection is
// closed and the station goes to idle, as when the far end closes.
TEST_F(ConnectionSocket, AFrameThatCannotBeReadWholeIsNeverPlayed) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool reset;
        std::vector<std::string> boxes;
    };
    const auto whole = frameBytes(pattern(2000, 8));
    std::vector<uint8_t> tooLong{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    const Case cases[] = {
        {"cut inside the header", {0, 0, 0, 0, 9}, false, {}},
        {"cut inside the data", {whole.begin(), whole.begin() + 1500}, false, {}},
        {"reset inside the data",
         {whole.begin(), whole.begin() + 1500},
         true,
         {"An unknown error occurred while accessing an unnamed file."}},
        {"a length over the bound",
         tooLong,
         false,
         {"An invalid length was read from an unnamed file."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!connection) {
            SetUp();
        }
        station.events.clear();
        station.played.clear();
        boxes.clear();
        ASSERT_TRUE(far.sendAll(c.bytes));
        QTimer resetter;
        if (c.reset) {
            // Reset only once the station is reading the frame.
            QObject::connect(&resetter, &QTimer::timeout, [&] {
                if (connection->IsBlocking() && far.valid()) {
                    linger hard{1, 0};
                    setsockopt(far.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                    far.close();
                }
            });
            resetter.start(10);
        } else if (c.bytes != tooLong) {
            far.close();
        }
        ASSERT_TRUE(waitFor([&] { return station.idleCount() >= 1 && !connection->IsOpen(); }));
        EXPECT_EQ(station.playedCount(), 0u);
        EXPECT_EQ(boxes.texts(), c.boxes);
        connection.reset();
        far.close();
    }
}
