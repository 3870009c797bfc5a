// The station keeps what its calls carry: a received message is kept and
// then played (or, while messages are held, only kept), a message the player
// refuses is not kept, a sent message is kept as it went out; the History
// button counts what waits unheard, and a message played from the history
// is marked played. The tray icon says what the station does (recording, in
// a call, messages waiting, idle) and its menu acts as the window does. Real
// sockets on loopback, the real sound server.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "app/StationHistory.h"
#include "app/StationSettings.h"
#include "app/StationTray.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/StatusLine.h"
#include "history/HistoryWindow.h"
#include "memory/StationMemory.h"
#include "net/CConnectionSocket.h"
#include "support/PlainSocket.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using chatterly::test::PlainSocket;
using chatterly::test::waitFor;

namespace {

enum class Kept { Played, Unplayed, Nothing };

struct Scene {
    const char* what;
    bool hold;
    bool historyIsAFile;
    std::vector<uint8_t> image;
    Kept kept;
    bool heard;      // reached the loudspeaker
    QString notice;  // the status line's, after the message ("" none)
};

// A station in a scratch directory, called by a plain socket; before() runs
// in the directory before the station starts.
struct CalledStation {
    explicit CalledStation(const std::function<void()>& before = {}) {
        if (before) {
            before();
        }
        test::clearSignalEvents();
        StationOptions options;
        options.listenPort = 0;
        station = std::make_unique<Station>(options);
        station->InitStationWindow();
        caller = PlainSocket::connectLoopback(station->listeningPort());
        called = waitFor([&] { return station->controller().incomingCall(); });
    }
    ~CalledStation() {
        station->controller().Disconnect();
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    }

    test::ScratchDirectory dir;
    test::MessageBoxRecorder boxes;
    std::unique_ptr<Station> station;
    PlainSocket caller;
    bool called = false;
};

QAction* trayAction(Station& station, const QString& text) {
    for (QAction* action : station.tray().menu().actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

TEST(StationHistory, ReceivedMessagesAreKeptThenPlayedOrHeldAndRefusedOnesAreNot) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    const auto tone = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.3, 440.0);
    const Scene scenes[] = {
        {"played", false, false, tone, Kept::Played, true, ""},
        {"held", true, false, tone, Kept::Unplayed, false, "1 message waits in the history."},
        {"refused by the player", false, false, test::pattern(4096), Kept::Nothing, false, ""},
        {"no history to keep it in", false, true, tone, Kept::Nothing, true,
         "The history could not keep a message"},
    };
    for (const Scene& s : scenes) {
        SCOPED_TRACE(s.what);
        CalledStation c([&] {
            if (s.historyIsAFile) {
                test::writeFile("History", {1});
            }
        });
        ASSERT_TRUE(c.called);
        Station& station = *c.station;
        PlainSocket& caller = c.caller;
        CStringArray entries;
        entries.Add("127.0.0.1 == hall");
        station.memory().rebuildFromEntries(entries);
        station.history().setHoldMessages(s.hold);
        auto* line = qobject_cast<StatusLine*>(station.window().Control(IDC_STATUS_LINE));
        auto* button = qobject_cast<QPushButton*>(station.window().Control(IDC_HISTORY));
        CConnectionSocket* call = station.listener().Connection(0);
        const auto before = Playback::lastMessageStart();

        ASSERT_TRUE(caller.sendAll(test::frameBytes(s.image)));
        ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == 1; }, std::chrono::seconds(30)));
        HistoryStore& store = station.history().store();
        const auto rows = store.newestFirst();
        EXPECT_EQ(Playback::lastMessageStart() != before, s.heard);
        if (s.kept == Kept::Nothing) {
            EXPECT_TRUE(rows.empty());
        } else {
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].direction, Direction::In);
            EXPECT_EQ(rows[0].address, "127.0.0.1");
            EXPECT_EQ(rows[0].alias, "hall");
            EXPECT_EQ(rows[0].played, s.kept == Kept::Played);
            EXPECT_EQ(test::fileBytes(store.pathOf(rows[0])), s.image);
            EXPECT_TRUE(waitFor([&] {
                return button->text() == (s.kept == Kept::Unplayed ? "&History (1)" : "&History");
            }));
        }
        if (!s.notice.isEmpty()) {
            EXPECT_TRUE(waitFor([&] { return line->notice().startsWith(s.notice); }))
                << line->notice().toStdString();
        }
        if (s.kept == Kept::Unplayed) {
            // Played from the history, to its end: heard, and marked played.
            station.history().playMessages({rows[0].id});
            EXPECT_NE(Playback::lastMessageStart(), before);
            EXPECT_TRUE(store.entry(rows[0].id)->played);
            EXPECT_TRUE(waitFor([&] { return button->text() == "&History"; }));
        }
        EXPECT_TRUE(c.boxes.texts().empty() || s.kept == Kept::Nothing);
    }
}

