#pragma once
// A notice on the desktop: a notification through the session bus's
// notification service (org.freedesktop.Notifications), under the program's
// name and icon. A newer notice replaces the one before, so a call that
// brings many messages leaves one. Where there is no session bus or no
// service, nothing is shown and nothing waits: the call goes out without
// waiting for its answer. GUI thread.

#include <QString>

namespace chatterly {

class DesktopNotice {
  public:
    static constexpr const char* kIcon = "org.chatterly.Chatterly";

    static void show(const QString& summary);
};

}  // namespace chatterly
