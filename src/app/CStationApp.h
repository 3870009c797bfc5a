#pragma once
// The application object: the program's start-up and shut-down order.
// StartStation checks that IPv4 stream sockets can be made, looks for the
// start-mode switches (which start the windowless mode), and otherwise makes
// the Qt application, runs the station window modally and returns once it has
// gone. The workers still running then get a bounded time to end. A start
// in a working directory where a station already runs brings that station's
// window forward and ends (StationLock).

#include <memory>
#include <string>

class QApplication;

namespace chatterly {

class CStationApp {
  public:
    CStationApp(int argc, char** argv);
    ~CStationApp();

    // Returns false when the program is to end at once, true only in the
    // windowless start mode, whose loop the caller then runs.
    bool StartStation();

    // main(): StartStation, the windowless loop if asked for, the exit code.
    int Run();

  private:
    bool MakeGui();

    int argc_;
    char** argv_;
    std::string commandLine_;
    std::unique_ptr<QApplication> gui_;
    int exitCode_ = 0;
};

}  // namespace chatterly
