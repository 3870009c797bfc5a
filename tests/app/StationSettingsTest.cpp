// The station's settings file: what a missing, damaged or strange file gives
// (the defaults, value by value), and how a changed setting is written
// (whole, the user's alone, never through a link); the Settings dialog and
// the Talk key it sets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

#include "app/CStationDlg.h"
#include "app/SettingsDialog.h"
#include "app/Station.h"
#include "app/StationHistory.h"
#include "app/StationSettings.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/widgets/StatusLine.h"
#include "history/HistoryStore.h"
#include "shortcut/GlobalShortcut.h"
#include "support/PlainSocket.h"
#include "support/PrivateSessionBus.h"
#include "support/StandInPortal.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::waitFor;

TEST(StationSettings, MissingDamagedOrOutOfRangeValuesGiveTheirDefaults) {
    const struct {
        const char* what;
        const char* text;  // nullptr: no file
        int64_t capMiB;
        bool hold;
        double speed;
        VoiceCleanup::Level cleanUp = VoiceCleanup::Level::Gentle;
    } rows[] = {
        {"no file", nullptr, 256, false, 1},
        {"the values",
         "[History]\nCapMiB=64\nHoldMessages=true\nSpeed=1.25\n[Recording]\nCleanUp=strong\n", 64,
         true, 1.25, VoiceCleanup::Level::Strong},
        {"spaces and comments",
         "; mine\n[ History ]\n  CapMiB = 32 \n Speed = 2\n[Recording]\nCleanUp = off\n", 32, false,
         2, VoiceCleanup::Level::Off},
        {"out of range",
         "[History]\nCapMiB=0\nHoldMessages=maybe\nSpeed=3\n[Recording]\nCleanUp=loud\n", 256,
         false, 1},
        {"not a number", "[History]\nCapMiB=12abc\nSpeed=fast\n", 256, false, 1},
        {"a speed off the list", "[History]\nSpeed=1.50\n", 256, false, 1},
        {"too large to be a number", "[History]\nCapMiB=99999999999999999999\n", 256, false, 1},
        {"another section", "[Other]\nCapMiB=64\nSpeed=2\nCleanUp=off\n", 256, false, 1},
        {"binary junk", "\x01\x02[History\nCapMiB\n=\n\xff", 256, false, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        test::ScratchDirectory dir;
        if (r.text) {
            const std::string text = r.text;
            test::writeFile("Chatterly.ini", std::vector<uint8_t>(text.begin(), text.end()));
        }
        const StationSettings settings;
        EXPECT_EQ(settings.historyCapMiB(), r.capMiB);
        EXPECT_EQ(settings.holdMessages(), r.hold);
        EXPECT_EQ(settings.speed(), r.speed);
        EXPECT_EQ(settings.cleanUp(), r.cleanUp);
    }
}

TEST(StationSettings, AChangedSettingIsWrittenWholePrivateAndNeverThroughALink) {
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link under the name" : "a plain file");
        test::ScratchDirectory dir;
        test::writeFile("elsewhere", {'x'});
        if (link) {
            std::filesystem::create_symlink(dir.file("elsewhere"), "Chatterly.ini");
        } else {
            test::writeFile("Chatterly.ini", {'[', 'H', 'i', 's', 't', 'o', 'r', 'y', ']', '\n',
                                              'C', 'a', 'p', 'M', 'i', 'B', '=', '8', '\n'});
            ::chmod("Chatterly.ini", 0644);
        }
        StationSettings settings;
        ASSERT_TRUE(settings.setHoldMessages(true));
        EXPECT_EQ(test::fileBytes("elsewhere"), std::vector<uint8_t>{'x'});
        EXPECT_FALSE(std::filesystem::is_symlink("Chatterly.ini"));
        struct stat st {};
        ASSERT_EQ(::stat("Chatterly.ini", &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const StationSettings again;
        EXPECT_TRUE(again.holdMessages());
        EXPECT_EQ(again.historyCapMiB(), link ? 256 : 8);  // other values kept
    }
}

// The Settings dialog's values: written together and read back as the
// station takes them (a name cleaned to one label, a cap within its range).
TEST(StationSettings, TheDialogsChoicesAreWrittenTogetherAndReadBackCleaned) {
    const struct {
        const char* what;
        StationSettings::Choices written;
        std::string name;  // read back
        int64_t capMiB;
    } rows[] = {
        {"plain values",
         {"desk", 64, true, "Ctrl+Alt+T", true, 1.5, true, VoiceCleanup::Level::Off},
         "desk",
         64},
        {"a name with control characters",
         {"de\x01sk\n", 8, false, "", false, 1.25, false, VoiceCleanup::Level::Strong},
         "desk",
         8},
        {"a cap out of range", {"", 0, false, "F9", false, 2, true}, "", 1},
        {"an overlong name",
         {std::string(80, 'n'), 1 << 21, false, "", true, 1, false, VoiceCleanup::Level::Gentle},
         std::string(63, 'n'),
         1 << 20},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        test::ScratchDirectory dir;
        ASSERT_TRUE(StationSettings().setChoices(r.written));
        const StationSettings::Choices read = StationSettings().choices();
        EXPECT_EQ(read.stationName, r.name);
        EXPECT_EQ(read.historyCapMiB, r.capMiB);
        EXPECT_EQ(read.holdMessages, r.written.holdMessages);
        EXPECT_EQ(read.talkKey, r.written.talkKey);
        EXPECT_EQ(read.talkKeyHolds, r.written.talkKeyHolds);
        EXPECT_EQ(read.speed, r.written.speed);
        EXPECT_EQ(read.speedForLive, r.written.speedForLive);
        EXPECT_EQ(read.cleanUp, r.written.cleanUp);
    }
}

// The Settings button opens the dialog; OK puts its values into effect at
// once (the history's cap, hold and speed for received messages), Cancel
// changes nothing.
TEST(StationSettings, TheDialogsOkTakesEffectAtOnceAndCancelChangesNothing) {
    test::ScratchDirectory dir;
    StationOptions options;
    options.listenPort = 0;
    options.discovery = false;
    options.recorder.server = "unix:/nonexistent/chatterly-no-server";
    test::MessageBoxRecorder boxes;
    Station station(options);
    station.InitStationWindow();
    HistoryStore& store = station.history().store();
    const std::vector<uint8_t> image(700 << 10, 1);
    for (int i = 0; i < 2; ++i) {
        MessageInfo info;
        info.address = "127.0.0.1";
        info.played = true;
        ASSERT_TRUE(store.keep(info, image.data(), image.size()).id > 0);
    }
    station.history().setSpeed(1.5);  // not in the dialog: it stays
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        QTimer::singleShot(0, [ok] {
            auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QSpinBox*>()->setValue(1);
            for (auto* box : dialog->findChildren<QCheckBox*>()) {
                box->setChecked(true);  // Hold messages, Play received messages at this speed
            }
            ok ? dialog->accept() : dialog->reject();
        });
        qobject_cast<QPushButton*>(station.window().Control(IDC_SETTINGS))->click();
        EXPECT_EQ(StationSettings().historyCapMiB(), ok ? 1 : 256);
        EXPECT_EQ(station.history().holdMessages(), ok);
        EXPECT_EQ(station.history().speedForLive(), ok);
        EXPECT_EQ(StationSettings().speed(), 1.5);
        EXPECT_EQ(store.newestFirst().size(), ok ? 1u : 2u);
    }
}

// The Talk key through the desktop's shortcut service (a stand-in on a
// private session bus): in a call each press of the key is a press of Talk,
// and a key the desktop refuses is said in the dialog and on the status line.
TEST(StationSettings, TheTalkKeyPressesTalkAndARefusedKeyIsSaid) {
    test::PrivateSessionBus bus;
    if (bus.address().isEmpty() || !test::soundServerAvailable()) {
        GTEST_SKIP() << "no dbus-daemon or no sound server";
    }
    test::ScratchDirectory dir;
    const std::string ini = "[Shortcut]\nKey=Ctrl+Alt+T\nMode=toggle\n[Recording]\nCleanUp=off\n";
    test::writeFile("Chatterly.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "portal");
    test::StandInPortal portal;
    ASSERT_TRUE(
        service.registerVirtualObject(PortalShortcuts::kPath, &portal, QDBusConnection::SubPath));
    ASSERT_TRUE(service.registerService(PortalShortcuts::kService));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().constData(), 1);
    StationOptions options;
    options.listenPort = 0;
    options.discovery = false;
    test::MessageBoxRecorder boxes;
    Station station(options);
    station.InitStationWindow();
    ASSERT_NE(station.shortcut(), nullptr);
    ASSERT_TRUE(waitFor([&] { return station.shortcut()->route() == ShortcutRoute::Portal; }));

    test::PlainSocket caller = test::PlainSocket::connectLoopback(station.listeningPort());
    ASSERT_TRUE(waitFor([&] { return station.controller().incomingCall(); }));
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    ASSERT_TRUE(waitFor([&] { return talk->isEnabled(); }));
    // The key pressed and let go twice, in the toggle mode the settings give.
    uint64_t time = 0;
    for (const bool down : {true, false}) {
        for (const char* name : {"Activated", "Deactivated"}) {
            QDBusMessage signal = QDBusMessage::createSignal(
                PortalShortcuts::kPath, PortalShortcuts::kInterface, QString::fromLatin1(name));
            signal << QVariant::fromValue(QDBusObjectPath(portal.session)) << QStringLiteral("talk")
                   << QVariant::fromValue<qulonglong>(++time) << QVariantMap();
            service.send(signal);
        }
        EXPECT_TRUE(waitFor([&] { return talk->isChecked() == down; }));
    }
    EXPECT_EQ(test::runBeside([&] { return test::readFrames(caller, 1); }).size(), 1u);

    portal.bindResponse = 2u;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QKeySequenceEdit*>()->setKeySequence(QKeySequence("F9"));
        dialog->accept();
    });
    station.OnSettingsButton();
    const QString refused = QStringLiteral("The desktop refused the shortcut F9.");
    auto* line = qobject_cast<StatusLine*>(station.window().Control(IDC_STATUS_LINE));
    EXPECT_TRUE(waitFor([&] { return line->notice() == refused; }));
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const auto labels = dialog->findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                                [&](QLabel* l) { return l->isVisible() && l->text() == refused; }));
        dialog->reject();
    });
    station.OnSettingsButton();
    station.controller().Disconnect();
    QDBusConnection::disconnectFromBus("portal");
}
