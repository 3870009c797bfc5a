// The station's recorder on the receiving end of a call, over the wire: a
// plain client calls a real station window, the user presses and releases
// Talk, and the client receives each recording as one frame; while Talk is
// down the window shows the recording's time and says when no sound comes. Also the start
// without a sound server, and the scratch file's removal at the end.
#include <gtest/gtest.h>
#include <poll.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <future>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/StatusLine.h"
#include "support/PlainSocket.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::fileBytes;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::PlainSocket;
using chatterly::test::ScratchDirectory;
using chatterly::test::waitFor;

namespace {

QPushButton* talk(Station& station) {
    return qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
}

}  // namespace

TEST(StationRecorder, TalkOnAnIncomingCallSendsEachRecordingAsOneFrame) {
    if (!chatterly::test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    ScratchDirectory dir;
    test::sendAsCaptured();
    MessageBoxRecorder boxes;
    std::vector<std::vector<uint8_t>> saved;
    {
        StationOptions options;
        options.listenPort = 0;
        Station station(options);
        station.InitStationWindow();
        station.window().show();
        ASSERT_NE(station.listeningPort(), 0);
        PlainSocket caller = PlainSocket::connectLoopback(station.listeningPort());
        ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
        auto frames = std::async(std::launch::async, [&] { return test::readFrames(caller, 2); });

        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(talk(station), Qt::LeftButton);
            EXPECT_EQ(talk(station)->text(), "&Stop Recording");
            // The user speaks for a moment.
            waitFor([] { return false; }, std::chrono::milliseconds(400 + 300 * i));
            QTest::mouseClick(talk(station), Qt::LeftButton);
            EXPECT_EQ(talk(station)->text(), "&Talk");
            saved.push_back(fileBytes("Parlio.wav"));
        }
        ASSERT_TRUE(waitFor(
            [&] { return frames.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        const auto received = frames.get();
        ASSERT_EQ(received.size(), 2u);
        EXPECT_TRUE(received[0] == saved[0]);
        EXPECT_TRUE(received[1] == saved[1]);
        EXPECT_GT(saved[1].size(), saved[0].size());  // the longer press
        EXPECT_TRUE(boxes.texts().empty());
        station.controller().Disconnect();
    }
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    // The window's end removed the scratch file.
    EXPECT_FALSE(std::filesystem::exists(dir.file("Parlio.wav")));
}

TEST(StationRecorder, AnIncomingCallThatEndsWhileTalkIsDownLetsTheMicrophoneGo) {
    if (!chatterly::test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    StationOptions options;
    options.listenPort = 0;
    Station station(options);
    station.InitStationWindow();
    PlainSocket caller = PlainSocket::connectLoopback(station.listeningPort());
    ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
    QTest::mouseClick(talk(station), Qt::LeftButton);
    ASSERT_TRUE(station.recorder().device().isRecording());
    // Nothing plays into the microphone: the clock runs, and two silent
    // seconds are said on the status line.
    auto* line = station.window().findChild<StatusLine*>();
    auto* clock = qobject_cast<QLabel*>(station.window().Control(IDC_RECORDING_CLOCK));
    EXPECT_TRUE(clock->text().startsWith("Recording 0:0"));
    EXPECT_TRUE(waitFor(
        [&] {
            return line->notice() ==
                   "No sound comes from the microphone. Properties opens the sound settings.";
        },
        std::chrono::seconds(30)));
    caller.close();
    EXPECT_TRUE(waitFor([&] { return !station.controller().incomingCall(); }));
    EXPECT_FALSE(station.recorder().device().isRecording());
    EXPECT_EQ(talk(station)->text(), "&Talk");
    EXPECT_EQ(clock->text(), "");  // released: the clock is empty
    EXPECT_TRUE(boxes.texts().empty());
}

// Without a sound server (named by the station or by PULSE_SERVER) or
// without its source the recorder does not open: the station says so once,
// starts with Talk disabled and no recorder's state, and listens nowhere; a
// call that connects enables Talk, and each press then fails and leaves it
// released.
TEST(StationRecorder, WithoutASoundServerOrSourceTheStationStartsWithoutRecorder) {
    const struct {
        const char* name;
        const char* server;       // the station's recorder option
        const char* source;       // the station's recorder option (one needs a server)
        const char* environment;  // PULSE_SERVER for the case, or none
    } cases[] = {
        {"server named by the station", "unix:/nonexistent/chatterly-no-server", "", nullptr},
        {"server from the environment", "", "", "unix:/nonexistent/chatterly/native"},
        {"no such source", "", "chatterly-no-such-source", nullptr},
    };
    const char* saved = std::getenv("PULSE_SERVER");
    const std::string previous = saved ? saved : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (*c.source && !chatterly::test::soundServerAvailable()) {
            continue;
        }
        ScratchDirectory dir;
        MessageBoxRecorder boxes;
        StationOptions options;
        options.listenPort = 0;
        options.recorder.server = c.server;
        options.recorder.source = c.source;
        if (c.environment) {
            ::setenv("PULSE_SERVER", c.environment, 1);
        }
        Station station(options);
        station.InitStationWindow();
        if (c.environment) {
            saved ? ::setenv("PULSE_SERVER", previous.c_str(), 1) : ::unsetenv("PULSE_SERVER");
        }
        EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to open sound recording device"});
        EXPECT_TRUE(boxes.count() > 0 && boxes.boxes()[0].icon == MessageIcon::Warning);
        EXPECT_FALSE(talk(station)->isEnabled());
        EXPECT_FALSE(station.recorder().state().deviceId.has_value());
        EXPECT_EQ(station.recorder().state().saveFileName, "");
        // The initialisation ended there: nothing listens.
        EXPECT_EQ(station.listeningPort(), 0);
        station.controller().SetConnectedControls(true);
        station.controller().SetIncomingState(true);
        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(talk(station), Qt::LeftButton);
            EXPECT_FALSE(talk(station)->isChecked());
            EXPECT_EQ(talk(station)->text(), "&Talk");
        }
        const std::vector<std::string> expected{"Failed to open sound recording device",
                                                "Failed to start recording.",
                                                "Failed to start recording."};
        EXPECT_EQ(boxes.texts(), expected);
        station.controller().Disconnect();
    }
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
}
