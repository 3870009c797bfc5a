// A message playing on an incoming call, and the user's input meanwhile: a
// stop gesture (Disconnect, Exit, Escape, the close box) ends the message at
// once and then takes effect; other input waits until it has played.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/Playback.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/ThreadStarter.h"
#include "net/CConnectionSocket.h"
#include "support/PlainSocket.h"
#include "support/SignalEventsReset.h"
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
