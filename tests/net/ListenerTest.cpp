// The listener over the wire: a real station window on the offscreen
// platform takes calls from plain TCP clients on loopback. The first caller
// becomes the incoming call; callers who come while it is held get the busy
// message after the call-waiting cue, and then see their connection close.
#include <gtest/gtest.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/sockets/CSocket.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/StatusLine.h"
#include "memory/StationMemory.h"
#include "net/BusyResponder.h"
#include "net/CConnectionSocket.h"
#include "support/PlainSocket.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using chatterly::test::fileBytes;
using chatterly::test::frameBytes;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::PlainSocket;
using chatterly::test::ScratchDirectory;
using chatterly::test::waitFor;
namespace test = chatterly::test;
using Clock = std::chrono::steady_clock;

namespace {

// What a refused caller saw: every byte until the close, and when the
// first one came.
struct BusyAnswer {
    std::vector<uint8_t> bytes;
    bool closed = false;
    Clock::duration firstByteAfter{};
};

std::future<BusyAnswer> readAnswer(PlainSocket& caller, Clock::time_point calledAt) {
    return std::async(std::launch::async, [&caller, calledAt] {
        BusyAnswer answer;
        if (!caller.valid()) {
            return answer;
        }
        pollfd p{caller.fd(), POLLIN, 0};
        if (poll(&p, 1, 30000) > 0) {
            answer.firstByteAfter = Clock::now() - calledAt;
        }
        answer.bytes = caller.readUntilClosed(30000, &answer.closed);
        return answer;
    });
}

// Calls the station from a thread of its own: a connect beyond the
// listener's backlog waits until the station accepts.
std::future<BusyAnswer> callAndReadAnswer(uint16_t port, Clock::time_point calledAt) {
    return std::async(std::launch::async, [port, calledAt] {
        PlainSocket caller = PlainSocket::connectLoopback(port);
        return readAnswer(caller, calledAt).get();
    });
}

class Listener : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!chatterly::test::soundServerAvailable()) {
            GTEST_SKIP() << "no sound server: the station starts without recorder or listener";
        }
        for (const char* f : {"Busy.wav", "CallWaiting.wav"}) {
            std::filesystem::copy_file(std::string(CHATTERLY_RESOURCE_DIR "/") + f, dir.file(f));
        }
        chatterly::test::sendAsCaptured();
        StationOptions options;
        options.listenPort = 0;
        station = std::make_unique<Station>(options);
        station->InitStationWindow();
        station->window().show();
        port = station->listeningPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        // As the window's close does: the call ends before the window goes.
        if (station) {
            station->controller().Disconnect();
        }
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(40)));
    }

    bool inIncomingCall() {
        CStationDlg& window = station->window();
        return window.windowTitle() == "Chatterly Connected to 127.0.0.1" &&
               !window.Control(IDC_CONNECT)->isEnabled() && window.Control(IDC_TALK)->isEnabled() &&
               window.Control(IDC_DISCONNECT)->isEnabled() &&
               window.ShownBitmap(IDC_LED) == IDB_LED_CONNECTED;
    }
    bool idle() {
        CStationDlg& window = station->window();
        return window.windowTitle() == "Chatterly" && window.Control(IDC_CONNECT)->isEnabled() &&
               !window.Control(IDC_DISCONNECT)->isEnabled();
    }

    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    std::unique_ptr<Station> station;
    uint16_t port = 0;
};

}  // namespace

TEST_F(Listener, TheFirstCallerBecomesTheIncomingCallAndItsCloseReturnsTheStationToIdle) {
    PlainSocket caller = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(caller.valid());
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    EXPECT_TRUE(station->controller().incomingCall());
    EXPECT_EQ(station->listener().ConnectionCount(), 1u);

    // Every frame the caller sends is played.
    const auto cue = fileBytes("CallWaiting.wav");
    ASSERT_TRUE(caller.sendAll(frameBytes(cue)));
    ASSERT_TRUE(caller.sendAll(frameBytes(cue)));
    CConnectionSocket* call = station->listener().Connection(0);
    ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 2; }, std::chrono::seconds(30)));

    caller.close();
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    EXPECT_FALSE(station->controller().incomingCall());
    // The ended call is closed and freed.
    EXPECT_TRUE(waitFor([&] { return station->listener().ConnectionCount() == 0; }));
    EXPECT_TRUE(boxes.texts().empty());
}

