#pragma once
// The name this station is announced under: the one asked for, until another
// host on the network holds it; then Avahi's next alternative ("desk #2",
// "desk #3", ...), as often as it collides. Once the announcement stands
// under a name other than the one asked for, the user is told which, once.
// GUI thread.

#include <QString>
#include <optional>
#include <string>

namespace chatterly {

class AnnouncedName {
  public:
    explicit AnnouncedName(std::string wanted);

    const std::string& wanted() const { return wanted_; }
    const std::string& current() const { return current_; }

    // Another host holds the current name: the next alternative.
    void collided();
    // The announcement stands under current(): the notice to show, when it
    // differs from what was asked for and was not said yet.
    std::optional<QString> established();

  private:
    std::string wanted_;
    std::string current_;
    std::string said_;
};

}  // namespace chatterly
