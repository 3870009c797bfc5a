// Widgets: message boxes and the generic error report's presenter.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "framework/streams/ArchiveError.h"
#include "framework/streams/FileError.h"
#include "framework/threads/ErrorReport.h"
#include "framework/widgets/CDialog.h"
#include "framework/widgets/CaretRest.h"
#include "framework/widgets/HelpPage.h"
#include "framework/widgets/MessageBox.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::waitFor;

TEST(MessageBoxes, CarryTextIconAndTheApplicationTitle) {
    MessageBoxRecorder boxes;
    MessageBox::show("Failed to connect to remote parlio.");
    MessageBox::show("About", MessageIcon::Information);
    std::atomic<bool> shown{false};
    std::thread worker([&] {
        MessageBox::show("from a worker");
        shown = true;
    });
    EXPECT_TRUE(waitFor([&] { return shown.load(); }));
    worker.join();
    ASSERT_EQ(boxes.count(), 3u);
    const auto b = boxes.boxes();
    EXPECT_EQ(b[0].text, "Failed to connect to remote parlio.");
    EXPECT_EQ(b[0].icon, MessageIcon::Warning);
    EXPECT_EQ(b[0].caption, "test_widgets");
    EXPECT_EQ(b[1].icon, MessageIcon::Information);
    EXPECT_EQ(b[2].text, "from a worker");
}

TEST(MessageBoxes, TheTitleIsTheFileNameWithoutItsExtension) {
    const std::string before = MessageBox::applicationTitle();
    MessageBox::setApplicationTitle("/usr/bin/station.exe");
    EXPECT_EQ(MessageBox::applicationTitle(), "station");
    MessageBox::setApplicationTitle("chatterly");
    EXPECT_EQ(MessageBox::applicationTitle(), "chatterly");
    MessageBox::setApplicationTitle(before);
}

TEST(ErrorReport, ShowsEachErrorWithItsTextAndIconAndSkipsTheRest) {
    struct Case {
        std::function<void()> raise;
        std::string text;
        MessageIcon icon;
    };
    const Case cases[] = {
        {[] { throw FileError(); }, "An unknown error occurred while accessing an unnamed file.",
         MessageIcon::Stop},
        {[] { throw FileError("Parlio.mem", 5); },
         "An unknown error occurred while accessing Parlio.mem.", MessageIcon::Stop},
        {[] { throw ArchiveError(); },
         "An attempt was made to access an unnamed file past its end.", MessageIcon::Stop},
        {[] { throw std::bad_alloc(); }, "Out of memory.", MessageIcon::Warning},
    };
    for (const Case& c : cases) {
        MessageBoxRecorder boxes;
        bool rest = false;
        EXPECT_FALSE(ErrorReport::run([&] {
            c.raise();
            rest = true;
        }));
        EXPECT_FALSE(rest);
        ASSERT_EQ(boxes.count(), 1u) << c.text;
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
        EXPECT_EQ(boxes.boxes()[0].icon, c.icon);
    }
}

// Left alone, the caret stops blinking; the next key press brings back the
// desktop's blink time.
TEST(CaretRest, StopsTheBlinkWhenLeftAloneAndBringsItBackOnAKeyPress) {
    const int blink = QApplication::cursorFlashTime();
    ASSERT_GT(blink, 0);
    QLineEdit field;
    field.show();
    CaretRest::install(50);
    ASSERT_TRUE(waitFor([] { return QApplication::cursorFlashTime() == 0; }));
    QTest::keyClick(&field, Qt::Key_A);
    EXPECT_EQ(QApplication::cursorFlashTime(), blink);
    EXPECT_EQ(field.text(), "a");
    EXPECT_TRUE(waitFor([] { return QApplication::cursorFlashTime() == 0; }));
}

// F1 in a window shows the help page in the desktop's viewer (here a
// stand-in xdg-open that writes down what it was asked to open); without a
// page it asks for nothing.
TEST(HelpPage, F1OpensTheInstalledPageAndWithoutOneDoesNothing) {
    chatterly::test::ScratchDirectory dir;
    {
        std::ofstream viewer(dir.file("xdg-open"));
        viewer << "#!/bin/sh\necho \"$@\" >>" << dir.file("opened") << "\n";
    }
    std::filesystem::permissions(dir.file("xdg-open"), std::filesystem::perms::owner_all);
    std::ofstream(dir.file("chatterly.html")) << "<html></html>";
    qputenv("PATH", (dir.path() + ":" + qgetenv("PATH").toStdString()).c_str());

    struct Window : CDialog {
        Window() : CDialog({"Station", 100, 50, false, 0}, nullptr) {}
    } window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const bool installed : {false, true}) {
        HelpPage::setLocation(
            QString::fromStdString(dir.file(installed ? "chatterly.html" : "missing.html")));
        QTest::keyClick(&window, Qt::Key_F1);
    }
    const std::string expected = "file://" + dir.file("chatterly.html") + "\n";
    const auto opened = [&] {
        const auto bytes = chatterly::test::fileBytes(dir.file("opened"));
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_TRUE(waitFor([&] { return opened() == expected; })) << opened();
    HelpPage::setLocation({});
}
