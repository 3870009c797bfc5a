#pragma once
// Starts the desktop's sound settings without waiting for them: the first of
// pavucontrol, "gnome-control-center sound" and "systemsettings
// kcm_pulseaudio" found on the PATH. The result is not examined.

#include <string>
#include <vector>

namespace chatterly {

class SoundSettings {
  public:
    // The command line that would be started, empty when none is installed.
    static std::vector<std::string> command();
    static void start();
};

}  // namespace chatterly
