#include "shortcut/ShortcutKey.h"

#include <QKeyCombination>
#include <array>

namespace chatterly {
namespace {

struct NamedKey {
    Qt::Key key;
    uint32_t keysym;
    const char* name;  // the key symbol's name, as the trigger spells it
};

constexpr std::array kNamedKeys{
    NamedKey{Qt::Key_Space, 0x20, "space"},
    NamedKey{Qt::Key_Apostrophe, 0x27, "apostrophe"},
    NamedKey{Qt::Key_Comma, 0x2c, "comma"},
    NamedKey{Qt::Key_Minus, 0x2d, "minus"},
    NamedKey{Qt::Key_Period, 0x2e, "period"},
    NamedKey{Qt::Key_Slash, 0x2f, "slash"},
    NamedKey{Qt::Key_Semicolon, 0x3b, "semicolon"},
    NamedKey{Qt::Key_Equal, 0x3d, "equal"},
    NamedKey{Qt::Key_BracketLeft, 0x5b, "bracketleft"},
    NamedKey{Qt::Key_Backslash, 0x5c, "backslash"},
    NamedKey{Qt::Key_BracketRight, 0x5d, "bracketright"},
    NamedKey{Qt::Key_QuoteLeft, 0x60, "grave"},
    NamedKey{Qt::Key_Backspace, 0xff08, "BackSpace"},
    NamedKey{Qt::Key_Tab, 0xff09, "Tab"},
    NamedKey{Qt::Key_Return, 0xff0d, "Return"},
    NamedKey{Qt::Key_Pause, 0xff13, "Pause"},
    NamedKey{Qt::Key_ScrollLock, 0xff14, "Scroll_Lock"},
    NamedKey{Qt::Key_Escape, 0xff1b, "Escape"},
    NamedKey{Qt::Key_Home, 0xff50, "Home"},
    NamedKey{Qt::Key_Left, 0xff51, "Left"},
    NamedKey{Qt::Key_Up, 0xff52, "Up"},
    NamedKey{Qt::Key_Right, 0xff53, "Right"},
    NamedKey{Qt::Key_Down, 0xff54, "Down"},
    NamedKey{Qt::Key_PageUp, 0xff55, "Page_Up"},
    NamedKey{Qt::Key_PageDown, 0xff56, "Page_Down"},
    NamedKey{Qt::Key_End, 0xff57, "End"},
    NamedKey{Qt::Key_Print, 0xff61, "Print"},
    NamedKey{Qt::Key_Insert, 0xff63, "Insert"},
    NamedKey{Qt::Key_Menu, 0xff67, "Menu"},
    NamedKey{Qt::Key_Enter, 0xff8d, "KP_Enter"},
    NamedKey{Qt::Key_Delete, 0xffff, "Delete"},
};

struct Modifier {
    Qt::KeyboardModifier qt;
    const char* trigger;
    uint16_t x11;  // ShiftMask, ControlMask, Mod1Mask (Alt), Mod4Mask (Super)
};

constexpr std::array kModifiers{
    Modifier{Qt::ControlModifier, "CTRL", 1 << 2},
    Modifier{Qt::AltModifier, "ALT", 1 << 3},
    Modifier{Qt::ShiftModifier, "SHIFT", 1 << 0},
    Modifier{Qt::MetaModifier, "LOGO", 1 << 6},
};

// The key symbol and its name for key, or nothing.
std::optional<std::pair<uint32_t, QString>> symbolOf(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        // Letters' symbols are the lower-case ones; the trigger names them as
        // the user reads them.
        return std::pair{static_cast<uint32_t>(QChar(key).toLower().unicode()),
                         QString(QChar(key))};
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        const int n = key - Qt::Key_F1 + 1;
        return std::pair{static_cast<uint32_t>(0xffbe + n - 1), QStringLiteral("F%1").arg(n)};
    }
    for (const NamedKey& named : kNamedKeys) {
        if (named.key == key) {
            return std::pair{named.keysym, QString::fromLatin1(named.name)};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<ShortcutKey> ShortcutKey::from(const QKeySequence& sequence) {
    if (sequence.isEmpty()) {
        return std::nullopt;
    }
    const QKeyCombination combination = sequence[0];
    const auto symbol = symbolOf(combination.key());
    if (!symbol) {
        return std::nullopt;
    }
    ShortcutKey key;
    key.text_ = QKeySequence(combination).toString(QKeySequence::NativeText);
    key.keysym_ = symbol->first;
    for (const Modifier& modifier : kModifiers) {
        if (combination.keyboardModifiers().testFlag(modifier.qt)) {
            key.trigger_ += QString::fromLatin1(modifier.trigger) + QLatin1Char('+');
            key.x11Modifiers_ |= modifier.x11;
        }
    }
    key.trigger_ += symbol->second;
    return key;
}

}  // namespace chatterly
