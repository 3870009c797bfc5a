// The memory dialog's entry texts and list: fuzzed texts are taken apart by
// the Edit and apply rules, typed into Add and Edit, inserted, searched and
// removed, and each step is held to what MemoryEntry and MemoryEditor promise.
//
// Input: a sequence of steps for FuzzedDataProvider, each a step number and
// its texts (ConsumeRandomLengthString: a text ends at a backslash followed by
// any character but another backslash).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "framework/streams/TextOrder.h"
#include "memory/MemoryEditor.h"
#include "memory/MemoryEntry.h"

namespace chatterly::fuzz {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr size_t kLongestText = 64;

int sign(int n) {
    return (n > 0) - (n < 0);
}

bool sameParts(const MemoryEntry::Parts& a, const MemoryEntry::Parts& b) {
    return a.address == b.address && a.alias == b.alias;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

void checkText(std::string_view text) {
    const std::string trimmed = MemoryEntry::trimRight(text);
    require(text.substr(0, trimmed.size()) == trimmed, "trimRight keeps the text's start");
    require(text.substr(trimmed.size()).find_first_not_of(kWhiteSpace) == std::string_view::npos,
            "trimRight removes only white space");
    require(trimmed.empty() || kWhiteSpace.find(trimmed.back()) == std::string_view::npos,
            "trimRight leaves no trailing white space");

    const MemoryEntry::Parts edit = MemoryEntry::forEdit(text);
    const MemoryEntry::Parts apply = MemoryEntry::forApply(text);
    const bool joined = text.find("==") != std::string_view::npos;
    require(edit.alias.has_value() == joined && apply.alias.has_value() == joined,
            "an entry has an alias exactly when it holds ==");
    require(edit.address == apply.address, "Edit and apply take the same address");
    if (!joined) {
        require(edit.address == text, "an entry without == is all address");
        return;
    }
    require(endsWith(text, *edit.alias) && endsWith(text, *apply.alias),
            "an alias is the end of its entry");

    // Edit with the fields left as they are: the dialog makes the entry anew
    // from the parts, and both rules take it apart into the same parts.
    const std::string remade = MemoryEntry::fromFields(edit.address, *edit.alias);
    for (const MemoryEntry::Parts& again :
         {MemoryEntry::forEdit(remade), MemoryEntry::forApply(remade)}) {
        require(again.address == edit.address && again.alias.value_or("") == *edit.alias,
                "an entry made from an entry's parts gives those parts back");
    }
}

// An entry the dialog makes from typed fields (Add, Edit) or from the memory
// (opening it): the Edit and apply rules agree on it unless its address holds
// an '='.
void checkDialogEntry(const std::string& address, const std::string& alias) {
    for (const std::string& entry :
         {MemoryEntry::fromFields(address, alias), MemoryEntry::fromMemory(address, alias)}) {
        checkText(entry);
        require(address.find('=') != std::string::npos ||
                    sameParts(MemoryEntry::forEdit(entry), MemoryEntry::forApply(entry)),
                "Edit and apply agree on an entry whose address holds no '='");
    }
}

void checkOrder(std::string_view a, std::string_view b) {
    const int ab = TextOrder::compare(a, b);
    require(sign(ab) == -sign(TextOrder::compare(b, a)), "compare is antisymmetric");
    if (b.size() > a.size() && TextOrder::beginsWith(b, a)) {
        require(ab < 0, "a text sorts before any longer text it begins");
    }
}

void checkSorted(const MemoryEditor& editor) {
    const auto& entries = editor.entries();
    for (size_t i = 1; i < entries.size(); ++i) {
        require(TextOrder::compare(entries[i - 1], entries[i]) <= 0, "the entries are sorted");
    }
}

void checkInserted(const MemoryEditor& editor, size_t index, const std::string& entry,
                   size_t countBefore) {
    const auto& entries = editor.entries();
    require(editor.count() == countBefore + 1 && index < entries.size() && entries[index] == entry,
            "the entry is inserted where the index says");
    require(index + 1 == entries.size() || TextOrder::compare(entry, entries[index + 1]) < 0,
            "an entry goes after the entries equal to it");
    checkSorted(editor);
}

void checkFind(const MemoryEditor& editor, const std::string& text) {
    const std::optional<size_t> found = editor.findPrefix(text);
    const auto& entries = editor.entries();
    const size_t end = found.value_or(entries.size());
    require(end <= entries.size(), "a found index is in the list");
    for (size_t i = 0; i < end; ++i) {
        checkOrder(text, entries[i]);
        require(text.empty() || !TextOrder::beginsWith(entries[i], text),
                "the first entry that begins with the text is found");
    }
    if (found) {
        require(!text.empty() && TextOrder::beginsWith(entries[*found], text),
                "a found entry begins with the text");
    }
}

void checkAdd(MemoryEditor& editor, const std::string& address, const std::string& alias) {
    static constexpr const char* kExists = " already exists in memory.";
    const size_t before = editor.count();
    const bool addressTaken = editor.findPrefix(address).has_value();
    const bool aliasTaken = !alias.empty() && editor.findPrefix(alias).has_value();
    const std::string entry = MemoryEntry::fromFields(address, alias);
    const MemoryEditor::AddOutcome outcome = editor.finishAdd(address, alias);
    if (addressTaken || aliasTaken) {
        require(!outcome.inserted && editor.count() == before, "a refused Add adds nothing");
        require(outcome.refusal == (addressTaken ? address : alias) + kExists,
                "a refusal names the text an entry begins with");
        return;
    }
    require(!outcome.refusal, "an Add is refused only for a text an entry begins with");
    if (entry.empty()) {
        require(!outcome.inserted && editor.count() == before, "an empty entry is not added");
        return;
    }
    require(outcome.inserted.has_value(), "an Add that is not refused adds its entry");
    checkInserted(editor, *outcome.inserted, entry, before);
}

void checkEdit(MemoryEditor& editor, FuzzedDataProvider& in) {
    if (editor.count() == 0) {
        return;
    }
    const size_t index = in.ConsumeIntegralInRange<size_t>(0, editor.count() - 1);
    const std::string entry = editor.entries()[index];
    const size_t before = editor.count();
    const MemoryEntry::Parts parts = editor.beginEdit(index);
    require(sameParts(parts, MemoryEntry::forEdit(entry)), "Edit takes the entry apart");
    require(editor.count() == before - 1, "Edit takes the entry out of the list");
    std::string address = parts.address;
    std::string alias = parts.alias.value_or("");
    if (in.ConsumeBool()) {
        address = in.ConsumeRandomLengthString(kLongestText);
        alias = in.ConsumeRandomLengthString(kLongestText);
        checkDialogEntry(address, alias);
    }
    const std::string made = MemoryEntry::fromFields(address, alias);
    checkInserted(editor, editor.finishEdit(address, alias), made, before - 1);
}

}  // namespace
}  // namespace chatterly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace chatterly;
    using namespace chatterly::fuzz;
    FuzzedDataProvider in(data, size);
    MemoryEditor editor;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: {  // an entry text, into the list
                const std::string text = in.ConsumeRandomLengthString(kLongestText);
                checkText(text);
                const size_t before = editor.count();
                checkInserted(editor, editor.insert(text), text, before);
                break;
            }
            case 1: {  // an Add with typed fields
                const std::string address = in.ConsumeRandomLengthString(kLongestText);
                const std::string alias = in.ConsumeRandomLengthString(kLongestText);
                checkDialogEntry(address, alias);
                checkAdd(editor, address, alias);
                break;
            }
            case 2:
                checkEdit(editor, in);
                break;
            case 3:
                checkFind(editor, in.ConsumeRandomLengthString(kLongestText));
                break;
            case 4:
                if (editor.count() > 0) {
                    editor.removeAt(in.ConsumeIntegralInRange<size_t>(0, editor.count() - 1));
                    checkSorted(editor);
                }
                break;
        }
    }
    return 0;
}
