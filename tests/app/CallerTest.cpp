// Outgoing calls over the wire: a real station window on the offscreen
// platform calls a plain TCP listener on loopback, which plays the far
// station. Talk records from the null sink's monitor; frames from the far end
// play on the null sink.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <future>
#include <optional>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "discovery/FoundStations.h"
#include "discovery/NearbyWindow.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/StatusLine.h"
#include "memory/StationMemory.h"
#include "net/CallerWorker.h"
#include "support/PlainSocket.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::fileBytes;
using chatterly::test::frameBytes;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::PlainSocket;
using chatterly::test::waitFor;

namespace {

constexpr const char* kFailedToConnect = "Failed to connect to remote parlio.";

class Caller : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::soundServerAvailable()) {
            GTEST_SKIP() << "no sound server: the station starts without recorder";
        }
        test::clearSignalEvents();
        far = PlainSocket::listenLoopback();
    }
    void TearDown() override {
        if (station) {
            station->controller().Disconnect();
        }
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    }

    // asCaptured: the clean-up off, so that the null sink's silence is sent.
    void start(StationOptions options = {}, bool asCaptured = true) {
        if (asCaptured) {
            test::sendAsCaptured();
        }
        options.listenPort = 0;
        if (options.callPort == ListenPort) {
            options.callPort = far.port();
        }
        station = std::make_unique<Station>(options);
        station->InitStationWindow();
        station->window().show();
        boxes.clear();
    }
    QPushButton* button(int id) {
        return qobject_cast<QPushButton*>(station->window().Control(id));
    }
    void click(int id) { QTest::mouseClick(button(id), Qt::LeftButton); }
    void call(const char* remote) {
        auto* box = qobject_cast<QComboBox*>(station->window().Control(IDC_REMOTE));
        box->setEditText(QString::fromLatin1(remote));
        click(IDC_CONNECT);
    }
    // The call stands: the far end took it and the controls show it.
    PlainSocket answer() {
        PlainSocket answered = far.acceptWithin(20000);
        EXPECT_TRUE(answered.valid());
        EXPECT_TRUE(waitFor([&] { return connected(); }));
        return answered;
    }
    bool connected() {
        return button(IDC_TALK)->isEnabled() && button(IDC_DISCONNECT)->isEnabled() &&
               !button(IDC_CONNECT)->isEnabled() &&
               station->window().ShownBitmap(IDC_LED) == IDB_LED_CONNECTED;
    }
    bool idle() {
        return button(IDC_CONNECT)->isEnabled() && !button(IDC_TALK)->isEnabled() &&
               station->window().ShownBitmap(IDC_LED) == IDB_LED_IDLE &&
               !station->caller().running();
    }
    bool recording() { return station->recorder().device().isRecording(); }
    void press() {
        click(IDC_TALK);
        ASSERT_TRUE(waitFor([&] { return recording(); }));
    }
    void release() { click(IDC_TALK); }
    // Frames the far end receives, read on a thread of their own.
    std::future<std::vector<std::vector<uint8_t>>> framesAt(const PlainSocket& end, size_t n) {
        return std::async(std::launch::async, [&end, n] { return test::readFrames(end, n); });
    }
    template <typename T>
    T await(std::future<T>& f) {
        EXPECT_TRUE(waitFor(
            [&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        return f.get();
    }

    test::ScratchDirectory dir;
    MessageBoxRecorder boxes;
    PlainSocket far;
    std::unique_ptr<Station> station;
};

}  // namespace

TEST_F(Caller, AnAliasCallsItsAddressAndAnyOtherTextIsCalledAsTyped) {
    start();
    CStringArray entries;
    entries.Add("127.0.0.1 == far");
    station->memory().rebuildFromEntries(entries);
    for (const char* remote : {"far", "127.0.0.1", "localhost"}) {
        SCOPED_TRACE(remote);
        call(remote);
        PlainSocket answered = answer();
        EXPECT_EQ(station->window().windowTitle(), "Chatterly");  // an outgoing call
        click(IDC_DISCONNECT);
        EXPECT_TRUE(answered.seesClose(20000));
        EXPECT_TRUE(waitFor([&] { return idle(); }));
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Caller, AStationFoundOnTheNetworkIsCalledByItsAddressAsIfTyped) {
    start();
    // No Avahi daemon here: the station says so, and what a daemon would
    // report reaches the list all the same.
    auto* line = qobject_cast<StatusLine*>(station->window().Control(IDC_STATUS_LINE));
    EXPECT_TRUE(
        waitFor([&] { return line->notice().startsWith("Stations on the network cannot"); }));
    station->found().found(1, "far", "local");
    station->found().resolved(1, "far", "local", "far.local", "127.0.0.1", far.port());
    EXPECT_TRUE(waitFor([&] { return button(IDC_NEARBY)->text() == "&Nearby (1)"; }));
    click(IDC_NEARBY);
    NearbyWindow* nearby = station->nearbyWindow();
    ASSERT_TRUE(nearby && nearby->isVisible());
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == nearby; }));
    ASSERT_EQ(QApplication::focusWidget(), nearby->list());  // the first station selected
    QTest::keyClick(nearby->list(), Qt::Key_Return);
    PlainSocket answered = answer();
    EXPECT_FALSE(nearby->isVisible());
    EXPECT_EQ(qobject_cast<QComboBox*>(station->window().Control(IDC_REMOTE))->currentText(),
              "127.0.0.1");
    click(IDC_DISCONNECT);
    EXPECT_TRUE(answered.seesClose(20000));
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Caller, EachReleaseSendsExactlyOneFrameHoldingTheRecording) {
    start();
    call("127.0.0.1");
    PlainSocket answered = answer();
    for (int i = 0; i < 2; ++i) {
        press();
        EXPECT_EQ(button(IDC_TALK)->text(), "&Stop Recording");
        waitFor([] { return false; }, std::chrono::milliseconds(300));
        auto frames = framesAt(answered, 1);
        release();
        EXPECT_EQ(button(IDC_TALK)->text(), "&Talk");
        const auto received = await(frames);
        ASSERT_EQ(received.size(), 1u);
        ASSERT_GT(received[0].size(), 44u + 22050 / 5);  // a WAV header and some sound
        EXPECT_EQ(std::string(received[0].begin(), received[0].begin() + 4), "RIFF");
    }
    // Nothing more follows the two frames.
    EXPECT_TRUE(answered.readUntilClosed(300).empty());
    EXPECT_TRUE(connected());
    EXPECT_TRUE(boxes.texts().empty());
}

