// The station memory as the station window uses it: stations stored in
// "Parlio.mem" fill the remote-station box at start in every start state,
// and a damaged file is reported; a station found on the network reaches it
// only through the memory dialog. The memory dialog, also as the station
// window opens it, is tested with the memory's other tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "discovery/FoundStations.h"
#include "discovery/NearbyWindow.h"
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

TEST_F(StationMemoryWindow, AFoundStationIsAddedOnlyWhenAskedAndMayBeEditedFirst) {
    const struct {
        const char* name;
        const char* host;
        const char* offered;  // the alias the dialog offers
        const char* typed;    // the alias the user types over it, if any
        const char* alias;    // the alias stored
    } kCases[] = {
        {"bravo", "bravo.local", "bravo", nullptr, "bravo"},
        // Ω is not in the memory's encoding: the host name is offered instead.
        {"\xce\xa9mega", "omega.local", "omega.local", nullptr, "omega.local"},
        {"bravo", "bravo.local", "bravo", "front", "front"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        store({"10.0.0.5 == desk"});
        const auto before = test::fileBytes("Parlio.mem");
        Station station(withoutRecorder());
        station.InitStationWindow();
        station.found().found(1, c.name, "local");
        station.found().resolved(1, c.name, "local", c.host, "10.0.0.2", ListenPort);
        station.OnNearbyButton();
        QCoreApplication::processEvents();
        EXPECT_EQ(test::fileBytes("Parlio.mem"), before);  // found is not stored
        QString offered;
        QTimer::singleShot(0, [&] {
            CMemoryDlg* dialog = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<CMemoryDlg*>(w); d && d->isVisible()) {
                    dialog = d;
                }
            }
            ASSERT_NE(dialog, nullptr);
            auto* alias = qobject_cast<QLineEdit*>(dialog->Control(IDC_MEMORY_ALIAS));
            offered = qobject_cast<QLineEdit*>(dialog->Control(IDC_MEMORY_ADDRESS))->text() + " " +
                      alias->text();
            if (c.typed) {
                alias->setText(QString::fromUtf8(c.typed));
            }
            QTest::mouseClick(dialog->Control(IDC_MEMORY_ADD), Qt::LeftButton);
            QTest::mouseClick(dialog->Control(IDC_MEMORY_OK), Qt::LeftButton);
        });
        for (auto* b : station.nearbyWindow()->findChildren<QPushButton*>()) {
            if (b->text().startsWith("Add to")) {
                QTest::mouseClick(b, Qt::LeftButton);
            }
        }
        EXPECT_EQ(offered.toStdString(), std::string("10.0.0.2 ") + c.offered);
        StationMemory stored;
        stored.LoadMemory();
        EXPECT_EQ(stored.AliasByAddress().Lookup("10.0.0.2"), std::string(c.alias));
        EXPECT_EQ(stored.AliasByAddress().Lookup("10.0.0.5"), "desk");
    }
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
