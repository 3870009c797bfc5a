#pragma once
// The memory dialog's list and edit logic, apart from its widgets: the entry
// texts in their sorted order, the list's prefix search, and what the end of
// an Add or an Edit does with the typed texts. CMemoryDlg mirrors the entries
// in its list box index by index and shows the messages returned here.
//
// Order and search ignore case, by the station's order of texts (TextOrder).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/streams/CStringArray.h"
#include "memory/MemoryEntry.h"

namespace chatterly {

class StationMemory;

class MemoryEditor {
  public:
    struct AddOutcome {
        std::optional<size_t> inserted;      // where the new entry went
        std::optional<std::string> refusal;  // the message that refused it
    };

    // Replaces the entries with one per element of the memory's address list:
    // the element, joined with its alias whenever AliasByAddress holds it.
    void fill(const StationMemory& memory);

    const std::vector<std::string>& entries() const { return entries_; }
    size_t count() const { return entries_.size(); }

    // Inserts at the entry's sorted place, after the entries equal to it;
    // returns that index.
    size_t insert(std::string entry);
    void removeAt(size_t index);

    // The first entry in list order that begins with text, without regard to
    // case. An empty text is a prefix of no entry: an empty Add is then
    // skipped quietly whatever the list holds, as it is on an empty list,
    // instead of being refused with a message that names nothing.
    std::optional<size_t> findPrefix(std::string_view text) const;

    // The end of an Add with the typed texts. Refused (nothing added) when an
    // entry begins with the address, or, for a non-empty alias, with the alias:
    // the message is the matching text and " already exists in memory.".
    // Otherwise the entry is the address, joined with the alias when it is not
    // empty, and is added unless it is empty.
    AddOutcome finishAdd(const std::string& address, const std::string& alias);

    // The start of an Edit: takes the entry at index out of the list and
    // returns the texts for the address and alias fields.
    MemoryEntry::Parts beginEdit(size_t index);

    // The end of an Edit: adds the address, joined with the alias when it is
    // not empty, without any test (an empty entry too); returns its index.
    size_t finishEdit(const std::string& address, const std::string& alias);

    // OK: every entry, first to last.
    CStringArray confirm() const;

  private:
    std::vector<std::string> entries_;
};

}  // namespace chatterly
