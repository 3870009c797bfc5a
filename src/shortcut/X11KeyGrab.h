#pragma once
// A global key on X11 without the desktop's shortcut service: a passive grab
// of the key on the root window through Qt's own xcb connection, with the
// NumLock and CapsLock variants of its modifiers, so the key reaches the
// station whatever window has the focus. Its presses and releases are read
// from Qt's event stream by a native event filter. A grab the X server
// refuses (another client holds the key) fails whole. Owned by
// GlobalShortcut; GUI thread.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <memory>
#include <vector>

#include "shortcut/ShortcutKey.h"

struct xcb_connection_t;

namespace chatterly {

class X11KeyGrab : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
  public:
    enum class Result { Grabbed, NoSuchKey, Held };

    // The grab on the X display the application runs on; null elsewhere
    // (Wayland, offscreen).
    static std::unique_ptr<X11KeyGrab> onThisDisplay();
    ~X11KeyGrab() override;

    // Grabs key, giving up any earlier one.
    [[nodiscard]] Result grab(const ShortcutKey& key);
    void release();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  signals:
    void pressed(uint64_t time);
    void released(uint64_t time);

  private:
    X11KeyGrab(xcb_connection_t* connection, uint32_t root);

    xcb_connection_t* connection_;
    uint32_t root_;
    uint8_t keycode_ = 0;  // 0: nothing grabbed
    uint16_t modifiers_ = 0;
    bool keyDown_ = false;
};

}  // namespace chatterly
