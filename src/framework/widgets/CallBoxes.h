#pragma once
// Message boxes about what a call caused (a frame that could not be read or
// played, a connection that broke under a read), one at a time. A box runs an
// event loop of its own; were the connections' notifications dispatched in
// it, the next caller's failure would open a box inside the first, without
// bound. So while a box about a call is up the GUI thread holds its
// connections' notifications (a listener's still run: callers go on being
// taken or refused), and a failure of another call that comes meanwhile is
// counted on the status line instead of opening a box. Boxes the user asked
// for (the About box, the memory dialog) dispatch as ever; a failure that
// comes while one of them is open is that one box.

#include <string>

#include "framework/widgets/MessageBox.h"

namespace chatterly {

class CallBoxes {
  public:
    // Any thread: shows the box on the GUI thread and returns once it has
    // been dismissed, or at once when a box about a call is already up.
    static void show(const std::string& text, MessageIcon icon = MessageIcon::Warning);
};

}  // namespace chatterly
