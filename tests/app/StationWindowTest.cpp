// The station window on the offscreen platform: its start state, the call
// controller's transitions and events, the close request, the start-mode
// switches and the minimised icon's place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <filesystem>

#include "app/CStationDlg.h"
#include "app/StartModeSwitch.h"
#include "app/Station.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/TerminationRequest.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/CaptionBox.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/SortedComboBox.h"
#include "net/CallerWorker.h"
#include "support/PlainSocket.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::waitFor;

namespace {

QPushButton* button(CStationDlg* w, int id) {
    return qobject_cast<QPushButton*>(w->Control(id));
}
SortedComboBox* combo(CStationDlg* w) {
    return qobject_cast<SortedComboBox*>(w->Control(IDC_REMOTE));
}

class StationWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        test::clearSignalEvents();
        StationOptions options;
        options.listenPort = 0;  // any free port: tests run beside each other
        options.callPort = test::PlainSocket::closedPort();  // calls are refused
        // No sound server: the station starts without recorder, and these
        // tests neither record nor listen (the recorder and listener tests do).
        options.recorder.server = "unix:/nonexistent/chatterly-no-server";
        station = std::make_unique<Station>(options);
        window = &station->window();
        // As the program does: boxes of the run are owned by the window.
        MessageBox::setMainWindow(window);
        station->InitStationWindow();
        window->show();
        combo(window)->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        boxes.clear();
    }
    void TearDown() override {
        MessageBox::setMainWindow(nullptr);
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    }

    MessageBoxRecorder boxes;
    std::unique_ptr<Station> station;
    CStationDlg* window = nullptr;
};

}  // namespace

TEST_F(StationWindow, StartsIdleWithTheTemplatesControlsAndFocusInTheRemoteBox) {
    EXPECT_EQ(window->windowTitle(), "Chatterly");
    const std::pair<int, const char*> captions[] = {
        {IDC_CONNECT, "&Connect"},
        {IDC_TALK, "&Talk"},
        {IDC_DISCONNECT, "&Disconnect"},
        {IDC_PROPERTIES, "&Properties"},
        {IDC_ABOUT, "&About"},
        {IDC_EXIT, "E&xit"},
        {IDC_REMOTE_STATION, "Remote Parlio"},
    };
    for (const auto& [id, caption] : captions) {
        ASSERT_NE(button(window, id), nullptr) << id;
        EXPECT_EQ(button(window, id)->text(), caption) << id;
    }
    EXPECT_TRUE(button(window, IDC_CONNECT)->isEnabled());
    EXPECT_TRUE(button(window, IDC_CONNECT)->isDefault());
    EXPECT_FALSE(button(window, IDC_TALK)->isEnabled());
    EXPECT_TRUE(button(window, IDC_TALK)->isCheckable());
    EXPECT_FALSE(button(window, IDC_DISCONNECT)->isEnabled());
    EXPECT_EQ(window->ShownBitmap(IDC_LED), IDB_LED_IDLE);
    EXPECT_EQ(window->ShownBitmap(IDC_SPEAKER), IDB_SPEAKER_REST);
    EXPECT_EQ(qobject_cast<CaptionBox*>(window->Control(IDC_STATUS_BOX))->caption(),
              "Connection Status");
    EXPECT_TRUE(combo(window)->hasFocus() || combo(window)->lineEdit()->hasFocus());
    // The pictures come from the program's resources at their sizes.
    EXPECT_EQ(window->Control(IDC_SPEAKER)->property("pixmap").value<QPixmap>().size(),
              QSize(183, 137));
    EXPECT_EQ(window->Control(IDC_LED)->property("pixmap").value<QPixmap>().size(), QSize(54, 51));
    EXPECT_FALSE(window->windowIcon().isNull());
}

TEST_F(StationWindow, TabOrderFollowsTheTemplate) {
    QWidget* w = combo(window);
    const int expected[] = {IDC_CONNECT, IDC_TALK, IDC_DISCONNECT,    IDC_PROPERTIES,
                            IDC_ABOUT,   IDC_EXIT, IDC_REMOTE_STATION};
    for (int id : expected) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->parentWidget() != window) {
            w = w->nextInFocusChain();
        }
        EXPECT_EQ(w, window->Control(id)) << id;
    }
}

