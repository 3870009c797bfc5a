#include "memory/MemoryEditor.h"

#include <algorithm>

#include "framework/streams/TextOrder.h"
#include "memory/StationMemory.h"

namespace chatterly {

void MemoryEditor::fill(const StationMemory& memory) {
    entries_.clear();
    entries_.reserve(memory.AddressList().GetSize());
    for (const std::string& address : memory.AddressList()) {
        entries_.push_back(
            MemoryEntry::fromMemory(address, memory.AliasByAddress().Lookup(address)));
    }
    // A stable sort puts equal entries in the order of adding, as inserting
    // them one by one would.
    std::stable_sort(entries_.begin(), entries_.end(), TextOrder());
}

size_t MemoryEditor::insert(std::string entry) {
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), entry, TextOrder());
    const auto index = static_cast<size_t>(at - entries_.begin());
    entries_.insert(at, std::move(entry));
    return index;
}

void MemoryEditor::removeAt(size_t index) {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::optional<size_t> MemoryEditor::findPrefix(std::string_view text) const {
    if (text.empty()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (TextOrder::beginsWith(entries_[i], text)) {
            return i;
        }
    }
    return std::nullopt;
}

MemoryEditor::AddOutcome MemoryEditor::finishAdd(const std::string& address,
                                                 const std::string& alias) {
    static constexpr const char* kExists = " already exists in memory.";
    if (findPrefix(address)) {
        return AddOutcome{std::nullopt, address + kExists};
    }
    if (!alias.empty() && findPrefix(alias)) {
        return AddOutcome{std::nullopt, alias + kExists};
    }
    std::string entry = MemoryEntry::fromFields(address, alias);
    if (entry.empty()) {
        return AddOutcome{};
    }
    return AddOutcome{insert(std::move(entry)), std::nullopt};
}

MemoryEntry::Parts MemoryEditor::beginEdit(size_t index) {
    MemoryEntry::Parts parts = MemoryEntry::forEdit(entries_.at(index));
    removeAt(index);
    return parts;
}

size_t MemoryEditor::finishEdit(const std::string& address, const std::string& alias) {
    return insert(MemoryEntry::fromFields(address, alias));
}

CStringArray MemoryEditor::confirm() const {
    CStringArray out;
    for (const std::string& entry : entries_) {
        out.Add(entry);
    }
    return out;
}

}  // namespace chatterly
