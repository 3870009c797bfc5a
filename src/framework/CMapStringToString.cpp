#include "framework/CMapStringToString.h"

namespace chatterly {

uint32_t CMapStringToString::HashKey(const std::string& key) {
    uint32_t h = 0;
    for (const char c : key) {
        h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return h;
}

void CMapStringToString::SetAt(const std::string& key, const std::string& value) {
    if (!table_) {
        table_.emplace();
    }
    Chain& chain = (*table_)[ChainOf(key)];
    for (auto& pair : chain) {
        if (pair.first == key) {
            pair.second = value;
            return;
        }
    }
    chain.emplace_front(key, value);
    ++count_;
}

std::optional<std::string> CMapStringToString::Lookup(const std::string& key) const {
    if (!table_) {
        return std::nullopt;
    }
    for (const auto& pair : (*table_)[ChainOf(key)]) {
        if (pair.first == key) {
            return pair.second;
        }
    }
    return std::nullopt;
}

bool CMapStringToString::RemoveKey(const std::string& key) {
    if (!table_) {
        return false;
    }
    Chain& chain = (*table_)[ChainOf(key)];
    for (auto it = chain.begin(); it != chain.end(); ++it) {
        if (it->first == key) {
            chain.erase(it);
            --count_;
            return true;
        }
    }
    return false;
}

void CMapStringToString::RemoveAll() {
    table_.reset();
    count_ = 0;
}

void CMapStringToString::ForEach(
    const std::function<void(const std::string&, const std::string&)>& visit) const {
    if (!table_) {
        return;
    }
    for (const Chain& chain : *table_) {
        for (const auto& [key, value] : chain) {
            visit(key, value);
        }
    }
}

}  // namespace chatterly
