#pragma once
// The program's own options, which do their work and end the program without
// starting a station: "--history" (the history of the station in the working
// directory, printed), "--talk" (Talk of the station running there,
// toggled) and "--help". Anything else on the command line is
// the station's, as it always was: an argument that does not begin with
// "--", and one that holds a start-mode switch ("--Embedding").

#include <optional>

namespace chatterly {

class CommandLine {
  public:
    // Runs the option the command line names; the exit code, or none when the
    // station is to start.
    static std::optional<int> run(int argc, char** argv);
};

}  // namespace chatterly
