#include "framework/streams/CMapStringToString.h"

namespace chatterly {

CMapStringToString::CMapStringToString(const CMapStringToString& other)
    : table_(other.table_), count_(other.count_) {
    RebuildIndex();
}

CMapStringToString& CMapStringToString::operator=(const CMapStringToString& other) {
    if (this != &other) {
        table_ = other.table_;
        count_ = other.count_;
        RebuildIndex();
    }
    return *this;
}

void CMapStringToString::RebuildIndex() {
    index_.clear();
    if (!table_) {
        return;
    }
    index_.reserve(count_);
    for (Chain& chain : *table_) {
        for (auto it = chain.begin(); it != chain.end(); ++it) {
            index_.emplace(it->first, it);
        }
    }
}

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
    if (auto found = index_.find(key); found != index_.end()) {
        found->second->second = value;
        return;
    }
    Chain& chain = (*table_)[ChainOf(key)];
    chain.emplace_front(key, value);
    index_.emplace(chain.front().first, chain.begin());
    ++count_;
}

std::optional<std::string> CMapStringToString::Lookup(const std::string& key) const {
    if (!table_) {
        return std::nullopt;
    }
    auto found = index_.find(key);
    if (found == index_.end()) {
        return std::nullopt;
    }
    return found->second->second;
}

bool CMapStringToString::RemoveKey(const std::string& key) {
    if (!table_) {
        return false;
    }
    auto found = index_.find(key);
    if (found == index_.end()) {
        return false;
    }
    const Chain::iterator node = found->second;
    index_.erase(found);
    (*table_)[ChainOf(key)].erase(node);
    --count_;
    return true;
}

void CMapStringToString::RemoveAll() {
    index_.clear();
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
