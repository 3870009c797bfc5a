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

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/SortedComboBox.h"
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
    memory.rebuildFromEntries(list);
    memory.SaveMemory();
}

QStringList remoteItems(Station& station) {
    return qobject_cast<SortedComboBox*>(station.window().Control(IDC_REMOTE))->items();
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
    Station station(withoutRecorder());
    station.InitStationWindow();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to open sound recording device"});
    EXPECT_EQ(remoteItems(station), (QStringList{"10.0.0.9", "desk", "hall"}));
    EXPECT_EQ(station.memory().resolveRemote("desk"), "10.0.0.5");
    EXPECT_EQ(station.memory().callerName("10.0.0.2"), "hall");
}

TEST_F(StationMemoryWindow, ADamagedFileIsReportedAndTheWindowStillOpens) {
    test::writeFile("Parlio.mem", {0x02, 0x00, 0x04});
    Station station(withoutRecorder());
    station.InitStationWindow();
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, "An attempt was made to access an unnamed file past its end.");
    EXPECT_EQ(boxes.boxes()[1].icon, MessageIcon::Stop);
    EXPECT_TRUE(remoteItems(station).isEmpty());
}

TEST_F(StationMemoryWindow, StationsAddedInTheDialogFillTheBoxAndSurviveARestart) {
    store({"10.0.0.5 == desk"});
    {
        Station station(withoutRecorder());
        station.InitStationWindow();
        station.window().show();
        // The user adds a station in the dialog and confirms it.
        bool driven = false;
        std::function<void()> drive = [&] {
            auto* dialog = station.window().findChild<CMemoryDlg*>();
            if (!dialog || !dialog->isVisible()) {
                QTimer::singleShot(20, drive);
                return;
            }
            driven = true;
            auto click = [&](int id) {
                QTest::mouseClick(qobject_cast<QPushButton*>(dialog->Control(id)), Qt::LeftButton);
            };
            click(IDC_MEMORY_ADD);
            QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->Control(IDC_MEMORY_ADDRESS)),
                             "10.0.0.7");
            QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->Control(IDC_MEMORY_ALIAS)), "lab");
            click(IDC_MEMORY_ADD);
            click(IDC_MEMORY_OK);
        };
        QTimer::singleShot(0, drive);
        QTest::mouseClick(qobject_cast<QPushButton*>(station.window().Control(IDC_REMOTE_STATION)),
                          Qt::LeftButton);
        ASSERT_TRUE(driven);
        EXPECT_EQ(remoteItems(station), (QStringList{"desk", "lab"}));
        EXPECT_EQ(station.memory().resolveRemote("lab"), "10.0.0.7");
    }
    Station restarted(withoutRecorder());
    restarted.InitStationWindow();
    EXPECT_EQ(remoteItems(restarted), (QStringList{"desk", "lab"}));
    EXPECT_EQ(restarted.memory().callerName("10.0.0.7"), "lab");
}
