// A message that starts to play while the station window is not the active
// window is announced on the desktop with who is speaking, on a private
// session bus with a stand-in notification service; with the window active,
// or with no service on the bus, nothing is announced and the message plays.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <memory>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/Playback.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/ThreadStarter.h"
#include "memory/StationMemory.h"
#include "support/PlainSocket.h"
#include "support/PrivateSessionBus.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

using namespace chatterly;
using chatterly::test::PlainSocket;
using chatterly::test::waitFor;
using Clock = std::chrono::steady_clock;

// The summary of the test's own notice, which marks how far the station's
// notices have come.
const QString kMark = QStringLiteral("(mark)");

// What a notification service is sent, but the marks.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Notice {
        QString app, icon, summary;
        uint replaces;
    };
    std::vector<Notice> notices;

  public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString&, const QStringList&, const QVariantMap&, int) {
        if (summary == kMark) {
            return 0;
        }
        notices.push_back({app, icon, summary, replaces});
        return static_cast<uint>(notices.size());
    }
};

namespace {

class SpeakerNotice : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::soundServerAvailable()) {
            GTEST_SKIP() << "no sound server";
        }
        const QByteArray address = bus.address();
        if (address.isEmpty()) {
            GTEST_SKIP() << "no dbus-daemon";
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        service = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromLatin1(address), "stand-in"));
        ASSERT_TRUE(service->registerObject("/org/freedesktop/Notifications", &recorder,
                                            QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service->registerService("org.freedesktop.Notifications"));
        test::clearSignalEvents();
        CStringArray entries;
        entries.Add("127.0.0.1 == hall");
        far = PlainSocket::listenLoopback();
        StationOptions options;
        options.listenPort = 0;
        options.callPort = far.port();
        station = std::make_unique<Station>(options);
        station->InitStationWindow();
        station->memory().rebuildFromEntries(entries);
        station->window().show();
        other.show();
    }
    void TearDown() override {
        if (station) {
            station->controller().Disconnect();
        }
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
        if (service) {
            QDBusConnection::disconnectFromBus("stand-in");
        }
    }
    void activate(QWidget& w) {
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    // Sends one short message over end and waits until it has started to play.
    void speak(const PlainSocket& end) {
        const auto sent = Clock::now();
        ASSERT_TRUE(
            end.sendAll(test::frameBytes(test::toneImage(SF_FORMAT_PCM_16, 1, 22050, 0.2, 440.0))));
        ASSERT_TRUE(waitFor([&] {
            const auto started = Playback::lastMessageStart();
            return started && *started > sent;
        }));
    }
    // Whether the notices the service was sent are summaries, once every
    // notice the station sent so far has come: a mark goes out after them on
    // the bus connection the station sends on, which keeps its messages in
    // order, so its answer (or, with no service, its refusal) comes after
    // theirs.
    bool noticesAre(const std::vector<QString>& summaries) {
        QDBusMessage mark = QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "Notify");
        mark << QString() << 0u << QString() << kMark << QString() << QStringList() << QVariantMap()
             << -1;
        const QDBusPendingCall answer = QDBusConnection::sessionBus().asyncCall(mark);
        EXPECT_TRUE(waitFor([&] { return answer.isFinished(); }));
        return std::equal(recorder.notices.begin(), recorder.notices.end(), summaries.begin(),
                          summaries.end(), [](const auto& n, auto& s) { return n.summary == s; });
    }

    test::PrivateSessionBus bus;
    std::unique_ptr<QDBusConnection> service;
    NotificationRecorder recorder;
    PlainSocket far;
    std::unique_ptr<Station> station;
    QWidget other;
};

}  // namespace

TEST_F(SpeakerNotice, NamesTheCallerOrTheCalledTextOnlyWhileTheWindowIsNotActive) {
    PlainSocket caller = PlainSocket::connectLoopback(station->listeningPort());
    ASSERT_TRUE(waitFor([&] { return station->controller().incomingCall(); }));
    activate(other);
    speak(caller);
    ASSERT_TRUE(noticesAre({"hall is speaking"}));
    EXPECT_EQ(recorder.notices[0].app, "Chatterly");
    EXPECT_EQ(recorder.notices[0].icon, "org.chatterly.Chatterly");

    activate(station->window());
    speak(caller);
    EXPECT_TRUE(noticesAre({"hall is speaking"}));  // none while active

    // With no notification service the message still plays.
    ASSERT_TRUE(service->unregisterService("org.freedesktop.Notifications"));
    activate(other);
    speak(caller);
    EXPECT_TRUE(noticesAre({"hall is speaking"}));
    ASSERT_TRUE(service->registerService("org.freedesktop.Notifications"));
    caller.close();
    ASSERT_TRUE(waitFor([&] { return !station->controller().incomingCall(); }));

    // An outgoing call: the text the user called; the newer notice replaces
    // the one before.
    qobject_cast<QComboBox*>(station->window().Control(IDC_REMOTE))->setEditText("hall");
    station->controller().OnConnectButton();
    PlainSocket answered = far.acceptWithin(20000);
    ASSERT_TRUE(answered.valid());
    ASSERT_TRUE(waitFor([&] {
        return qobject_cast<QPushButton*>(station->window().Control(IDC_TALK))->isEnabled();
    }));
    qobject_cast<QComboBox*>(station->window().Control(IDC_REMOTE))->setEditText("127.0.0.1");
    speak(answered);
    ASSERT_TRUE(noticesAre({"hall is speaking", "hall is speaking"}));
    EXPECT_EQ(recorder.notices[1].replaces, 1u);
}

#include "SpeakerNoticeTest.moc"
