#include "memory/MemoryEntry.h"

namespace chatterly {
namespace {

MemoryEntry::Parts split(std::string_view text, size_t aliasAfter) {
    const size_t firstEquals = text.find('=');
    const size_t aliasStart = aliasAfter + 3;
    return MemoryEntry::Parts{
        MemoryEntry::trimRight(text.substr(0, firstEquals)),
        aliasStart < text.size() ? std::string(text.substr(aliasStart)) : std::string()};
}

}  // namespace

std::string MemoryEntry::fromFields(const std::string& address, const std::string& alias) {
    return alias.empty() ? address : address + std::string(kJoin) + alias;
}

std::string MemoryEntry::fromMemory(const std::string& address,
                                    const std::optional<std::string>& alias) {
    return alias ? address + std::string(kJoin) + *alias : address;
}

MemoryEntry::Parts MemoryEntry::forEdit(std::string_view text) {
    if (text.find("==") == std::string_view::npos) {
        return Parts{std::string(text), std::nullopt};
    }
    return split(text, text.find('='));
}

MemoryEntry::Parts MemoryEntry::forApply(std::string_view text) {
    const size_t join = text.find("==");
    if (join == std::string_view::npos) {
        return Parts{std::string(text), std::nullopt};
    }
    return split(text, join);
}

std::string MemoryEntry::trimRight(std::string_view text) {
    const size_t last = text.find_last_not_of(" \t\r\n\v\f");
    return std::string(last == std::string_view::npos ? std::string_view()
                                                      : text.substr(0, last + 1));
}

}  // namespace chatterly
