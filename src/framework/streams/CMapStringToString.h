#pragma once
// A map from 8-bit string to 8-bit string whose iteration order is that of a
// hash table of 17 chains, which decides the bytes of the station memory file:
// a key lives in chain H(key) mod 17, with H = H * 33 + c over its bytes taken
// as signed 8-bit values in wrapping unsigned 32-bit arithmetic. A new key goes
// to the head of its chain; assigning to a present key replaces its value in
// place. The table is made at the first insertion and discarded by RemoveAll.
// Keys compare whole and case-sensitively.
//
// The pairs live side by side in one array; the chains run through a second,
// compact array of links beside it, and an open-addressed index finds a key
// at once. A memory of many stations so loads in linear time with one
// allocation per growth instead of one per pair, and walking the chains in
// order touches only the links while the pairs ahead are fetched. None of
// that changes the order.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chatterly {

class CMapStringToString {
  public:
    static constexpr uint32_t kChains = 17;

    static uint32_t HashKey(const std::string& key);
    static uint32_t ChainOf(const std::string& key) { return HashKey(key) % kChains; }

    // Assigns value to key (inserting it at its chain's head when new). The
    // pairs are numbered in 32 bits: close to 2^32 pairs, SetAt and a load
    // throw ArchiveError(TooManyEntries).
    void SetAt(std::string key, std::string value);
    std::optional<std::string> Lookup(const std::string& key) const;
    // The value of key, or null; valid until the map next changes.
    const std::string* Find(const std::string& key) const;
    void RemoveAll();
    size_t GetCount() const { return pairs_.size(); }
    bool IsEmpty() const { return pairs_.empty(); }
    // Makes room for n pairs in all, so that loading them allocates once.
    void Reserve(size_t n) { pairs_.reserve(n); }

    // Fills the map, emptied first, with count pairs that next(key, value)
    // supplies one after another, to the same result as SetAt in that order
    // (a repeated key keeps its first place and its last value), but indexes
    // them in one pass at the end. When next throws, the pairs supplied
    // before stay, and the exception goes on.
    template <typename Next>
    void LoadPairs(size_t count, Next&& next) {
        if (!IsEmpty()) {
            RemoveAll();  // an empty map keeps what Reserve made room for
        }
        try {
            for (size_t i = 0; i < count; ++i) {
                Pair& pair = pairs_.emplace_back();
                next(pair.key, pair.value);
            }
        } catch (...) {
            pairs_.pop_back();
            IndexLoaded();
            throw;
        }
        IndexLoaded();
    }

    // Looks up count keys one after another and calls found(i, value or
    // null) for each, as Find would; meanwhile the index and the pairs of
    // the next keys are fetched from memory, so that a long run of lookups
    // does not wait on the memory for each.
    template <typename Found>
    void FindEach(const std::string* keys, size_t count, Found&& found) const {
        constexpr size_t kSlotsAhead = 16;
        constexpr size_t kPairsAhead = 8;
        uint32_t hashes[kSlotsAhead];
        const auto hash = [&](size_t i) {
            hashes[i % kSlotsAhead] = HashKey(keys[i]);
            if (!slots_.empty()) {
                __builtin_prefetch(&slots_[FirstSlot(hashes[i % kSlotsAhead])]);
            }
        };
        for (size_t i = 0; i < count && i < kSlotsAhead; ++i) {
            hash(i);
        }
        for (size_t i = 0; i < count; ++i) {
            if (i + kPairsAhead < count && !slots_.empty()) {
                const Slot ahead = slots_[FirstSlot(hashes[(i + kPairsAhead) % kSlotsAhead])];
                if (ahead.pair != kNone) {
                    __builtin_prefetch(&pairs_[ahead.pair]);
                }
            }
            const uint32_t h = hashes[i % kSlotsAhead];
            const uint32_t n = slots_.empty() ? kNone : slots_[SlotOf(keys[i], h)].pair;
            if (i + kSlotsAhead < count) {
                hash(i + kSlotsAhead);
            }
            found(i, n == kNone ? nullptr : &pairs_[n].value);
        }
    }

    // Visits the pairs chain by chain, 0 to 16, each from head to tail.
    template <typename Visit>
    void ForEach(Visit&& visit) const {
        constexpr int kAhead = 8;  // the pair this many links on is fetched meanwhile
        for (const uint32_t head : heads_) {
            uint32_t ahead = head;
            for (int i = 0; i < kAhead && ahead != kNone; ++i) {
                ahead = links_[ahead].next;
            }
            for (uint32_t n = head; n != kNone; n = links_[n].next) {
                if (ahead != kNone) {
                    __builtin_prefetch(&pairs_[ahead]);
                    ahead = links_[ahead].next;
                }
                visit(pairs_[n].key, pairs_[n].value);
            }
        }
    }

  private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    struct Pair {
        std::string key;
        std::string value;
    };
    struct Link {
        uint32_t hash;
        uint32_t next;  // the next pair of the chain, toward its tail
    };
    // The index: a power of two long, at most half full. Each slot keeps its
    // pair's hash beside the pair's place, so a probe reads a pair only when
    // the hashes agree.
    struct Slot {
        uint32_t hash;
        uint32_t pair;  // kNone: empty
    };

    // The index slot that holds key's pair, or the empty slot where it would go.
    size_t SlotOf(const std::string& key, uint32_t hash) const;
    size_t FirstSlot(uint32_t hash) const {
        return static_cast<size_t>((uint64_t{hash} * 0x9E3779B97F4A7C15ull) >> (64 - slotBits_));
    }
    void ClearIndex(size_t slots);
    void Rehash(size_t slots);
    void IndexLoaded();
    void PushFront(uint32_t n);

    std::vector<Pair> pairs_;
    std::vector<Link> links_;  // one per pair, at the same place
    std::array<uint32_t, kChains> heads_ = makeEmptyHeads();
    std::vector<Slot> slots_;
    int slotBits_ = 0;

    static constexpr std::array<uint32_t, kChains> makeEmptyHeads() {
        std::array<uint32_t, kChains> heads{};
        heads.fill(kNone);
        return heads;
    }
};

}  // namespace chatterly
