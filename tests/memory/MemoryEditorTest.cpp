// The memory dialog's list logic without its window: sorting and prefix
// search without regard to case, and how an entry's text is taken apart (what
// the end of an Add or an Edit does is tested through the dialog).
#include <gtest/gtest.h>

#include "memory/MemoryEditor.h"
#include "memory/StationMemory.h"

namespace chatterly {
namespace {

MemoryEditor editorWith(std::initializer_list<std::string> entries) {
    MemoryEditor editor;
    for (const auto& e : entries) {
        editor.insert(e);
    }
    return editor;
}

TEST(MemoryEditor, SortsWithoutRegardToCaseEqualEntriesInOrderOfAdding) {
    const MemoryEditor editor = editorWith({"b", "A", "hall", "10.0.0.12", "a", "B", "10.0.0.1",
                                            "\xC9t\xE9", "\xE9t\xE9", "Hall == x", ""});
    EXPECT_EQ(editor.entries(),
              (std::vector<std::string>{"", "10.0.0.1", "10.0.0.12", "A", "a", "b", "B", "hall",
                                        "Hall == x", "\xC9t\xE9", "\xE9t\xE9"}));
}

TEST(MemoryEditor, FillJoinsEveryAliasTheMemoryHolds) {
    StationMemory memory;
    CStringArray entries;
    for (const char* e : {"10.0.0.7", "10.0.0.5 == desk", "10.0.0.6 =="}) {
        entries.Add(e);
    }
    memory.rebuildFromEntries(entries);
    MemoryEditor editor;
    editor.insert("dropped by Fill");
    editor.fill(memory);
    // An alias is joined even when empty.
    EXPECT_EQ(editor.entries(),
              (std::vector<std::string>{"10.0.0.5 == desk", "10.0.0.6 == ", "10.0.0.7"}));
}

TEST(MemoryEditor, PrefixSearchIgnoresCaseAndAnEmptyTextMatchesNothing) {
    const MemoryEditor editor = editorWith({"10.0.0.12", "host == x", "\xC9l\xE9ment"});
    const struct {
        const char* text;
        std::optional<size_t> found;
    } cases[] = {
        {"10.0.0.1", 0}, {"10.0.0.12", 0},     {"10.0.0.123", std::nullopt},
        {"HOST", 1},     {"host == X", 1},     {"x", std::nullopt},
        {"\xE9l", 2},    {"\xC9L\xC9MENT", 2}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(editor.findPrefix(c.text), c.found) << c.text;
    }
}

TEST(MemoryEntry, EditAndApplySplitByTheirOwnRules) {
    const struct {
        const char* text;
        std::string editAddress;
        std::optional<std::string> editAlias;
        std::string applyAddress;
        std::optional<std::string> applyAlias;
    } cases[] = {
        {"10.0.0.5 == desk", "10.0.0.5", "desk", "10.0.0.5", "desk"},
        {"10.0.0.5", "10.0.0.5", std::nullopt, "10.0.0.5", std::nullopt},
        {"10.0.0.5 ", "10.0.0.5 ", std::nullopt, "10.0.0.5 ", std::nullopt},
        {"10.0.0.5 \t== desk", "10.0.0.5", "desk", "10.0.0.5", "desk"},
        {"x ==", "x", "", "x", ""},
        {"x==y", "x", "", "x", ""},
        {"x==yz", "x", "z", "x", "z"},
        // Edit starts the alias after the first '=', apply after the first "==".
        {"a=b == c", "a", "== c", "a", "c"},
        // An address "=" with an empty alias, joined as the dialog opens.
        {"= == ", "", "= ", "", ""},
        {"a=b", "a=b", std::nullopt, "a=b", std::nullopt},
        {" == ", "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto edit = MemoryEntry::forEdit(c.text);
        EXPECT_EQ(edit.address, c.editAddress);
        EXPECT_EQ(edit.alias, c.editAlias);
        const auto apply = MemoryEntry::forApply(c.text);
        EXPECT_EQ(apply.address, c.applyAddress);
        EXPECT_EQ(apply.alias, c.applyAlias);
    }
}

}  // namespace
}  // namespace chatterly