// The user answers while the caller's message is still arriving: the reply
// waits until the message is in and then goes out, whole.
TEST_F(Listener, TalkReleasedWhileTheCallersMessageArrivesIsSentOnceItIsIn) {
    PlainSocket caller = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    const auto message = frameBytes(fileBytes("CallWaiting.wav"));
    const size_t half = message.size() / 2;
    ASSERT_TRUE(caller.sendAll(message.data(), half));

    CConnectionSocket* call = station->listener().Connection(0);
    auto* talk = qobject_cast<QPushButton*>(station->window().Control(IDC_TALK));
    enum Step { Waiting, Pressed, Released };
    std::atomic<int> step{Waiting};
    Clock::time_point pressedAt;
    // The user's clicks come while the station waits for the rest of the message.
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (step == Waiting && call->IsBlocking()) {
            QTest::mouseClick(talk, Qt::LeftButton);
            pressedAt = Clock::now();
            step = Pressed;
        } else if (step == Pressed && Clock::now() - pressedAt > std::chrono::milliseconds(300)) {
            QTest::mouseClick(talk, Qt::LeftButton);
            step = Released;
        }
    });
    user.start(20);
    auto reply = std::async(std::launch::async, [&] {
        while (step != Released) {
            std::this_thread::yield();
        }
        caller.sendAll(message.data() + half, message.size() - half);
        return test::readFrames(caller, 1);
    });
    ASSERT_TRUE(waitFor(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        std::chrono::seconds(60)));
    user.stop();
    const auto frames = reply.get();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::string(frames[0].begin(), frames[0].begin() + 4), "RIFF");
    EXPECT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(30)));
    EXPECT_TRUE(inIncomingCall());
    EXPECT_TRUE(boxes.texts().empty());
}

// A reply the caller can no longer take ends the call and says so; Talk
// records again in the next call.
TEST_F(Listener, AReplyTheCallerCannotTakeEndsTheCallAndSaysSo) {
    PlainSocket caller = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    auto* talk = qobject_cast<QPushButton*>(station->window().Control(IDC_TALK));
    auto recording = [&] { return station->recorder().device().isRecording(); };
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(waitFor(recording));
    // The caller resets; the release comes before the station has seen it.
    linger hard{1, 0};
    setsockopt(caller.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    caller.close();
    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return idle(); }));
    auto* line = qobject_cast<StatusLine*>(station->window().Control(IDC_STATUS_LINE));
    EXPECT_TRUE(waitFor([&] { return line->notice() == test::kNotDelivered; }));
    EXPECT_TRUE(boxes.texts().empty());

    PlainSocket next = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_TRUE(waitFor(recording));
}

// A box about a call runs no notification of the calls while it is up (no
// failure can open a box inside it), but callers are still answered.
TEST_F(Listener, WhileABoxAboutTheCallIsUpItsMessagesWaitAndCallersAreAnswered) {
    PlainSocket caller = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    CConnectionSocket* call = station->listener().Connection(0);
    const auto busy = frameBytes(fileBytes("Busy.wav"));
    bool heldInside = false;
    size_t playedInside = 99;
    std::vector<uint8_t> refusedGot;
    boxes.onShow = [&](const MessageBoxRecord&) {
        // The call's next message comes while the box is up.
        ASSERT_TRUE(caller.sendAll(frameBytes(fileBytes("CallWaiting.wav"))));
        heldInside = waitFor([] { return MessageQueue::current().hasHeld(); });
        auto answer = callAndReadAnswer(port, Clock::now());
        EXPECT_TRUE(waitFor(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        refusedGot = answer.get().bytes;
        playedInside = call->FramesPlayed();
    };
    ASSERT_TRUE(caller.sendAll(frameBytes(test::pattern(100))));  // no sound at all
    ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 2; }, std::chrono::seconds(30)));
    EXPECT_TRUE(heldInside);
    EXPECT_EQ(playedInside, 0u);
    EXPECT_TRUE(refusedGot == busy);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to play voice file."});
}

