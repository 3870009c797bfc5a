// The station memory as the station window uses it: stations stored in
// "Parlio.mem" fill the remote-station box at start in every start state,
// the memory dialog's OK rebuilds the box and the file, and the stations
// survive a restart. The dialog itself is tested on its own.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/CStationDlg.h"
#include "control/ControlIds.h"
#include "framework/CStringArray.h"
#include "framework/SortedComboBox.h"
#include "framework/ThreadStarter.h"
#include "memory/CMemoryDlg.h"
#include "memory/MemoryIds.h"
#include "memory/StationMemory.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::ScratchDirectory;
using chatterly::test::waitFor;

namespace {

StationOptions withoutRecorder() {
    StationOptions options;
    options.listenPort = 0;
    options.recorder.server = "unix:/nonexistent/chatterly-no-server";
    return options;
}

void store(std::initializer_list<const char*> entries) {
    StationMemory memory;
    CStringArray list;
    for (const char* e : entries) {
        list.Add(e);
    }
    memory.RebuildFromEntries(list);
    memory.SaveMemory();
}

QStringList remoteItems(CStationDlg& window) {
    return qobject_cast<SortedComboBox*>(window.control(IDC_REMOTE))->items();
}

class StationMemoryWindow : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20))); }
    ScratchDirectory dir;
    MessageBoxRecorder boxes;
};

}  // namespace

TEST_F(StationMemoryWindow, StoredStationsFillTheRemoteBoxEvenWithoutRecorder) {
    store({"10.0.0.5 == desk", "10.0.0.2 == hall", "10.0.0.9"});
    CStationDlg window(withoutRecorder());
    window.InitStationWindow();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to open sound recording device"});
    EXPECT_EQ(remoteItems(window), (QStringList{"10.0.0.9", "desk", "hall"}));
    EXPECT_EQ(window.memory().ResolveRemote("desk"), "10.0.0.5");
    EXPECT_EQ(window.memory().CallerName("10.0.0.2"), "hall");
}

TEST_F(StationMemoryWindow, ADamagedFileIsReportedAndTheWindowStillOpens) {
    {
        std::ofstream out("Parlio.mem", std::ios::binary);
        out.write("\x02\x00\x04", 3);
    }
    CStationDlg window(withoutRecorder());
    window.InitStationWindow();
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, "An attempt was made to access an unnamed file past its end.");
    EXPECT_EQ(boxes.boxes()[1].icon, MessageIcon::Stop);
    EXPECT_TRUE(remoteItems(window).isEmpty());
}

TEST_F(StationMemoryWindow, StationsAddedInTheDialogFillTheBoxAndSurviveARestart) {
    store({"10.0.0.5 == desk"});
    {
        CStationDlg window(withoutRecorder());
        window.InitStationWindow();
        window.show();
        // The user adds a station in the dialog and confirms it.
        bool driven = false;
        std::function<void()> drive = [&] {
            auto* dialog = window.findChild<CMemoryDlg*>();
            if (!dialog || !dialog->isVisible()) {
                QTimer::singleShot(20, drive);
                return;
            }
            driven = true;
            auto click = [&](int id) {
                QTest::mouseClick(qobject_cast<QPushButton*>(dialog->control(id)), Qt::LeftButton);
            };
            click(IDC_MEMORY_ADD);
            QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->control(IDC_MEMORY_ADDRESS)),
                             "10.0.0.7");
            QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->control(IDC_MEMORY_ALIAS)), "lab");
            click(IDC_MEMORY_ADD);
            click(IDC_MEMORY_OK);
        };
        QTimer::singleShot(0, drive);
        QTest::mouseClick(qobject_cast<QPushButton*>(window.control(IDC_REMOTE_STATION)),
                          Qt::LeftButton);
        ASSERT_TRUE(driven);
        EXPECT_EQ(remoteItems(window), (QStringList{"desk", "lab"}));
        EXPECT_EQ(window.memory().ResolveRemote("lab"), "10.0.0.7");
    }
    CStationDlg restarted(withoutRecorder());
    restarted.InitStationWindow();
    EXPECT_EQ(remoteItems(restarted), (QStringList{"desk", "lab"}));
    EXPECT_EQ(restarted.memory().CallerName("10.0.0.7"), "lab");
}
