#include "framework/streams/CMapStringToString.h"

#include "framework/streams/ArchiveError.h"

namespace chatterly {
namespace {

uint32_t signedByte(char c) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
}

}  // namespace

// Four bytes a step, H * 33^4 + c0 * 33^3 + c1 * 33^2 + c2 * 33 + c3: the
// same value as a byte a step, with a quarter of the dependent multiplies.
uint32_t CMapStringToString::HashKey(const std::string& key) {
    uint32_t h = 0;
    const char* p = key.data();
    size_t left = key.size();
    for (; left >= 4; left -= 4, p += 4) {
        h = h * 1185921u + signedByte(p[0]) * 35937u + signedByte(p[1]) * 1089u +
            signedByte(p[2]) * 33u + signedByte(p[3]);
    }
    for (; left > 0; --left, ++p) {
        h = h * 33u + signedByte(*p);
    }
    return h;
}

size_t CMapStringToString::SlotOf(const std::string& key, uint32_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t s = FirstSlot(hash);; s = (s + 1) & mask) {
        const Slot slot = slots_[s];
        if (slot.pair == kNone || (slot.hash == hash && pairs_[slot.pair].key == key)) {
            return s;
        }
    }
}

// An empty index of at least the given number of slots. (The chain hash is
// weak in its low bits for keys that differ in their last characters, so
// FirstSlot spreads it with a multiplicative mix first.)
void CMapStringToString::ClearIndex(size_t slots) {
    int bits = 3;
    while ((size_t{1} << bits) < slots) {
        ++bits;
    }
    slotBits_ = bits;
    slots_.assign(size_t{1} << bits, Slot{0, kNone});
}

void CMapStringToString::Rehash(size_t slots) {
    ClearIndex(slots);
    const size_t mask = slots_.size() - 1;
    for (uint32_t n = 0; n < links_.size(); ++n) {
        size_t s = FirstSlot(links_[n].hash);
        while (slots_[s].pair != kNone) {
            s = (s + 1) & mask;
        }
        slots_[s] = Slot{links_[n].hash, n};
    }
}

void CMapStringToString::PushFront(uint32_t n) {
    uint32_t& head = heads_[links_[n].hash % kChains];
    links_[n].next = head;
    head = n;
}

// The pairs of LoadPairs stand in pairs_ unindexed and unlinked. Each goes
// into the index and to its chain's head in turn; a repeat of an earlier key
// hands its value to the earlier pair and is dropped. The probes of one pair
// do not wait on those of the one before, and the slots of the pairs ahead
// are fetched meanwhile.
void CMapStringToString::IndexLoaded() {
    if (pairs_.size() >= kNone - 1) {
        pairs_.clear();
        throw ArchiveError(ArchiveError::Cause::TooManyEntries);
    }
    if (pairs_.empty()) {
        return;
    }
    links_.resize(pairs_.size());
    for (size_t n = 0; n < pairs_.size(); ++n) {
        links_[n].hash = HashKey(pairs_[n].key);
    }
    ClearIndex(pairs_.size() * 2);
    const size_t mask = slots_.size() - 1;
    constexpr uint32_t kAhead = 8;
    uint32_t kept = 0;
    for (uint32_t n = 0; n < pairs_.size(); ++n) {
        if (n + kAhead < pairs_.size()) {
            __builtin_prefetch(&slots_[FirstSlot(links_[n + kAhead].hash)]);
        }
        const uint32_t hash = links_[n].hash;
        size_t s = FirstSlot(hash);
        while (slots_[s].pair != kNone &&
               !(slots_[s].hash == hash && pairs_[slots_[s].pair].key == pairs_[n].key)) {
            s = (s + 1) & mask;
        }
        if (slots_[s].pair != kNone) {
            pairs_[slots_[s].pair].value = std::move(pairs_[n].value);
            continue;
        }
        if (kept != n) {
            pairs_[kept] = std::move(pairs_[n]);
            links_[kept].hash = hash;
        }
        PushFront(kept);
        slots_[s] = Slot{hash, kept};
        ++kept;
    }
    pairs_.resize(kept);
    links_.resize(kept);
}

void CMapStringToString::SetAt(std::string key, std::string value) {
    const uint32_t hash = HashKey(key);
    if (!slots_.empty()) {
        const size_t s = SlotOf(key, hash);
        if (slots_[s].pair != kNone) {
            pairs_[slots_[s].pair].value = std::move(value);
            return;
        }
    }
    if (pairs_.size() >= kNone - 1) {
        throw ArchiveError(ArchiveError::Cause::TooManyEntries);
    }
    // Half full at most, so that a probe ends within a few slots.
    if ((pairs_.size() + 1) * 2 > slots_.size()) {
        Rehash((pairs_.size() + 1) * 4);
    }
    const auto n = static_cast<uint32_t>(pairs_.size());
    pairs_.push_back(Pair{std::move(key), std::move(value)});
    links_.push_back(Link{hash, kNone});
    PushFront(n);
    slots_[SlotOf(pairs_[n].key, hash)] = Slot{hash, n};
}

const std::string* CMapStringToString::Find(const std::string& key) const {
    if (slots_.empty()) {
        return nullptr;
    }
    const uint32_t n = slots_[SlotOf(key, HashKey(key))].pair;
    return n == kNone ? nullptr : &pairs_[n].value;
}

std::optional<std::string> CMapStringToString::Lookup(const std::string& key) const {
    const std::string* value = Find(key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

void CMapStringToString::RemoveAll() {
    pairs_.clear();
    pairs_.shrink_to_fit();
    links_.clear();
    links_.shrink_to_fit();
    slots_.clear();
    slots_.shrink_to_fit();
    slotBits_ = 0;
    heads_ = makeEmptyHeads();
}

}  // namespace chatterly
