#include "framework/widgets/CallBoxes.h"

#include <QString>

#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/StatusLine.h"

namespace chatterly {
namespace {

// GUI thread only.
bool boxUp = false;
int failedMeanwhile = 0;

void showOnGuiThread(const std::string& text, MessageIcon icon) {
    if (boxUp) {
        ++failedMeanwhile;
        StatusLine::post(failedMeanwhile == 1
                             ? QStringLiteral("1 more call failed while a message was shown")
                             : QStringLiteral("%1 more calls failed while a message was shown")
                                   .arg(failedMeanwhile));
        return;
    }
    boxUp = true;
    failedMeanwhile = 0;
    {
        const ThreadLoop::NetworkHold hold;
        MessageBox::show(text, icon);
    }
    boxUp = false;
}

}  // namespace

void CallBoxes::show(const std::string& text, MessageIcon icon) {
    if (!WindowRequests::run([&] { showOnGuiThread(text, icon); })) {
        // No GUI thread (the window has gone): said as any box then is.
        MessageBox::show(text, icon);
    }
}

}  // namespace chatterly
