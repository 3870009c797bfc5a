// A message playing on an incoming call, and the user's input meanwhile: a
// stop gesture (Disconnect, Exit, Escape, the close box) ends the message at
// once and then takes effect; other input waits until it has played, and so
// does the talk command's press.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <future>
#include <optional>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "app/StationLock.h"
#include "audio/Playback.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/ThreadStarter.h"
#include "net/CConnectionSocket.h"
#include "support/PlainSocket.h"
#include "support/SignalEventsReset.h"
#include "support/TalkClient.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using chatterly::test::PlainSocket;
using chatterly::test::waitFor;
using Clock = std::chrono::steady_clock;

namespace {

struct Gesture {
    const char* what;
    std::function<void(CStationDlg&)> make;
    bool stops;  // the message ends at once
    enum class Then { EndsWindow, EndsCall, CallGoesOn } then;
};

}  // namespace

TEST(PlaybackStop, StopGesturesEndTheMessageAtOnceAndOtherInputWaits) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    auto click = [](int id) {
        return [id](CStationDlg& w) {
            QTest::mouseClick(qobject_cast<QPushButton*>(w.Control(id)), Qt::LeftButton);
        };
    };
    const Gesture gestures[] = {
        {"Disconnect", click(IDC_DISCONNECT), true, Gesture::Then::EndsCall},
        {"Exit", click(IDC_EXIT), true, Gesture::Then::EndsWindow},
        {"Escape", [](CStationDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }, true,
         Gesture::Then::CallGoesOn},
        {"the close box", [](CStationDlg& w) { w.close(); }, true, Gesture::Then::EndsWindow},
        {"About", click(IDC_ABOUT), false, Gesture::Then::CallGoesOn},
    };
    const auto image = test::frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 3.0, 440.0));
    for (const Gesture& g : gestures) {
        SCOPED_TRACE(g.what);
        test::ScratchDirectory dir;
        test::MessageBoxRecorder boxes;
        test::clearSignalEvents();
        StationOptions options;
        options.listenPort = 0;
        Station station(options);
        station.InitStationWindow();
        station.window().show();
        PlainSocket caller = PlainSocket::connectLoopback(station.listeningPort());
        ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
        CConnectionSocket* call = station.listener().Connection(0);
        size_t playedAtBox = 0;
        boxes.onShow = [&](const MessageBoxRecord&) { playedAtBox = call->FramesPlayed(); };

        // The gesture comes once the message is heard, from inside the wait.
        const auto sent = Clock::now();
        Clock::time_point made{};
        QTimer gesture;
        QObject::connect(&gesture, &QTimer::timeout, [&] {
            const auto started = Playback::lastMessageStart();
            if (made == Clock::time_point{} && started && *started > sent) {
                made = Clock::now();
                g.make(station.window());
            }
        });
        gesture.start(20);
        ASSERT_TRUE(caller.sendAll(image));
        ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(30)));
        const auto ended = Clock::now();
        ASSERT_NE(made, Clock::time_point{});
        if (g.stops) {
            EXPECT_LT(ended - made, std::chrono::milliseconds(800));
            // Then the gesture takes effect.
            if (g.then == Gesture::Then::CallGoesOn) {
                waitFor([] { return false; }, std::chrono::milliseconds(300));
                EXPECT_TRUE(station.window().isVisible());
                EXPECT_TRUE(station.controller().incomingCall());
                EXPECT_FALSE(test::signalled(DisconnectEvent));
            } else {
                EXPECT_TRUE(waitFor([&] {
                    return g.then == Gesture::Then::EndsWindow
                               ? !station.window().isVisible()
                               : !station.controller().incomingCall();
                }));
                EXPECT_TRUE(
                    test::signalled(DisconnectEvent));  // by Disconnect, not taken by the stop
            }
        } else {
            EXPECT_GT(ended - made, std::chrono::milliseconds(2000));  // played on
            ASSERT_TRUE(waitFor([&] { return boxes.count() == 1; }));
            EXPECT_EQ(playedAtBox, 1u);  // the click took effect after the message
        }
        station.controller().Disconnect();
    }
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
}

// The talk command presses Talk as a click does, on a call only; while a
// message plays the press waits like a click, and the command is answered
// at once.
TEST(PlaybackStop, TheTalkCommandPressesTalkAndWaitsLikeAClickWhileAMessagePlays) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    test::ScratchDirectory dir;
    test::sendAsCaptured();
    test::MessageBoxRecorder boxes;
    test::clearSignalEvents();
    StationOptions options;
    options.listenPort = 0;
    Station station(options);
    station.InitStationWindow();
    station.window().show();
    StationLock lock;  // as the application wires them
    ASSERT_TRUE(lock.claim());
    lock.listen([&station] { station.window().bringToFront(); },
                [&station] { return station.window().OnTalkCommand(); });
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    const auto command = [] {
        const auto r = test::runBeside([] { return test::startTalkCommand().get(); });
        return std::pair(r.code, r.line);
    };

    EXPECT_EQ(command(), std::pair(1, std::string("no call\n")));
    PlainSocket caller = PlainSocket::connectLoopback(station.listeningPort());
    ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
    EXPECT_EQ(command(), std::pair(0, std::string("recording\n")));
    EXPECT_TRUE(talk->isChecked());
    EXPECT_EQ(command(), std::pair(0, std::string("sent\n")));
    EXPECT_FALSE(talk->isChecked());
    EXPECT_EQ(test::runBeside([&] { return test::readFrames(caller, 1); }).size(), 1u);

    // The press comes once the message is heard, from inside the wait.
    CConnectionSocket* call = station.listener().Connection(0);
    const auto sent = Clock::now();
    std::future<test::TalkResult> pressed;
    std::optional<test::TalkResult> answer;
    bool downAtAnswer = true;
    size_t playedAtAnswer = 1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto started = Playback::lastMessageStart();
        if (!pressed.valid() && !answer && started && *started > sent) {
            pressed = test::startTalkCommand();
        } else if (pressed.valid() && !answer &&
                   pressed.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            answer = pressed.get();
            downAtAnswer = talk->isChecked();
            playedAtAnswer = call->FramesPlayed();
        }
    });
    watch.start(20);
    const auto image = test::frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 3.0, 440.0));
    ASSERT_TRUE(caller.sendAll(image));
    ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(30)));
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->code, 0);
    EXPECT_EQ(answer->line, "queued\n");
    EXPECT_LT(answer->took, std::chrono::seconds(1));
    EXPECT_FALSE(downAtAnswer);
    EXPECT_EQ(playedAtAnswer, 0u);
    EXPECT_TRUE(waitFor([&] { return talk->isChecked(); }));  // taken after the message
    EXPECT_TRUE(boxes.texts().empty());
    station.controller().Disconnect();
}
