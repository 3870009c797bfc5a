#include "app/CStationApp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/CStationDlg.h"
#include "app/CommandLine.h"
#include "app/StartModeSwitch.h"
#include "app/Station.h"
#include "app/StationLock.h"
#include "framework/threads/QtThreadLoop.h"
#include "framework/threads/TerminationRequest.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/CaretRest.h"
#include "framework/widgets/ErrorBoxes.h"
#include "framework/widgets/MessageBox.h"
#include "resources/StringTable.h"

namespace chatterly {
namespace {

// Workers see their stop events within one 500 ms period, and the close
// request has already paused that long; an outgoing call's waits are
// cancelled. A worker that still runs after this (inside a system call that
// nothing can cancel) does not hold the exit.
constexpr auto kWorkerExitLimit = std::chrono::milliseconds(1000);

bool canMakeIpv4Socket() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

void quietDuringStart(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "chatterly: cannot open the display (%s)\n",
                     qPrintable(message.section('\n', 0, 0)));
        std::fflush(stderr);
        _exit(1);
    }
}

}  // namespace

CStationApp::CStationApp(int argc, char** argv) : argc_(argc), argv_(argv) {
    ErrorBoxes::install();
    MessageBox::setApplicationTitle(argc > 0 ? argv[0] : "chatterly");
    commandLine_ = StartModeSwitch::join(argc, argv);
}

CStationApp::~CStationApp() = default;

bool CStationApp::MakeGui() {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "chatterly: no display to open (set DISPLAY or WAYLAND_DISPLAY)\n");
        return false;
    }
    // Qt reports a display it cannot open as a fatal error; say it in one
    // line and leave with a failure code instead of aborting.
    const QtMessageHandler previous = qInstallMessageHandler(quietDuringStart);
    gui_ = std::make_unique<QApplication>(argc_, argv_);
    qInstallMessageHandler(previous);
    // Wayland compositors match the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.chatterly.Chatterly"));
    CaretRest::install();
    return true;
}

bool CStationApp::StartStation() {
    if (!canMakeIpv4Socket()) {
        if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
            std::getenv("QT_QPA_PLATFORM")) {
            MakeGui();
        }
        QtThreadLoop loop;
        MessageBox::show(loadResourceString(IDS_SOCKETS_INIT_FAILED), MessageIcon::Warning, true);
        exitCode_ = 1;
        return false;
    }
    if (StartModeSwitch::cut(commandLine_)) {
        return true;
    }
    StationLock lock;
    if (!lock.claim()) {
        std::fprintf(stderr,
                     "chatterly: a station already runs in this directory; its window was "
                     "brought forward\n");
        return false;
    }
    if (!MakeGui()) {
        exitCode_ = 1;
        return false;
    }
    {
        QtThreadLoop loop;
        {
            Station station;
            lock.listen([&station] { station.window().bringToFront(); },
                        [&station] { return station.window().OnTalkCommand(); });
            MessageBox::setMainWindow(&station.window());
            const TerminationRequest termination([&station] { station.OnTerminationRequest(); });
            station.runModal();
            MessageBox::setMainWindow(nullptr);
            MessageBox::closeDown();
        }
        ThreadStarter::waitForAll(kWorkerExitLimit);
        WindowRequests::shutdown();
    }
    return false;
}

int CStationApp::Run() {
    if (const auto exitCode = CommandLine::run(argc_, argv_)) {
        return *exitCode;
    }
    if (StartStation()) {
        // Windowless start: nothing to serve until the process is ended.
        for (;;) {
            pause();
        }
    }
    if (ThreadStarter::running() > 0) {
        // A worker is still inside a call it cannot leave yet (a connect the
        // network has not decided): end without running static destructors
        // under it.
        std::fflush(nullptr);
        _exit(exitCode_);
    }
    return exitCode_;
}

}  // namespace chatterly