// A refused caller is answered at once, also while the call's message is
// still arriving or playing: the listener is never held.
TEST_F(Listener, RefusedCallersAreAnsweredWhileTheCallsMessageArrivesAndPlays) {
    PlainSocket caller = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    CConnectionSocket* call = station->listener().Connection(0);
    const auto message = frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 3.0));
    const size_t half = message.size() / 2;
    ASSERT_TRUE(caller.sendAll(message.data(), half));

    struct Refused {
        std::future<BusyAnswer> answer;
        std::optional<bool> inTime;  // answered while the message arrived, or played
    };
    std::vector<Refused> refused;
    std::thread rest;
    auto answered = [](Refused& r) {
        return !r.inTime && r.answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    auto playing = [&] {
        return station->window().ShownBitmap(IDC_SPEAKER) != IDB_SPEAKER_REST &&
               call->FramesPlayed() == 0;
    };
    // Looks on from inside whatever the station waits in.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (refused.empty() && call->IsBlocking()) {
            refused.push_back({callAndReadAnswer(port, Clock::now()), {}});
        } else if (refused.size() == 1 && answered(refused[0])) {
            refused[0].inTime = call->IsBlocking();
            rest =
                std::thread([&] { caller.sendAll(message.data() + half, message.size() - half); });
        } else if (refused.size() == 1 && refused[0].inTime && playing()) {
            refused.push_back({callAndReadAnswer(port, Clock::now()), {}});
        } else if (refused.size() == 2 && answered(refused[1])) {
            refused[1].inTime = playing();
        }
    });
    watch.start(10);
    EXPECT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(60)));
    watch.stop();
    if (rest.joinable()) {
        rest.join();
    }
    ASSERT_EQ(refused.size(), 2u);
    const auto busy = frameBytes(fileBytes("Busy.wav"));
    for (Refused& r : refused) {
        EXPECT_EQ(r.inTime, std::optional<bool>(true));
        EXPECT_TRUE(r.answer.get().bytes == busy);
    }
}