// A release with nothing said sends nothing, on either end of a call: the
// status line and the talk command say so, no scratch file stands, and the
// next recording (sent as captured) is the next frame the far end gets.
TEST_F(Caller, AReleaseWithNothingSaidSendsNothingAndSaysSo) {
    start({}, false);
    auto* line = qobject_cast<StatusLine*>(station->window().Control(IDC_STATUS_LINE));
    for (const bool outgoing : {false, true}) {
        SCOPED_TRACE(outgoing ? "outgoing" : "incoming");
        PlainSocket farEnd;
        if (outgoing) {
            call("127.0.0.1");
            farEnd = answer();
        } else {
            farEnd = PlainSocket::connectLoopback(station->listeningPort());
            ASSERT_TRUE(waitFor([&] { return station->controller().incomingCall(); }));
        }
        station->recorder().setCleanUp(VoiceCleanup::Level::Gentle);
        EXPECT_EQ(station->window().OnTalkCommand(), "recording");
        ASSERT_TRUE(waitFor([&] { return recording(); }));
        EXPECT_EQ(station->window().OnTalkCommand(), "nothing said");
        EXPECT_TRUE(waitFor([&] { return line->notice() == "Nothing was said; no message sent"; }));
        EXPECT_FALSE(std::filesystem::exists("Parlio.wav"));
        station->recorder().setCleanUp(VoiceCleanup::Level::Off);
        auto frames = framesAt(farEnd, 1);
        press();
        EXPECT_EQ(station->window().OnTalkCommand(), "sent");
        const auto received = await(frames);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_TRUE(received[0] == fileBytes("Parlio.wav"));
        click(IDC_DISCONNECT);
        EXPECT_TRUE(farEnd.seesClose(20000));
        EXPECT_TRUE(waitFor([&] { return idle(); }));
    }
    EXPECT_TRUE(boxes.texts().empty());
}

