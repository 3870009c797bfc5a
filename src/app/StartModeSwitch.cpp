#include "app/StartModeSwitch.h"

namespace chatterly {
namespace {

bool cutSwitch(std::string& line, const std::string& word) {
    for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
        if (at > 0 && (line[at - 1] == '-' || line[at - 1] == '/')) {
            line.erase(at - 1, word.size() + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

bool StartModeSwitch::cut(std::string& commandLine) {
    return cutSwitch(commandLine, "Embedding") || cutSwitch(commandLine, "Automation");
}

std::string StartModeSwitch::join(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            line += ' ';
        }
        line += argv[i];
    }
    return line;
}

}  // namespace chatterly