// The box sorts by the memory dialog's rule: Windows-1252 bytes after case
// folding, so "Šarka" (8A, folded 9A) and "€uro" (80) come before "àtrium"
// (E0), where a Unicode comparison would put them after it.
TEST_F(StationWindow, TheRemoteBoxSortsByTheMemoryDialogsRule) {
    const std::vector<std::string> texts = {"hall",
                                            "Desk",
                                            "\xe0trium",
                                            "10.0.0.5",
                                            "\x8a"
                                            "arka",
                                            "attic",
                                            "Zebra",
                                            "\x80uro",
                                            "desk"};
    const QStringList sorted = {"10.0.0.5",
                                "attic",
                                "Desk",
                                "desk",
                                "hall",
                                "Zebra",
                                QString::fromUtf8("\u20acuro"),
                                QString::fromUtf8("\u0160arka"),
                                QString::fromUtf8("\u00e0trium")};
    combo(window)->setEditText("typed");
    combo(window)->setSorted(texts);
    EXPECT_EQ(combo(window)->items(), sorted);
    EXPECT_EQ(combo(window)->currentText(), "");
}

// The connection timer's caption changes every second: a change repaints
// where the caption stands, not the buttons stacked on the status box, and
// an unchanged caption repaints nothing.
TEST_F(StationWindow, ANewStatusCaptionRepaintsNoneOfTheButtonsOnTheBox) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } exitPaints, boxPaints;
    auto* box = qobject_cast<CaptionBox*>(window->Control(IDC_STATUS_BOX));
    window->Control(IDC_EXIT)->installEventFilter(&exitPaints);
    box->installEventFilter(&boxPaints);
    QCoreApplication::processEvents();
    exitPaints.paints = boxPaints.paints = 0;

    for (const char* caption : {"Connected 00:01", "Connected 00:02", "Connected 00:02"}) {
        window->setControlText(IDC_STATUS_BOX, caption);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(box->caption(), "Connected 00:02");
    EXPECT_EQ(window->controlText(IDC_STATUS_BOX), "Connected 00:02");
    EXPECT_EQ(boxPaints.paints, 2);
    EXPECT_EQ(exitPaints.paints, 0);
    window->Control(IDC_EXIT)->removeEventFilter(&exitPaints);
    box->removeEventFilter(&boxPaints);
    // The caption is drawn: the box looks otherwise without it.
    const QImage shown = box->grab().toImage();
    box->setCaption("");
    EXPECT_NE(box->grab().toImage(), shown);
}

TEST_F(StationWindow, ConnectWithAnEmptyRemoteTextShowsTheMessageAndStartsNothing) {
    DisconnectEvent.set();
    TalkStartEvent.set();
    TalkStopEvent.set();
    QTest::mouseClick(button(window, IDC_CONNECT), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{"You must supply a remote parlio to connect to."});
    EXPECT_EQ(boxes.boxes()[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(boxes.boxes()[0].owned);
    EXPECT_FALSE(test::signalled(DisconnectEvent));
    EXPECT_FALSE(test::signalled(TalkStartEvent));
    EXPECT_FALSE(test::signalled(TalkStopEvent));
    EXPECT_FALSE(station->controller().timerRecorded());
    EXPECT_EQ(station->displays().timers().running(), 0);
}

// A text the station's 8-bit encoding cannot hold would be called as
// another ('?' in place of what it lacks): it is not called, and the user is
// told why.
TEST_F(StationWindow, ARemoteTextTheStationCannotHoldIsNotCalled) {
    QInputMethodEvent commit;  // typed as an input method commits it
    commit.setCommitString(QString::fromUtf8("日本"));
    QApplication::sendEvent(combo(window)->lineEdit(), &commit);
    QTest::mouseClick(button(window, IDC_CONNECT), Qt::LeftButton);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].shown,
              QString::fromUtf8("\"日本\" cannot be called: an address, host name or alias "
                                "cannot hold the characters 日 本."));
    EXPECT_FALSE(station->caller().running());
    EXPECT_EQ(station->displays().timers().running(), 0);
    EXPECT_EQ(station->controller().remoteText(), "");
}

