#pragma once
// A map from 8-bit string to 8-bit string whose iteration order is that of a
// hash table of 17 chains, which decides the bytes of the station memory file:
// a key lives in chain H(key) mod 17, with H = H * 33 + c over its bytes taken
// as signed 8-bit values in wrapping unsigned 32-bit arithmetic. A new key goes
// to the head of its chain; assigning to a present key replaces its value in
// place. The table is made at the first insertion and discarded by RemoveAll.
// Keys compare whole and case-sensitively. An index beside the chains finds a
// key at once, so a memory of many stations loads in linear time; it does not
// change the order.

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace chatterly {

class CMapStringToString {
  public:
    static constexpr uint32_t kChains = 17;

    CMapStringToString() = default;
    CMapStringToString(const CMapStringToString& other);
    CMapStringToString& operator=(const CMapStringToString& other);

    static uint32_t HashKey(const std::string& key);
    static uint32_t ChainOf(const std::string& key) { return HashKey(key) % kChains; }

    // Assigns value to key (inserting it at its chain's head when new).
    void SetAt(const std::string& key, const std::string& value);
    std::optional<std::string> Lookup(const std::string& key) const;
    bool RemoveKey(const std::string& key);
    void RemoveAll();
    size_t GetCount() const { return count_; }
    bool IsEmpty() const { return count_ == 0; }

    // Visits the pairs chain by chain, 0 to 16, each from head to tail.
    void ForEach(const std::function<void(const std::string&, const std::string&)>& visit) const;

  private:
    void RebuildIndex();

    using Chain = std::list<std::pair<std::string, std::string>>;
    std::optional<std::array<Chain, kChains>> table_;
    // Key (viewing the node's own key, which never moves) to its node.
    std::unordered_map<std::string_view, Chain::iterator> index_;
    size_t count_ = 0;
};

}  // namespace chatterly