// Two callers refused together: one hears the cue played here first, the
// other is not kept waiting for a second cue.
TEST_F(Listener, CallersDuringTheCallGetTheBusyMessageAfterOneCueAndAreClosed) {
    PlainSocket first = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));

    const auto calledAt = Clock::now();
    PlainSocket second = PlainSocket::connectLoopback(port);
    PlainSocket third = PlainSocket::connectLoopback(port);
    auto secondAnswer = readAnswer(second, calledAt);
    auto thirdAnswer = readAnswer(third, calledAt);
    ASSERT_TRUE(waitFor(
        [&] {
            return secondAnswer.wait_for(std::chrono::seconds(0)) == std::future_status::ready &&
                   thirdAnswer.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        },
        std::chrono::seconds(60)));

    const auto busy = frameBytes(fileBytes("Busy.wav"));
    int afterTheCue = 0;
    for (auto* answer : {&secondAnswer, &thirdAnswer}) {
        const BusyAnswer a = answer->get();
        EXPECT_TRUE(a.closed);
        EXPECT_TRUE(a.bytes == busy) << a.bytes.size() << " bytes";
        // The cue takes about 0.7 s to play here, before its caller's answer.
        afterTheCue += a.firstByteAfter >= std::chrono::milliseconds(500);
    }
    EXPECT_EQ(afterTheCue, 1);
    // The call in progress is untouched.
    EXPECT_TRUE(inIncomingCall());
    EXPECT_EQ(station->listener().ConnectionCount(), 1u);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Listener, MissingOrUnreadableSoundFilesNeitherStopTheCallNorTheAnswer) {
    PlainSocket first = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    const auto busy = frameBytes(fileBytes("Busy.wav"));
    struct Case {
        const char* what;
        std::function<void()> fault;
        bool busyFrame;  // the refused caller still gets "Busy.wav"
    };
    // A FIFO by either name would block its reader until someone wrote to it.
    const Case cases[] = {
        {"no CallWaiting.wav", [] { std::filesystem::remove("CallWaiting.wav"); }, true},
        {"CallWaiting.wav a FIFO", [] { ASSERT_EQ(mkfifo("CallWaiting.wav", 0600), 0); }, true},
        {"no Busy.wav", [] { std::filesystem::rename("Busy.wav", "Busy.kept"); }, false},
        {"Busy.wav a folder", [] { std::filesystem::create_directory("Busy.wav"); }, false},
        {"Busy.wav a FIFO",
         [] {
             std::filesystem::remove("Busy.wav");
             ASSERT_EQ(mkfifo("Busy.wav", 0600), 0);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.fault();
        auto answer = callAndReadAnswer(port, Clock::now());
        ASSERT_TRUE(waitFor(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        const BusyAnswer a = answer.get();
        EXPECT_TRUE(a.closed);
        EXPECT_TRUE(c.busyFrame ? a.bytes == busy : a.bytes.empty()) << a.bytes.size() << " bytes";
    }
    EXPECT_TRUE(inIncomingCall());
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Listener, AFloodOfCallersIsBoundedAndNeverStarvesTheCall) {
    PlainSocket first = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));

    const int callers = BusyResponder::kMaxRunning + 4;
    std::vector<std::future<BusyAnswer>> answers;
    const auto calledAt = Clock::now();
    for (int i = 0; i < callers; ++i) {
        answers.push_back(callAndReadAnswer(port, calledAt));
    }
    // The call goes on meanwhile.
    ASSERT_TRUE(first.sendAll(frameBytes(fileBytes("CallWaiting.wav"))));
    CConnectionSocket* call = station->listener().Connection(0);
    ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(30)));

    const auto busy = frameBytes(fileBytes("Busy.wav"));
    int answered = 0;
    int turnedAway = 0;
    for (auto& answer : answers) {
        ASSERT_TRUE(waitFor(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        const BusyAnswer a = answer.get();
        EXPECT_TRUE(a.closed)
            << a.bytes.size() << " bytes, first after "
            << std::chrono::duration_cast<std::chrono::milliseconds>(a.firstByteAfter).count();
        if (a.bytes.empty()) {
            ++turnedAway;
        } else {
            EXPECT_TRUE(a.bytes == busy);
            ++answered;
        }
    }
    EXPECT_GE(answered, BusyResponder::kMaxRunning);
    EXPECT_EQ(answered + turnedAway, callers);
    EXPECT_TRUE(inIncomingCall());
}

TEST(ListenerMemory, AnIncomingCallerIsNamedByItsAlias) {
    if (!chatterly::test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server: the station starts without recorder or listener";
    }
    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    {
        StationMemory memory;
        CStringArray entries;
        entries.Add("127.0.0.1 == desk");
        memory.rebuildFromEntries(entries);
        memory.SaveMemory();
    }
    StationOptions options;
    options.listenPort = 0;
    Station station(options);
    station.InitStationWindow();
    PlainSocket caller = PlainSocket::connectLoopback(station.listeningPort());
    ASSERT_TRUE(
        waitFor([&] { return station.window().windowTitle() == "Chatterly Connected to desk"; }));
    station.controller().Disconnect();
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Listener, AfterDisconnectTheNextCallerBecomesTheIncomingCall) {
    PlainSocket first = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    QTest::mouseClick(qobject_cast<QPushButton*>(station->window().Control(IDC_DISCONNECT)),
                      Qt::LeftButton);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(first.seesClose(20000));
    // The ended call's object is freed at once, not at the next accept.
    EXPECT_TRUE(waitFor([&] { return station->listener().ConnectionCount() == 0; }));

    PlainSocket next = PlainSocket::connectLoopback(port);
    ASSERT_TRUE(waitFor([&] { return inIncomingCall(); }));
    ASSERT_EQ(station->listener().ConnectionCount(), 1u);
    EXPECT_TRUE(station->listener().Connection(0)->IsOpen());

    // The window's end closes every accepted connection (its timer is
    // stopped first, as the close request would).
    station->displays().stopConnectionTimers();
    station.reset();
    EXPECT_TRUE(next.seesClose(20000));
}

TEST(ListenerPortTaken, TheMessageIsShownTalkIsDisabledAndNoCallIsAccepted) {
    if (!chatterly::test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server: the station starts without recorder or listener";
    }
    CSocket other;
    ASSERT_TRUE(other.Create(0));
    ASSERT_TRUE(other.Listen(5));
    MessageBoxRecorder boxes;
    StationOptions options;
    options.listenPort = other.LocalPort();
    Station station(options);
    station.InitStationWindow();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to create a listening socket"});
    EXPECT_FALSE(station.window().Control(IDC_TALK)->isEnabled());
    EXPECT_FALSE(station.listener().IsOpen());
    EXPECT_EQ(station.listeningPort(), 0);

    PlainSocket caller = PlainSocket::connectLoopback(options.listenPort);
    ASSERT_TRUE(caller.valid());
    waitFor([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(station.window().windowTitle(), "Chatterly");
    EXPECT_EQ(station.listener().ConnectionCount(), 0u);
}
