// The global Talk shortcut through a stand-in desktop shortcut service on a
// private session bus (what it is asked, how it answers, the signals it
// sends), and through an X11 key grab on a private Xvfb with xdotool
// pressing the keys.
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QProcess>
#include <cstdlib>
#include <memory>

#include "shortcut/GlobalShortcut.h"
#include "shortcut/PortalShortcuts.h"
#include "support/PrivateSessionBus.h"
#include "support/StandInPortal.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::waitFor;

namespace {

const QString kPath = PortalShortcuts::kPath;
const QString kInterface = PortalShortcuts::kInterface;

class PortalRoute : public ::testing::Test {
  protected:
    void SetUp() override {
        if (bus.address().isEmpty()) {
            GTEST_SKIP() << "no dbus-daemon";
        }
        const QString address = QString::fromLatin1(bus.address());
        service =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "portal"));
        client =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "client"));
        ASSERT_TRUE(service->registerVirtualObject(kPath, &portal, QDBusConnection::SubPath));
        ASSERT_TRUE(service->registerService(PortalShortcuts::kService));
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("portal");
    }
    // Sends the service's signal of name for session and id.
    void sendSignal(const char* name, const QString& session, const QString& id, uint64_t time) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id
               << QVariant::fromValue<qulonglong>(time) << QVariantMap();
        service->send(signal);
    }
    // Waits until every signal sent so far has been handled: the answer to
    // a call made after them comes after them on the client's connection.
    void settle() {
        QDBusMessage ping = QDBusMessage::createMethodCall(
            PortalShortcuts::kService, kPath, "org.freedesktop.DBus.Properties", "Get");
        ping << kInterface << QStringLiteral("version");
        const QDBusPendingCall answer = client->asyncCall(ping);
        ASSERT_TRUE(waitFor([&] { return answer.isFinished(); }));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    test::PrivateSessionBus bus;
    std::unique_ptr<QDBusConnection> service;
    std::unique_ptr<QDBusConnection> client;
    test::StandInPortal portal;
};

}  // namespace

TEST_F(PortalRoute, BindsTheKeyAndTurnsItsSignalsIntoPressesOfTalk) {
    // Script: A/D Activated/Deactivated of ours, a Activated of another
    // session, i of another shortcut, C the session closed.
    const struct {
        const char* name;
        ShortcutMode mode;
        QVariant bindResponse;
        const char* script;
        ShortcutRoute route;
        bool problem;
        int presses;
    } rows[] = {
        {"toggle", ShortcutMode::Toggle, 0u, "ADAD", ShortcutRoute::Portal, false, 2},
        {"hold", ShortcutMode::Hold, 0u, "ADAD", ShortcutRoute::Portal, false, 4},
        {"hold, repeated", ShortcutMode::Hold, 0u, "AAAD", ShortcutRoute::Portal, false, 2},
        {"not ours", ShortcutMode::Toggle, 0u, "aiai", ShortcutRoute::Portal, false, 0},
        {"cancelled", ShortcutMode::Toggle, 1u, "A", ShortcutRoute::None, true, 0},
        {"refused", ShortcutMode::Toggle, 2u, "A", ShortcutRoute::None, true, 0},
        {"nonsense", ShortcutMode::Toggle, "zero", "A", ShortcutRoute::None, true, 0},
        {"closed while down", ShortcutMode::Hold, 0u, "AC", ShortcutRoute::None, true, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        portal.bindResponse = row.bindResponse;
        GlobalShortcut shortcut(*client);
        int presses = 0;
        QObject::connect(&shortcut, &GlobalShortcut::talkPressed, [&] { ++presses; });
        shortcut.setKey(QKeySequence("Ctrl+Alt+T"), row.mode);
        ASSERT_TRUE(waitFor([&] {
            return shortcut.route() != ShortcutRoute::None || !shortcut.problem().isEmpty();
        }));
        EXPECT_EQ(portal.trigger, "CTRL+ALT+T");
        const QString session = portal.session;
        uint64_t time = 0;
        for (const char* s = row.script; *s; ++s) {
            ++time;
            if (*s == 'C') {
                service->send(
                    QDBusMessage::createSignal(session, "org.freedesktop.portal.Session", "Closed")
                    << QVariantMap());
            } else {
                sendSignal(*s == 'D' ? "Deactivated" : "Activated",
                           *s == 'a' ? session + "0" : session, *s == 'i' ? "other" : "talk", time);
            }
        }
        settle();
        EXPECT_EQ(shortcut.route(), row.route);
        EXPECT_EQ(!shortcut.problem().isEmpty(), row.problem) << shortcut.problem().toStdString();
        EXPECT_EQ(presses, row.presses);
    }
}

namespace {

// The key grab under X11: runs on the xcb platform only (ctest starts this
// program so under a private Xvfb).
class X11Route : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "not on X11";
        }
    }
    static void xdotool(const QStringList& args) {
        ASSERT_EQ(QProcess::execute("xdotool", args), 0);
    }
};

}  // namespace

TEST_F(X11Route, KeysPressedAnywhereArePressesOfTalkUnlessAnotherProgramHoldsThem) {
    const struct {
        ShortcutMode mode;
        QStringList strokes;
        int presses;
    } rows[] = {
        {ShortcutMode::Toggle, {"key", "ctrl+alt+t", "key", "ctrl+alt+t"}, 2},
        // Held past the keyboard's repeat delay, so that X repeats the key.
        {ShortcutMode::Hold, {"keydown", "ctrl+alt+t", "sleep", "1", "keyup", "ctrl+alt+t"}, 2},
        {ShortcutMode::Toggle, {"key", "ctrl+t", "key", "alt+t", "key", "t"}, 0},
    };
    const QDBusConnection noBus = QDBusConnection::connectToBus("unix:path=/nonexistent", "none");
    // Ctrl+Alt+Y after the strokes marks their end: X sends the events in
    // order, so once its press is here so are the strokes'.
    GlobalShortcut marker(noBus);
    int marks = 0;
    QObject::connect(&marker, &GlobalShortcut::talkPressed, [&] { ++marks; });
    marker.setKey(QKeySequence("Ctrl+Alt+Y"), ShortcutMode::Toggle);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.strokes.join(' ').toStdString());
        GlobalShortcut shortcut(noBus);
        int presses = 0;
        QObject::connect(&shortcut, &GlobalShortcut::talkPressed, [&] { ++presses; });
        shortcut.setKey(QKeySequence("Ctrl+Alt+T"), row.mode);
        ASSERT_EQ(shortcut.route(), ShortcutRoute::X11Grab) << shortcut.problem().toStdString();
        const int marked = marks + 1;
        xdotool(row.strokes + QStringList{"key", "ctrl+alt+y"});
        ASSERT_TRUE(waitFor([&] { return marks == marked; }));
        EXPECT_TRUE(waitFor([&] { return presses == row.presses; })) << presses;
    }

    // Another X client grabs Ctrl+Alt+T first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
    xcb_keycode_t* t = xcb_key_symbols_get_keycode(symbols, 't');
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    EXPECT_EQ(xcb_request_check(
                  other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                              t[0], XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
              nullptr);
    std::free(t);
    xcb_key_symbols_free(symbols);
    GlobalShortcut shortcut(noBus);
    shortcut.setKey(QKeySequence("Ctrl+Alt+T"), ShortcutMode::Toggle);
    EXPECT_EQ(shortcut.route(), ShortcutRoute::None);
    EXPECT_EQ(shortcut.problem(), "Another program holds Ctrl+Alt+T.");
    xcb_disconnect(other);
}
