// The station window and the memory dialog as assistive technology finds
// them through Qt's accessibility interfaces: every control has a name (what
// it shows, or its label) and a description, and each mnemonic reaches its
// own control and no other.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QShortcutEvent>
#include <QTest>
#include <memory>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/CaptionBox.h"
#include "framework/widgets/LevelMeter.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/StatusLine.h"
#include "memory/CMemoryDlg.h"
#include "memory/MemoryIds.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"

using namespace chatterly;

namespace {

QString accessibleText(QWidget* w, QAccessible::Text which) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(which) : QString();
}

// The text a control shows, as the user reads it (a button's caption without
// its mnemonic mark); empty when it shows none (a picture, a list, a box).
QString readsAs(QWidget* w) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text().remove(QLatin1Char('&'));
    }
    if (auto* box = qobject_cast<CaptionBox*>(w)) {
        return box->caption();
    }
    if (auto* line = qobject_cast<StatusLine*>(w); line && !line->toolTip().isEmpty()) {
        return line->toolTip();  // the whole notice, of which the line shows what fits
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    return {};
}

// Takes every shortcut event of the application: which object it went to,
// and whether another control claimed the same keys. The control is not
// pressed, so no station operation runs.
class ShortcutCatcher : public QObject {
  public:
    ShortcutCatcher() { qApp->installEventFilter(this); }
    ~ShortcutCatcher() override { qApp->removeEventFilter(this); }
    QObject* reached = nullptr;
    bool ambiguous = false;

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) {
            return false;
        }
        reached = receiver;
        ambiguous = static_cast<QShortcutEvent*>(event)->isAmbiguous();
        return true;
    }
};

// The windows as a user meets them: the station window at rest, during a
// call that records with a notice on the status line (every control
// enabled), and the memory dialog. (The status box's name follows its
// caption only while assistive technology listens, which it never does on
// the offscreen platform.)
enum class Scene { Station, StationRecording, MemoryDialog };
constexpr std::pair<Scene, const char*> kScenes[] = {
    {Scene::Station, "the station window"},
    {Scene::StationRecording, "the station window recording"},
    {Scene::MemoryDialog, "the memory dialog"}};

class StationAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        test::clearSignalEvents();
        StationOptions options;
        options.listenPort = 0;
        options.recorder.server = "unix:/nonexistent/chatterly-no-server";
        station = std::make_unique<Station>(options);
        window = &station->window();
        MessageBox::setMainWindow(window);
        station->InitStationWindow();
        show(window);
    }
    void TearDown() override {
        memoryDialog.reset();
        MessageBox::setMainWindow(nullptr);
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    }

    // Shortcuts go to the active window. (qWaitForWindowActive would also
    // take a dialog whose parent is active.)
    static void show(QWidget* w) {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(test::waitFor([w] { return QApplication::activeWindow() == w; }));
    }
    // Sets the scene up and returns its window.
    CDialog& enter(Scene scene) {
        if (scene == Scene::MemoryDialog) {
            memoryDialog = std::make_unique<CMemoryDlg>(station->memory(), window);
            memoryDialog->InitMemoryDialog();
            show(memoryDialog.get());
            return *memoryDialog;
        }
        if (scene == Scene::StationRecording) {
            for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                w->setEnabled(true);
            }
            window->setControlText(IDC_TALK, "&Stop Recording");
            StatusLine::post("Your message was not delivered: the call has ended.");
            auto* line = window->findChild<StatusLine*>();
            EXPECT_TRUE(test::waitFor([line] { return !line->notice().isEmpty(); }));
        }
        return *window;
    }

    test::MessageBoxRecorder boxes;
    std::unique_ptr<Station> station;
    CStationDlg* window = nullptr;
    std::unique_ptr<CMemoryDlg> memoryDialog;
};

}  // namespace

// Every control has a name and a description. A control that shows a text
// (a caption, a changing caption, a notice) is named by it; a field is named
// by the label beside it, which needs no description of its own; the remote
// box's text field, which takes the typing, has the box's words.
TEST_F(StationAccess, EveryControlIsNamedAsItReadsOrByItsLabelAndDescribed) {
    for (const auto& [scene, where] : kScenes) {
        SCOPED_TRACE(where);
        CDialog& dialog = enter(scene);
        const auto controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        ASSERT_FALSE(controls.isEmpty());
        for (QWidget* w : controls) {
            const QString name = accessibleText(w, QAccessible::Name);
            SCOPED_TRACE(name.toStdString());
            EXPECT_FALSE(name.isEmpty()) << w->metaObject()->className();
            if (!readsAs(w).isEmpty()) {
                EXPECT_EQ(name, readsAs(w));
            }
            if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy()) {
                QAccessibleInterface* field = QAccessible::queryAccessibleInterface(label->buddy());
                const auto labels = field->relations(QAccessible::Label);
                ASSERT_EQ(labels.size(), 1);
                EXPECT_EQ(labels[0].first->object(), label);
                EXPECT_EQ(field->text(QAccessible::Name), label->text());
                continue;
            }
            const QString description = accessibleText(w, QAccessible::Description);
            EXPECT_FALSE(description.isEmpty());
            // The meter's value is the level it shows, in whole dB.
            if (auto* meter = qobject_cast<LevelMeter*>(w)) {
                meter->setLevel(-12.0, -23.4);
                auto* value = QAccessible::queryAccessibleInterface(w)->valueInterface();
                ASSERT_TRUE(value);
                EXPECT_EQ(value->currentValue().toInt(), -23);
                EXPECT_EQ(accessibleText(w, QAccessible::Value), QStringLiteral("-23 dB"));
            }
            if (auto* box = qobject_cast<QComboBox*>(w); box && box->lineEdit()) {
                EXPECT_EQ(accessibleText(box->lineEdit(), QAccessible::Name), name);
                EXPECT_EQ(accessibleText(box->lineEdit(), QAccessible::Description), description);
            }
        }
    }
}

// Alt and the letter marked in a button's caption, sent to its window,
// reach that button and no other.
TEST_F(StationAccess, EveryMnemonicReachesItsControlAlone) {
    for (const auto& [scene, where] : kScenes) {
        SCOPED_TRACE(where);
        CDialog& dialog = enter(scene);
        int reached = 0;
        for (auto* button : dialog.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
            if (mnemonic.isEmpty() || !button->isEnabled()) {
                continue;
            }
            SCOPED_TRACE(mnemonic.toString().toStdString());
            ShortcutCatcher catcher;
            QTest::keyClick(&dialog, mnemonic[0].key(), Qt::AltModifier);
            EXPECT_EQ(catcher.reached, button);
            EXPECT_FALSE(catcher.ambiguous);
            ++reached;
        }
        EXPECT_GE(reached, 3);
    }
}