// One call at a time: a third station calling in while this one calls out
// gets the busy message, and Talk still goes to the station called.
TEST_F(Caller, ACallerWhileTheStationCallsOutIsRefusedAndTalkGoesToTheStationCalled) {
    for (const char* f : {"Busy.wav", "CallWaiting.wav"}) {
        std::filesystem::copy_file(std::string(CHATTERLY_RESOURCE_DIR "/") + f, f);
    }
    const auto busy = frameBytes(fileBytes("Busy.wav"));
    auto intrude = [&] {
        PlainSocket intruder = PlainSocket::connectLoopback(station->listeningPort());
        auto got = std::async(std::launch::async, [&] {
            bool closed = false;
            auto bytes = intruder.readUntilClosed(30000, &closed);
            return closed ? bytes : std::vector<uint8_t>();
        });
        EXPECT_TRUE(await(got) == busy);
    };
    enum class Call { BeingSetUp, Standing };
    for (const Call c : {Call::BeingSetUp, Call::Standing}) {
        SCOPED_TRACE(c == Call::BeingSetUp ? "being set up" : "standing");
        PlainSocket full = PlainSocket::listenLoopback(0);
        PlainSocket filler = PlainSocket::connectLoopback(full.port());
        StationOptions options;
        options.connectLimit = std::chrono::seconds(60);
        if (c == Call::BeingSetUp) {
            options.callPort = full.port();  // its queue is full: the connect hangs
        }
        start(options);
        call("127.0.0.1");
        if (c == Call::BeingSetUp) {
            intrude();
            EXPECT_EQ(station->window().windowTitle(), "Chatterly");
            click(IDC_DISCONNECT);
        } else {
            PlainSocket answered = answer();
            intrude();
            press();
            auto frames = framesAt(answered, 1);
            release();
            EXPECT_EQ(await(frames).size(), 1u);
            EXPECT_TRUE(connected());
            EXPECT_EQ(station->window().windowTitle(), "Chatterly");
            click(IDC_DISCONNECT);
        }
        EXPECT_TRUE(boxes.texts().empty());
        station.reset();
    }
}