// A quarter of the history is one station's, however often it calls: with
// 1 MiB kept, three 66 KB messages fill it, and after a new call the next is
// played but not kept (so a caller cannot push out other stations' messages
// by calling anew).
TEST(StationHistory, AStationThatCallsAgainStaysWithinItsShare) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c([] {
        const std::string ini = "[History]\nCapMiB=1\nHoldMessages=true\n";
        test::writeFile("Chatterly.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
    });
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    const auto frame = test::frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 1.5, 440.0));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(c.caller.sendAll(frame));
    }
    HistoryStore& store = station.history().store();
    ASSERT_TRUE(waitFor([&] { return store.unplayedCount() == 3; }));
    c.caller.close();
    ASSERT_TRUE(waitFor([&] { return !station.controller().incomingCall(); }));

    PlainSocket again = PlainSocket::connectLoopback(station.listeningPort());
    ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
    ASSERT_TRUE(again.sendAll(frame));
    auto* line = qobject_cast<StatusLine*>(station.window().Control(IDC_STATUS_LINE));
    EXPECT_TRUE(waitFor([&] { return line->notice().startsWith("This station's messages fill"); },
                        std::chrono::seconds(30)));
    EXPECT_EQ(store.newestFirst().size(), 3u);
}

// The speed chosen in the history window is kept in the settings and plays
// messages from the history (one played to its end at 2× counts as played);
// a received message plays as recorded unless "Play received messages at
// this speed" is checked.
TEST(StationHistory, TheChosenSpeedIsKeptAndPlaysTheHistoryAndReceivedMessagesOnlyIfAsked) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c;
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    HistoryStore& store = station.history().store();
    CConnectionSocket* call = station.listener().Connection(0);
    const auto frame = test::frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.3, 440.0));
    station.history().setHoldMessages(true);
    ASSERT_TRUE(c.caller.sendAll(frame));
    ASSERT_TRUE(waitFor([&] { return store.unplayedCount() == 1; }));
    station.OnHistoryButton();
    auto* speed = station.historyWindow()->findChild<QComboBox*>();
    QCheckBox* forLive = nullptr;
    for (auto* box : station.historyWindow()->findChildren<QCheckBox*>()) {
        forLive = box->text() == "Play &received messages at this speed" ? box : forLive;
    }
    ASSERT_TRUE(speed && forLive);
    speed->setCurrentIndex(speed->findText("2×"));
    EXPECT_EQ(StationSettings().speed(), 2.0);
    station.history().playMessages({store.newestFirst().at(0).id});
    EXPECT_EQ(Playback::lastMessageSpeed(), 2.0);
    EXPECT_EQ(store.unplayedCount(), 0);

    station.history().setHoldMessages(false);
    size_t played = call->FramesPlayed();
    for (const auto& [checked, heardAt] : {std::pair{false, 1.0}, std::pair{true, 2.0}}) {
        SCOPED_TRACE(checked ? "checked" : "not checked");
        forLive->setChecked(checked);
        EXPECT_EQ(StationSettings().speedForLive(), checked);
        ASSERT_TRUE(c.caller.sendAll(frame));
        ASSERT_TRUE(waitFor([&] { return call->FramesPlayed() == played + 1; }));
        ++played;
        EXPECT_EQ(Playback::lastMessageSpeed(), heardAt);
    }
}

// A message played from the history (at 2×) stops at once on Escape in the
// history window (taken while the station holds input), and stays unplayed.
TEST(StationHistory, EscapeInTheHistoryWindowStopsWhatItPlaysWhichStaysUnplayed) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c;
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    station.history().setHoldMessages(true);
    station.history().setSpeed(2.0);
    const auto long_ = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 8.0, 440.0);
    ASSERT_TRUE(c.caller.sendAll(test::frameBytes(long_)));
    HistoryStore& store = station.history().store();
    ASSERT_TRUE(waitFor([&] { return store.unplayedCount() == 1; }));
    const int64_t id = store.newestFirst().at(0).id;
    station.OnHistoryButton();
    QWidget* window = station.historyWindow();

    const auto pressed = std::chrono::steady_clock::now();
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, [&] {
        if (const auto started = Playback::lastMessageStart(); started && *started > pressed) {
            escape.stop();
            QTest::keyClick(window, Qt::Key_Escape);
        }
    });
    escape.start(20);
    station.history().playMessages({id});
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(3));
    EXPECT_FALSE(store.entry(id)->played);
    EXPECT_TRUE(window->isVisible());
}

