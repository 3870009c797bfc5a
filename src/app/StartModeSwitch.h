#pragma once
// The start-mode switches: "Embedding", or else "Automation", standing
// directly after a "-" or "/" anywhere in the command line (even inside a
// longer argument), compared case-sensitively. A switch that is found is cut
// out of the command line together with its "-" or "/".

#include <string>

namespace chatterly {

class StartModeSwitch {
  public:
    // Looks for the switches in commandLine, cutting out the one found.
    // Returns whether one was found.
    static bool cut(std::string& commandLine);

    // The command line as one text: the arguments after the program's name,
    // joined by single blanks.
    static std::string join(int argc, char** argv);
};

}  // namespace chatterly
