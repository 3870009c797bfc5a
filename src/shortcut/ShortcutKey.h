#pragma once
// One key with its modifiers, taken from the first combination of a
// QKeySequence, in the forms each way of binding it wants: the text the user
// reads ("Ctrl+Alt+T"), the desktop shortcut service's trigger
// ("CTRL+ALT+T"), and the X11 key symbol with its modifier mask. The one
// place a key sequence is converted. Keys outside its table (letters,
// digits, F1 to F35, the named keys, common punctuation) are not taken.

#include <QKeySequence>
#include <QString>
#include <cstdint>
#include <optional>

namespace chatterly {

class ShortcutKey {
  public:
    // The key of sequence; nothing when it is empty or has no X11 symbol.
    static std::optional<ShortcutKey> from(const QKeySequence& sequence);

    QString text() const { return text_; }
    QString portalTrigger() const { return trigger_; }
    uint32_t keysym() const { return keysym_; }
    uint16_t x11Modifiers() const { return x11Modifiers_; }

  private:
    QString text_;
    QString trigger_;
    uint32_t keysym_ = 0;
    uint16_t x11Modifiers_ = 0;
};

}  // namespace chatterly
