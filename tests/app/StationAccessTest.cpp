// The station window and the memory dialog as assistive technology finds
// them through Qt's accessibility interfaces: every control has a name (what
// the user sees) and a description, a field is named by its label, and each
// mnemonic reaches its own control and no other.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcutEvent>
#include <QTest>
#include <memory>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/MessageBox.h"
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

struct Named {
    int id;
    const char* name;
};
struct Mnemonic {
    Qt::Key key;
    int id;
};

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
    CMemoryDlg& openMemoryDialog() {
        memoryDialog = std::make_unique<CMemoryDlg>(station->memory(), window);
        memoryDialog->InitMemoryDialog();
        show(memoryDialog.get());
        return *memoryDialog;
    }

    // Every control of the dialog is named and described; a label has no
    // description of its own when it names a field (its buddy), which
    // assistive technology then reads by the label's text.
    static void expectEveryControlDescribed(CDialog& dialog) {
        const auto controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        ASSERT_FALSE(controls.isEmpty());
        for (QWidget* w : controls) {
            const QString name = accessibleText(w, QAccessible::Name);
            EXPECT_FALSE(name.isEmpty()) << w->metaObject()->className();
            auto* label = qobject_cast<QLabel*>(w);
            if (label && label->buddy()) {
                QAccessibleInterface* field = QAccessible::queryAccessibleInterface(label->buddy());
                const auto labels = field->relations(QAccessible::Label);
                ASSERT_EQ(labels.size(), 1) << name.toStdString();
                EXPECT_EQ(labels[0].first->object(), label) << name.toStdString();
                continue;
            }
            EXPECT_FALSE(accessibleText(w, QAccessible::Description).isEmpty())
                << name.toStdString();
        }
    }
    static void expectNames(CDialog& dialog, std::initializer_list<Named> names) {
        for (const Named& n : names) {
            ASSERT_NE(dialog.Control(n.id), nullptr) << n.id;
            EXPECT_EQ(accessibleText(dialog.Control(n.id), QAccessible::Name), n.name) << n.id;
        }
    }
    // Alt+key, sent to the dialog, reaches the control and no other.
    static void expectMnemonics(CDialog& dialog, std::initializer_list<Mnemonic> mnemonics) {
        for (const Mnemonic& m : mnemonics) {
            ShortcutCatcher catcher;
            QTest::keyClick(&dialog, m.key, Qt::AltModifier);
            EXPECT_EQ(catcher.reached, dialog.Control(m.id))
                << "Alt+" << QKeySequence(m.key).toString().toStdString();
            EXPECT_FALSE(catcher.ambiguous) << QKeySequence(m.key).toString().toStdString();
        }
    }

    test::MessageBoxRecorder boxes;
    std::unique_ptr<Station> station;
    CStationDlg* window = nullptr;
    std::unique_ptr<CMemoryDlg> memoryDialog;
};

const std::initializer_list<int> kStationControls = {
    IDC_REMOTE, IDC_CONNECT, IDC_TALK, IDC_DISCONNECT, IDC_PROPERTIES,    IDC_ABOUT,
    IDC_EXIT,   IDC_SPEAKER, IDC_LED,  IDC_STATUS_BOX, IDC_REMOTE_STATION};

}  // namespace

TEST_F(StationAccess, EveryStationControlIsNamedAsItReadsAndDescribed) {
    expectEveryControlDescribed(*window);
    expectNames(*window, {{IDC_REMOTE, "Remote station"},
                          {IDC_CONNECT, "Connect"},
                          {IDC_TALK, "Talk"},
                          {IDC_DISCONNECT, "Disconnect"},
                          {IDC_PROPERTIES, "Properties"},
                          {IDC_ABOUT, "About"},
                          {IDC_EXIT, "Exit"},
                          {IDC_SPEAKER, "Speaker"},
                          {IDC_LED, "Connection light"},
                          {IDC_STATUS_BOX, "Connection Status"},
                          {IDC_REMOTE_STATION, "Remote Parlio"}});
    // Every control the window addresses is one the walk above reached.
    for (int id : kStationControls) {
        EXPECT_EQ(window->Control(id)->parentWidget(), window) << id;
    }
}

TEST_F(StationAccess, TalkIsNamedByItsCaptionWhileItRecords) {
    window->setControlText(IDC_TALK, "&Stop Recording");
    expectNames(*window, {{IDC_TALK, "Stop Recording"}});
    window->setControlText(IDC_TALK, "&Talk");
    expectNames(*window, {{IDC_TALK, "Talk"}});
}

TEST_F(StationAccess, EachStationMnemonicReachesItsControl) {
    // During a call every button is enabled; a disabled one takes no mnemonic.
    for (int id : kStationControls) {
        window->enableControl(id, true);
    }
    expectMnemonics(*window, {{Qt::Key_C, IDC_CONNECT},
                              {Qt::Key_T, IDC_TALK},
                              {Qt::Key_D, IDC_DISCONNECT},
                              {Qt::Key_P, IDC_PROPERTIES},
                              {Qt::Key_A, IDC_ABOUT},
                              {Qt::Key_X, IDC_EXIT}});
    window->setControlText(IDC_TALK, "&Stop Recording");
    expectMnemonics(*window, {{Qt::Key_S, IDC_TALK}});
}

TEST_F(StationAccess, EveryMemoryDialogControlIsNamedAsItReadsAndDescribed) {
    CMemoryDlg& dialog = openMemoryDialog();
    expectEveryControlDescribed(dialog);
    expectNames(dialog, {{IDC_MEMORY_LIST, "Remembered stations"},
                         {IDC_MEMORY_ADD, "Add"},
                         {IDC_MEMORY_EDIT, "Edit"},
                         {IDC_MEMORY_REMOVE, "Remove"},
                         {IDC_MEMORY_ADDRESS, "IP Address"},
                         {IDC_MEMORY_ALIAS, "Alias"},
                         {IDC_MEMORY_OK, "OK"},
                         {IDC_MEMORY_CANCEL, "Cancel"}});
}

TEST_F(StationAccess, EachMemoryDialogMnemonicReachesItsControl) {
    CMemoryDlg& dialog = openMemoryDialog();
    expectMnemonics(dialog, {{Qt::Key_A, IDC_MEMORY_ADD},
                             {Qt::Key_E, IDC_MEMORY_EDIT},
                             {Qt::Key_R, IDC_MEMORY_REMOVE}});
}
