// The main of every test program: the Qt application on the offscreen
// platform (unless the environment names another), the GUI thread's loop,
// then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "framework/QtThreadLoop.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    chatterly::QtThreadLoop loop;
    return RUN_ALL_TESTS();
}