// Talk on an incoming call: the message the caller receives is the one kept,
// as sent and played.
TEST(StationHistory, ASentMessageIsKeptAsItWentOut) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c(test::sendAsCaptured);
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return station.recorder().device().isRecording(); }));
    QTest::mouseClick(talk, Qt::LeftButton);
    const auto frames = test::readFrames(c.caller, 1);
    ASSERT_EQ(frames.size(), 1u);
    const auto rows = station.history().store().newestFirst();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].direction, Direction::Out);
    EXPECT_TRUE(rows[0].played);
    EXPECT_EQ(rows[0].address, "127.0.0.1");
    EXPECT_EQ(test::fileBytes(station.history().store().pathOf(rows[0])), frames[0]);
}

// The tray shows the first state that holds: recording, in a call, messages
// waiting, idle; each in a picture of its own. The tests' desktop has no
// tray: nothing is shown, and the state and menu are kept all the same.
TEST(StationTray, ShowsRecordingBeforeTheCallBeforeMessagesWaitingBeforeIdle) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c;
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    StationTray& tray = station.tray();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(tray.trayIcon(), nullptr);
    EXPECT_FALSE(tray.menu().isVisible());
    station.history().setHoldMessages(true);
    HistoryStore& store = station.history().store();
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    auto* history = qobject_cast<QPushButton*>(station.window().Control(IDC_HISTORY));
    const auto tone = test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.3, 440.0);
    using State = StationTray::State;
    const struct {
        const char* what;
        std::function<void()> step;
        State state;
        QString tip;
    } steps[] = {
        {"a call", [] {}, State::InCall, "Chatterly: in a call with 127.0.0.1"},
        {"a message held in the call",
         [&] {
             ASSERT_TRUE(c.caller.sendAll(test::frameBytes(tone)));
             ASSERT_TRUE(waitFor([&] { return history->text() == "&History (1)"; }));
         },
         State::InCall, "Chatterly: in a call with 127.0.0.1"},
        {"Talk down", [&] { QTest::mouseClick(talk, Qt::LeftButton); }, State::Recording,
         "Chatterly: recording"},
        {"Talk up", [&] { QTest::mouseClick(talk, Qt::LeftButton); }, State::InCall,
         "Chatterly: in a call with 127.0.0.1"},
        {"the call ended", [&] { c.caller.close(); }, State::Unplayed,
         "Chatterly: 1 message waiting"},
        {"the message played",
         [&] { station.history().playMessages({store.newestFirst().back().id}); }, State::Idle,
         "Chatterly: idle"},
    };
    std::map<State, QImage> pictures;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.step();
        EXPECT_TRUE(waitFor([&] { return tray.state() == s.state && tray.toolTip() == s.tip; }))
            << tray.toolTip().toStdString();
        pictures[s.state] = tray.icon().pixmap(32, 32).toImage();
    }
    ASSERT_EQ(pictures.size(), 4u);
    for (auto a = pictures.begin(); a != pictures.end(); ++a) {
        for (auto b = std::next(a); b != pictures.end(); ++b) {
            EXPECT_NE(a->second, b->second);
        }
    }
    EXPECT_TRUE(c.boxes.texts().empty());
}

// The tray's menu does what it says: Talk presses Talk, only in a call; Hold
// messages is the History window's check, either way; History opens that
// window; Show the station restores the window; Exit ends the station.
TEST(StationTray, ItsMenuActsAsTheWindowDoes) {
    if (!test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    CalledStation c;
    ASSERT_TRUE(c.called);
    Station& station = *c.station;
    CStationDlg& window = station.window();
    window.show();
    QAction* talk = trayAction(station, "&Talk");
    QAction* hold = trayAction(station, "&Hold messages");
    ASSERT_TRUE(talk && hold);
    ASSERT_TRUE(waitFor([&] { return talk->isEnabled(); }));
    talk->trigger();
    EXPECT_TRUE(window.isChecked(IDC_TALK));
    EXPECT_TRUE(station.recorder().device().isRecording());
    talk->trigger();
    EXPECT_FALSE(window.isChecked(IDC_TALK));

    trayAction(station, "Hi&story")->trigger();
    ASSERT_NE(station.historyWindow(), nullptr);
    EXPECT_TRUE(station.historyWindow()->isVisible());
    auto* check = station.historyWindow()->findChild<QCheckBox*>();
    hold->trigger();
    EXPECT_TRUE(station.history().holdMessages());
    EXPECT_TRUE(check->isChecked());
    check->click();
    EXPECT_FALSE(station.history().holdMessages());
    station.tray().menu().popup(QPoint(0, 0));
    EXPECT_FALSE(hold->isChecked());
    station.tray().menu().hide();

    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    trayAction(station, "&Show the station")->trigger();
    EXPECT_TRUE(waitFor([&] { return !window.isMinimized() && window.isVisible(); }));

    trayAction(station, "E&xit")->trigger();
    EXPECT_TRUE(waitFor([&] { return !window.isVisible(); }));
    EXPECT_FALSE(station.controller().incomingCall());
    EXPECT_TRUE(waitFor([&] { return !talk->isEnabled(); }));
}
