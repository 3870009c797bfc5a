#pragma once
// The Qt application of a benchmark that runs station parts: on the offscreen
// platform unless QT_QPA_PLATFORM names one, with the GUI thread's dispatch
// loop, the station's error report, and message boxes written to stderr
// instead of waiting for an OK. Stations made here never reach the machine's
// Avahi daemon: the system bus they would announce through does not exist.

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "framework/threads/QtThreadLoop.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/ErrorBoxes.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly::bench {

class BenchApp {
  public:
    BenchApp(int& argc, char** argv) : app_((offscreenUnlessNamed(), argc), argv) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/chatterly-bench", 1);
        ErrorBoxes::install();
        MessageBox::setSeam([](const MessageBoxRecord& box) {
            std::fprintf(stderr, "box: %s\n", box.text.c_str());
        });
    }

  private:
    static void offscreenUnlessNamed() {
        if (!std::getenv("QT_QPA_PLATFORM")) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
    }

    QApplication app_;
    QtThreadLoop loop_;
};

// Keeps the GUI thread's events and window requests moving until done()
// holds (true) or the limit passes (false).
inline bool spin(const std::function<bool()>& done, std::chrono::steady_clock::duration limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        WindowRequests::serve();
    }
    return true;
}

}  // namespace chatterly::bench
