#pragma once
// What counts as a stop gesture in a window while something plays: Escape
// pressed in the window (as a key or as the window's own shortcut), a click or the mnemonic of one
// of its stop buttons (an enabled one), and, where the window says so, its close box. The windows
// name their buttons; the reading of the input lives here.

#include <initializer_list>

class QEvent;
class QObject;
class QWidget;

namespace chatterly {

class StopGesture {
  public:
    static bool matches(const QWidget& window, QObject* receiver, QEvent* event,
                        std::initializer_list<const QWidget*> stopButtons, bool closeBoxStops);
};

}  // namespace chatterly
