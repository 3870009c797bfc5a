#include "shortcut/X11KeyGrab.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <array>
#include <cstdlib>

namespace chatterly {
namespace {

// Lock modifiers a key is grabbed under as well, so that NumLock (Mod2 on
// common keymaps) or CapsLock being on does not lose it.
constexpr std::array<uint16_t, 4> kLockVariants{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
// The modifiers a key event is matched on.
constexpr uint16_t kMatched =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

}  // namespace

std::unique_ptr<X11KeyGrab> X11KeyGrab::onThisDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        return nullptr;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return std::unique_ptr<X11KeyGrab>(new X11KeyGrab(connection, screen->root));
}

X11KeyGrab::X11KeyGrab(xcb_connection_t* connection, uint32_t root)
    : connection_(connection), root_(root) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11KeyGrab::~X11KeyGrab() {
    release();
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

X11KeyGrab::Result X11KeyGrab::grab(const ShortcutKey& key) {
    release();
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
    xcb_keycode_t* codes = symbols ? xcb_key_symbols_get_keycode(symbols, key.keysym()) : nullptr;
    const uint8_t keycode = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    if (keycode == 0) {
        return Result::NoSuchKey;
    }
    std::array<xcb_void_cookie_t, kLockVariants.size()> cookies;
    for (size_t i = 0; i < kLockVariants.size(); ++i) {
        cookies[i] =
            xcb_grab_key_checked(connection_, 1, root_, key.x11Modifiers() | kLockVariants[i],
                                 keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    keycode_ = keycode;
    modifiers_ = key.x11Modifiers();
    if (refused) {
        release();  // the variants that were granted go too
        return Result::Held;
    }
    return Result::Grabbed;
}

void X11KeyGrab::release() {
    if (keycode_ == 0) {
        return;
    }
    for (const uint16_t variant : kLockVariants) {
        xcb_ungrab_key(connection_, keycode_, root_, modifiers_ | variant);
    }
    xcb_flush(connection_);
    keycode_ = 0;
    keyDown_ = false;
}

bool X11KeyGrab::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (keycode_ == 0 || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (key->detail != keycode_) {
        return false;
    }
    if (type == XCB_KEY_PRESS && (key->state & kMatched) == modifiers_) {
        keyDown_ = true;
        emit pressed(key->time);
        return true;
    }
    // The release counts whatever modifiers are still held: the user may let
    // go of Ctrl before the key.
    if (type == XCB_KEY_RELEASE && keyDown_) {
        keyDown_ = false;
        emit released(key->time);
        return true;
    }
    return false;
}

}  // namespace chatterly