TEST_F(StationWindow, EnterInTheRemoteBoxConnects) {
    QTest::keyClicks(combo(window)->lineEdit(), "127.0.0.1");
    QTest::keyClick(combo(window)->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(station->controller().remoteText(), "127.0.0.1");
    // Nothing listens there: the connect is refused, and the station is idle
    // again.
    ASSERT_TRUE(waitFor([&] { return boxes.count() >= 1; }));
    EXPECT_EQ(boxes.texts()[0], "Failed to connect to remote parlio.");
    ASSERT_TRUE(waitFor([&] { return station->displays().timers().running() == 0; }));
    EXPECT_EQ(qobject_cast<CaptionBox*>(window->Control(IDC_STATUS_BOX))->caption(),
              "Connection Status");
    EXPECT_TRUE(button(window, IDC_CONNECT)->isEnabled());
}

TEST_F(StationWindow, EnterPressesTheFocusedPushButtonElseConnect) {
    struct Case {
        int focus;
        const char* box;  // the box that shows what Enter pressed
    };
    const Case cases[] = {
        {IDC_ABOUT, nullptr},  // the About box, which names the program
        {IDC_TALK, "You must supply a remote parlio to connect to."},  // a check box: Connect
        {IDC_CONNECT, "You must supply a remote parlio to connect to."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focus);
        boxes.clear();
        window->Control(c.focus)->setEnabled(true);
        window->Control(c.focus)->setFocus();
        QTest::keyClick(window->Control(c.focus), Qt::Key_Return);
        ASSERT_EQ(boxes.count(), 1u);
        if (c.box) {
            EXPECT_EQ(boxes.texts()[0], c.box);
        } else {
            EXPECT_EQ(boxes.boxes()[0].icon, MessageIcon::Information);
        }
    }
}

TEST_F(StationWindow, AnIncomingCallShowsItsTimeAfterADisconnectWhileIdle) {
    station->controller().Disconnect();  // leaves the timer's stop pending
    station->controller().SetIncomingState(true);
    EXPECT_TRUE(waitFor([&] {
        return qobject_cast<CaptionBox*>(window->Control(IDC_STATUS_BOX))
            ->caption()
            .startsWith("Connected ");
    }));
    station->controller().Disconnect();
}

TEST_F(StationWindow, DisconnectWhileIdleSignalsAllFiveAndOnlyAStartClearsThem) {
    station->controller().Disconnect();
    for (auto* e : {&TalkStartEvent, &TalkStopEvent, &DisconnectEvent, &TimerStopEvent,
                    &AnimationStopEvent}) {
        EXPECT_TRUE(test::signalled(*e));
    }
    EXPECT_EQ(window->windowTitle(), "Chatterly");
    // Connect with no remote text resets the three call events and stops
    // there: the timer's and the animation's stops stay pending.
    station->controller().OnConnectButton();
    EXPECT_FALSE(test::signalled(DisconnectEvent));
    EXPECT_FALSE(test::signalled(TalkStartEvent));
    EXPECT_FALSE(test::signalled(TalkStopEvent));
    EXPECT_TRUE(test::signalled(TimerStopEvent));
    EXPECT_TRUE(test::signalled(AnimationStopEvent));
    EXPECT_EQ(boxes.count(), 1u);
}

TEST_F(StationWindow, IncomingStateConnectsControlsAndTalkGoesToTheMainThread) {
    station->controller().SetIncomingState(true);
    EXPECT_TRUE(station->controller().incomingCall());
    EXPECT_TRUE(button(window, IDC_TALK)->isEnabled());
    EXPECT_TRUE(button(window, IDC_DISCONNECT)->isEnabled());
    EXPECT_FALSE(button(window, IDC_CONNECT)->isEnabled());
    EXPECT_EQ(window->ShownBitmap(IDC_LED), IDB_LED_CONNECTED);
    EXPECT_TRUE(window->windowTitle().startsWith("Chatterly Connected to "));
    ASSERT_TRUE(waitFor([&] {
        return qobject_cast<CaptionBox*>(window->Control(IDC_STATUS_BOX))
            ->caption()
            .startsWith("Connected ");
    }));

    // Talk during an incoming call records on this thread (which fails, with
    // no recorder) and leaves the caller's events alone.
    QTest::mouseClick(button(window, IDC_TALK), Qt::LeftButton);
    EXPECT_FALSE(test::signalled(TalkStartEvent));
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to start recording."});
    EXPECT_FALSE(button(window, IDC_TALK)->isChecked());

    QTest::mouseClick(button(window, IDC_DISCONNECT), Qt::LeftButton);
    EXPECT_FALSE(station->controller().incomingCall());
    EXPECT_EQ(window->windowTitle(), "Chatterly");
    EXPECT_EQ(window->ShownBitmap(IDC_LED), IDB_LED_IDLE);
    EXPECT_TRUE(button(window, IDC_CONNECT)->isEnabled());
    EXPECT_FALSE(button(window, IDC_TALK)->isEnabled());
    ASSERT_TRUE(waitFor([&] { return station->displays().timers().running() == 0; }));
}

TEST_F(StationWindow, TalkOutsideAnIncomingCallOnlyChangesTheEvents) {
    station->controller().SetConnectedControls(true);  // as an outgoing call that stands
    QTest::mouseClick(button(window, IDC_TALK), Qt::LeftButton);
    EXPECT_EQ(button(window, IDC_TALK)->text(), "&Stop Recording");
    EXPECT_TRUE(test::signalled(TalkStartEvent));
    EXPECT_FALSE(test::signalled(TalkStopEvent));
    QTest::mouseClick(button(window, IDC_TALK), Qt::LeftButton);
    EXPECT_EQ(button(window, IDC_TALK)->text(), "&Talk");
    EXPECT_FALSE(test::signalled(TalkStartEvent));
    EXPECT_TRUE(test::signalled(TalkStopEvent));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(StationWindow, EscapeLeavesTheStationAndACloseRequestDisconnectsFirst) {
    station->controller().SetIncomingState(true);
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(station->controller().incomingCall());
    EXPECT_FALSE(test::signalled(DisconnectEvent));
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(station->controller().incomingCall());
    EXPECT_TRUE(test::signalled(DisconnectEvent));
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(StationWindow, ExitPostsACloseRequest) {
    QTest::mouseClick(button(window, IDC_EXIT), Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());  // posted, not yet carried out
    ASSERT_TRUE(waitFor([&] { return !window->isVisible(); }));
    EXPECT_TRUE(test::signalled(DisconnectEvent));
}

TEST_F(StationWindow, ATerminationSignalEndsTheDialogAboveTheWindowUnsavedThenClosesIt) {
    const TerminationRequest termination([this] { station->OnTerminationRequest(); });
    const bool stored = std::filesystem::exists("Parlio.mem");
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    station->OnRemoteStationButton();  // the memory dialog, until the signal ends it
    EXPECT_TRUE(waitFor([&] { return !window->isVisible(); }));
    EXPECT_TRUE(test::signalled(DisconnectEvent));
    EXPECT_EQ(std::filesystem::exists("Parlio.mem"), stored);
}

TEST_F(StationWindow, AboutShowsAnInformationBox) {
    QTest::mouseClick(button(window, IDC_ABOUT), Qt::LeftButton);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, MessageIcon::Information);
    EXPECT_NE(boxes.boxes()[0].text.find("Chatterly"), std::string::npos);
}

// Minimised, the window's picture is its icon at the style's large size in
// the middle of its background, whatever the window's size: a spare pixel
// stands before the icon, and an icon larger than the window overhangs it
// evenly.
TEST_F(StationWindow, MinimisedItShowsItsIconInTheMiddle) {
    const struct {
        QSize window;
        QPoint at;
    } cases[] = {
        {{33, 32}, {1, 0}},  // one pixel wider than the icon
        {{32, 32}, {0, 0}},  // exactly as large
        {{100, 60}, {34, 14}},
        {{31, 29}, {0, -1}},  // smaller than the icon
    };
    const int side = window->style()->pixelMetric(QStyle::PM_LargeIconSize);
    ASSERT_EQ(side, 32);
    const QPixmap icon = window->windowIcon().pixmap(QSize(side, side));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.window.width() << "x" << c.window.height());
        window->showNormal();
        window->setFixedSize(c.window);
        window->showMinimized();
        ASSERT_TRUE(window->isMinimized());
        // The window's own picture, without its controls.
        QImage drawn(c.window, QImage::Format_ARGB32_Premultiplied);
        window->render(&drawn, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        QImage expected(c.window, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&expected);
        painter.fillRect(expected.rect(), window->palette().window());
        painter.drawPixmap(c.at, icon);
        painter.end();
        EXPECT_EQ(drawn, expected);
    }
}

TEST_F(StationWindow, WorkerRequestsAfterTheWindowHasGoneDoNothing) {
    auto view = station->viewProxy();
    window = nullptr;
    station.reset();
    view->setWindowCaption("late");  // must not touch the destroyed window
    EXPECT_EQ(view->controlText(IDC_STATUS_BOX), "");
}

TEST(StartModeSwitch, OnlyTheExactWordsAfterADashOrSlashCount) {
    struct Case {
        const char* line;
        bool found;
        const char* rest;
    };
    const Case cases[] = {
        {"/Embedding", true, ""},
        {"-Automation", true, ""},
        {"file -Embedding x", true, "file  x"},
        {"abc-Automationdef", true, "abcdef"},
        {"/embedding", false, "/embedding"},
        {"Embedding", false, "Embedding"},
        {"-automation", false, "-automation"},
        {"Embedding /Automation", true, "Embedding "},
        {"-Automation /Embedding", true, "-Automation "},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        std::string line = c.line;
        EXPECT_EQ(StartModeSwitch::cut(line), c.found) << c.line;
        EXPECT_EQ(line, c.rest) << c.line;
    }
}
