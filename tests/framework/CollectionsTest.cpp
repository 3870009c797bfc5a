// The string map's order, which decides the bytes of the memory file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <list>

#include "framework/streams/CMapStringToString.h"
#include "framework/streams/CStringArray.h"

using namespace chatterly;

namespace {

std::vector<std::string> keysInOrder(const CMapStringToString& map) {
    std::vector<std::string> keys;
    map.ForEach([&](const std::string& k, const std::string&) { keys.push_back(k); });
    return keys;
}

}  // namespace

TEST(CMapStringToString, KeysFallIntoTheirChains) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"", 0}, {"a", 12}, {"desk", 10}, {"hall", 10}, {"10.0.0.5", 2}, {"10.0.0.2", 16},
    };
    for (const auto& [key, chain] : cases) {
        EXPECT_EQ(CMapStringToString::ChainOf(key), chain) << key;
    }
    EXPECT_EQ(CMapStringToString::HashKey("a"), 97u);
    // Bytes from 0x80 up count as negative: 0xFF adds -1, wrapping.
    EXPECT_EQ(CMapStringToString::HashKey("\xff"), 0xFFFFFFFFu);
    // Keys of every length against the hash taken a byte at a time.
    std::string key;
    for (int length = 0; length < 40; ++length) {
        uint32_t h = 0;
        for (const char c : key) {
            h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
        }
        EXPECT_EQ(CMapStringToString::HashKey(key), h) << length;
        key.push_back(static_cast<char>(length * 37 + 0x70));
    }
}

TEST(CMapStringToString, IteratesByChainWithTheNewestKeyFirst) {
    CMapStringToString map;
    map.SetAt("10.0.0.2", "hall");
    map.SetAt("10.0.0.5", "desk");
    EXPECT_EQ(keysInOrder(map), (std::vector<std::string>{"10.0.0.5", "10.0.0.2"}));

    CMapStringToString byAlias;
    byAlias.SetAt("hall", "10.0.0.2");
    byAlias.SetAt("desk", "10.0.0.5");  // same chain, inserted later: first
    EXPECT_EQ(keysInOrder(byAlias), (std::vector<std::string>{"desk", "hall"}));

    byAlias.SetAt("hall", "10.0.0.9");  // assignment keeps the place
    EXPECT_EQ(keysInOrder(byAlias), (std::vector<std::string>{"desk", "hall"}));
    EXPECT_EQ(byAlias.Lookup("hall"), "10.0.0.9");
    EXPECT_EQ(byAlias.GetCount(), 2u);
}

TEST(CMapStringToString, LookupsAreExactAndRemoveAllStartsAfresh) {
    CMapStringToString map;
    map.SetAt("desk", "10.0.0.5");
    EXPECT_FALSE(map.Lookup("Desk"));
    EXPECT_FALSE(map.Lookup("des"));
    map.SetAt("", "empty");
    EXPECT_EQ(map.Lookup(""), "empty");
    map.RemoveAll();
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_FALSE(map.Lookup("desk"));
    EXPECT_TRUE(keysInOrder(map).empty());
    map.SetAt("x", "y");
    EXPECT_EQ(map.GetCount(), 1u);
}

TEST(CStringArray, KeepsOrderAndDuplicatesAndResizesWithEmptyStrings) {
    CStringArray a;
    a.Add("10.0.0.5");
    a.Add("10.0.0.5");
    a.SetSize(3);
    EXPECT_EQ(a.GetSize(), 3u);
    EXPECT_EQ(a[1], "10.0.0.5");
    EXPECT_EQ(a[2], "");
    a.RemoveAll();
    EXPECT_EQ(a.GetSize(), 0u);
}

TEST(CMapStringToString, ACopyKeepsTheOrderAndIsIndependentOfTheOriginal) {
    CMapStringToString original;
    for (const char* key : {"desk", "hall", "10.0.0.5", "a", ""}) {
        original.SetAt(key, std::string(key) + "!");
    }
    CMapStringToString copy = original;
    original.RemoveAll();
    original.SetAt("a", "a!");
    original.SetAt("desk", "changed");
    std::vector<std::string> inOriginal;
    std::vector<std::string> inCopy;
    original.ForEach([&](const std::string& k, const std::string&) { inOriginal.push_back(k); });
    copy.ForEach([&](const std::string& k, const std::string&) { inCopy.push_back(k); });
    EXPECT_EQ(inCopy.size(), 5u);
    EXPECT_EQ(copy.Lookup("desk"), std::optional<std::string>("desk!"));
    EXPECT_EQ(copy.Lookup("hall"), std::optional<std::string>("hall!"));
    copy = original;
    EXPECT_EQ(copy.Lookup("desk"), std::optional<std::string>("changed"));
    EXPECT_FALSE(copy.Lookup("hall"));
    std::vector<std::string> again;
    copy.ForEach([&](const std::string& k, const std::string&) { again.push_back(k); });
    EXPECT_EQ(again, inOriginal);
}

// Many insertions and assignments against a plain model of the 17 chains:
// the order and every lookup must agree after each step, whatever the index
// does to make room.
TEST(CMapStringToString, AgreesWithAModelOfTheChainsThroughManyChanges) {
    std::array<std::list<std::pair<std::string, std::string>>, CMapStringToString::kChains> model;
    const auto modelOrder = [&] {
        std::vector<std::string> keys;
        for (const auto& chain : model) {
            for (const auto& pair : chain) {
                keys.push_back(pair.first);
            }
        }
        return keys;
    };
    CMapStringToString map;
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int step = 0; step < 6000; ++step) {
        const std::string key = "10.0." + std::to_string((next() >> 8) % 300);
        auto& chain = model[CMapStringToString::ChainOf(key)];
        const auto found = std::find_if(chain.begin(), chain.end(),
                                        [&](const auto& pair) { return pair.first == key; });
        const std::string value = std::to_string(step);
        map.SetAt(key, value);
        if (found != chain.end()) {
            found->second = value;
        } else {
            chain.emplace_front(key, value);
        }
        if (step % 500 == 0 || step == 5999) {
            ASSERT_EQ(keysInOrder(map), modelOrder()) << step;
            for (const auto& c : model) {
                for (const auto& [k, v] : c) {
                    ASSERT_EQ(map.Lookup(k), v) << step;
                }
            }
        }
    }
}
