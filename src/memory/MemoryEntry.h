#pragma once
// The text of one memory dialog entry: an address alone, or the address, " == "
// and its alias. The dialog's Edit button and the station's apply step take an
// entry apart by slightly different rules, kept side by side here: both take
// the address as the text before the first '=' (trailing white space
// removed), but Edit starts the alias 3 characters after that '=', the apply
// step 3 characters after the first "==". The two agree on every entry whose
// address holds no '=', so on every entry an Edit makes from the parts it took
// out; they may differ when an address with '=' (typed into Add, or read from
// the memory file) is joined to an alias.

#include <optional>
#include <string>
#include <string_view>

namespace chatterly {

class MemoryEntry {
  public:
    static constexpr std::string_view kJoin = " == ";

    struct Parts {
        std::string address;
        std::optional<std::string> alias;  // none: the entry has no "=="
    };

    // Add and Edit: the alias is joined only when it is not empty.
    static std::string fromFields(const std::string& address, const std::string& alias);
    // Opening the dialog: joined whenever the station has an alias for the
    // address, even an empty one.
    static std::string fromMemory(const std::string& address,
                                  const std::optional<std::string>& alias);

    // Edit: with "==" in the text, the address before the first '=' trimmed and
    // the alias from 3 characters after that '=' (empty if the text ends
    // sooner); without, the whole text and no alias.
    static Parts forEdit(std::string_view text);
    // The apply step: as forEdit, but the alias starts 3 characters after the
    // first "==".
    static Parts forApply(std::string_view text);

    // The text without trailing white space (blank, tab, CR, LF, VT, FF).
    static std::string trimRight(std::string_view text);
};

}  // namespace chatterly