TEST_F(Caller, AFrameFromTheFarEndWhileTalkIsDownPlaysAfterTheRelease) {
    std::filesystem::copy_file(CHATTERLY_RESOURCE_DIR "/CallWaiting.wav", "cue.wav");
    start();
    call("127.0.0.1");
    PlainSocket answered = answer();
    press();
    ASSERT_TRUE(answered.sendAll(frameBytes(fileBytes("cue.wav"))));
    // Talk stays down, the speaker watched all the while, until the frame
    // lies at the station (the far end holds none of it unacknowledged) and a
    // further second of sound is recorded.
    bool playedEarly = false;
    auto atRest = [&] { return station->window().ShownBitmap(IDC_SPEAKER) == IDB_SPEAKER_REST; };
    std::optional<uint64_t> atArrival;  // the recording's length when the frame lay there
    EXPECT_TRUE(waitFor([&] {
        playedEarly = playedEarly || !atRest();
        const uint64_t recorded = station->recorder().device().length();
        int unacknowledged = -1;
        if (!atArrival && ioctl(answered.fd(), SIOCOUTQ, &unacknowledged) == 0 && !unacknowledged) {
            atArrival = recorded;
        }
        return atArrival && recorded >= *atArrival + RecordingDevice::kSampleRate;
    }));
    auto frames = framesAt(answered, 1);
    const auto released = std::chrono::steady_clock::now();
    release();
    EXPECT_EQ(await(frames).size(), 1u);
    EXPECT_FALSE(playedEarly);
    // Then the far end's message plays here, with the speaker moving.
    EXPECT_TRUE(waitFor([&] { return !atRest(); }));
    EXPECT_TRUE(waitFor([&] { return atRest(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(Playback::lastMessageStart());
    EXPECT_GT(*Playback::lastMessageStart(), released);
    EXPECT_TRUE(boxes.texts().empty());
}

// However a call ends while Talk is down, nothing is sent, the recording stops
// at once and the microphone is let go; Talk is released and reads "&Talk".
TEST_F(Caller, ACallThatEndsWhileTalkIsDownDropsTheRecording) {
    enum class End { Disconnect, FarEndCloses };
    for (const End end : {End::Disconnect, End::FarEndCloses}) {
        SCOPED_TRACE(end == End::Disconnect ? "Disconnect" : "the far end closes");
        start();
        call("127.0.0.1");
        PlainSocket answered = answer();
        press();
        if (end == End::Disconnect) {
            click(IDC_DISCONNECT);
        } else {
            answered.close();
        }
        EXPECT_TRUE(waitFor([&] { return idle() && !recording(); }));
        EXPECT_FALSE(button(IDC_TALK)->isChecked());
        EXPECT_EQ(button(IDC_TALK)->text(), "&Talk");
        if (answered.valid()) {
            bool closed = false;
            EXPECT_TRUE(answered.readUntilClosed(20000, &closed).empty());
            EXPECT_TRUE(closed);
        }
        EXPECT_TRUE(boxes.texts().empty());
        station.reset();
    }
}

TEST_F(Caller, ASendThatFailsReturnsTheStationToIdle) {
    start();
    call("127.0.0.1");
    PlainSocket answered = answer();
    press();
    // The far end sends a little (so its going is not seen as a close while
    // Talk is down) and resets the connection.
    ASSERT_TRUE(answered.sendAll("abc", 3));
    linger hard{1, 0};
    setsockopt(answered.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    answered.close();
    waitFor([] { return false; }, std::chrono::milliseconds(200));
    release();
    EXPECT_TRUE(waitFor([&] { return idle(); }));
    auto* line = qobject_cast<StatusLine*>(station->window().Control(IDC_STATUS_LINE));
    EXPECT_TRUE(waitFor([&] { return line->notice() == test::kNotDelivered; }));
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Caller, AConnectThatFailsShowsTheMessageAndLeavesTheStationIdle) {
    struct Case {
        const char* what;
        bool refused;  // else the far end never answers (its queue is full)
    };
    for (const Case c : {Case{"refused", true}, Case{"no answer within the limit", false}}) {
        SCOPED_TRACE(c.what);
        PlainSocket full = PlainSocket::listenLoopback(0);
        PlainSocket filler = PlainSocket::connectLoopback(full.port());
        StationOptions options;
        options.callPort = c.refused ? PlainSocket::closedPort() : full.port();
        options.connectLimit = std::chrono::milliseconds(1500);
        start(options);
        bool everConnected = false;
        call("127.0.0.1");
        EXPECT_TRUE(waitFor([&] {
            everConnected = everConnected || connected();
            return boxes.count() > 0;
        }));
        EXPECT_EQ(boxes.texts(), std::vector<std::string>{kFailedToConnect});
        EXPECT_TRUE(waitFor([&] { return idle(); }));
        EXPECT_FALSE(everConnected);
        station.reset();
    }
}

TEST_F(Caller, ACallBeingSetUpIgnoresConnectAndEndsQuietlyOnDisconnect) {
    PlainSocket full = PlainSocket::listenLoopback(0);
    PlainSocket filler = PlainSocket::connectLoopback(full.port());
    StationOptions options;
    options.callPort = full.port();
    options.connectLimit = std::chrono::seconds(60);
    start(options);
    call("127.0.0.1");
    ASSERT_TRUE(waitFor([&] { return ThreadStarter::running() >= 2; }));  // worker and timer
    const int threads = ThreadStarter::running();
    click(IDC_CONNECT);  // again, while the connect hangs
    EXPECT_EQ(ThreadStarter::running(), threads);
    const auto pressed = std::chrono::steady_clock::now();
    click(IDC_DISCONNECT);
    EXPECT_TRUE(waitFor([&] { return idle(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5));
    EXPECT_TRUE(boxes.texts().empty());
}
