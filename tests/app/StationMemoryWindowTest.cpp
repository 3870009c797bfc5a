// The station memory as the station window uses it: stations stored in
// "Parlio.mem" fill the remote-station box at start in every start state,
// and a damaged file is reported. The memory dialog, also as the station
// window opens it, is tested with the memory's other tests.
#include <gtest/gtest.h>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "framework/streams/CStringArray.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/SortedComboBox.h"
#include "memory/StationMemory.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::ScratchDirectory;

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
