// The main of every test program: the Qt application on the offscreen
// platform (unless the environment names another), the GUI thread's loop,
// the error report's message boxes, then GoogleTest, in a working directory
// of the test program's own (what a station keeps there, such as its message
// history, never meets another test's). Stations made here never reach the
// machine's Avahi daemon: the system bus they would announce through is one
// that does not exist.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "framework/threads/QtThreadLoop.h"
#include "framework/widgets/ErrorBoxes.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    chatterly::QtThreadLoop loop;
    chatterly::ErrorBoxes::install();
    const chatterly::test::ScratchDirectory workingDirectory;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=no-system-bus", 1);
    return RUN_ALL_TESTS();
}
