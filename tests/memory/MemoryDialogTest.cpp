// The memory dialog on the offscreen platform, driven through its buttons,
// list and fields as a user would, over a station memory and its file in a
// scratch directory. After the dialog closes the tests do what the station's
// Remote Parlio handler does: on OK rebuild the memory from EntryList and
// save it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "framework/streams/AnsiCodec.h"
#include "framework/widgets/DialogUnits.h"
#include "memory/CMemoryDlg.h"
#include "memory/MemoryIds.h"
#include "memory/StationMemory.h"
#include "support/TestSupport.h"

namespace chatterly {
namespace {

using test::MessageBoxRecorder;
using test::ScratchDirectory;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

class MemoryDialog : public ::testing::Test {
  protected:
    // The memory and its file as an earlier confirmed dialog left them.
    void seed(std::initializer_list<std::string> entries) {
        CStringArray list;
        for (const auto& e : entries) {
            list.Add(e);
        }
        memory.rebuildFromEntries(list);
        memory.SaveMemory();
        fileBefore = test::fileBytes("Parlio.mem");
    }

    void open() {
        dialog = std::make_unique<CMemoryDlg>(memory);
        EXPECT_TRUE(dialog->InitMemoryDialog());
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    QPushButton* button(int id) { return qobject_cast<QPushButton*>(dialog->Control(id)); }
    QLineEdit* field(int id) { return qobject_cast<QLineEdit*>(dialog->Control(id)); }
    QListWidget* list() { return qobject_cast<QListWidget*>(dialog->Control(IDC_MEMORY_LIST)); }

    void click(int id) { QTest::mouseClick(button(id), Qt::LeftButton); }
    // Text in UTF-8: keyed in when ASCII, else committed as an input method
    // does (the way a composed ü, Chinese or Japanese is typed).
    void type(int id, const char* utf8) {
        const QString text = QString::fromUtf8(utf8);
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
            QTest::keyClicks(field(id), text);
            return;
        }
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(field(id), &commit);
    }
    void clearField(int id) {
        QTest::keyClick(field(id), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field(id), Qt::Key_Backspace);
    }
    // Clicks the entry as a user would.
    void select(const std::string& entry) {
        const auto found = list()->findItems(AnsiCodec::toQString(entry), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << entry;
        list()->scrollToItem(found.first());
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list()->visualItemRect(found.first()).center());
        ASSERT_TRUE(found.first()->isSelected()) << entry;
    }

    // The list box's entries, which must be the editor's.
    Texts shown() {
        Texts out;
        for (int i = 0; i < list()->count(); ++i) {
            out.push_back(AnsiCodec::fromQString(list()->item(i)->text()));
        }
        EXPECT_EQ(out, dialog->Editor().entries());
        return out;
    }
    std::string text(int id) { return AnsiCodec::fromQString(field(id)->text()); }
    // The boxes' texts as shown, in UTF-8.
    Texts shownBoxes() {
        Texts out;
        for (const MessageBoxRecord& box : boxes.boxes()) {
            out.push_back(box.shown.toStdString());
        }
        return out;
    }

    void expectBrowsing() {
        for (int id : {IDC_MEMORY_ADDRESS, IDC_MEMORY_ALIAS}) {
            EXPECT_FALSE(dialog->Control(id)->isEnabled()) << id;
        }
        for (int id : {IDC_MEMORY_ADD, IDC_MEMORY_EDIT, IDC_MEMORY_REMOVE, IDC_MEMORY_LIST,
                       IDC_MEMORY_OK, IDC_MEMORY_CANCEL}) {
            EXPECT_TRUE(dialog->Control(id)->isEnabled()) << id;
        }
        EXPECT_FALSE(button(IDC_MEMORY_ADD)->isChecked());
        EXPECT_FALSE(button(IDC_MEMORY_EDIT)->isChecked());
        EXPECT_EQ(text(IDC_MEMORY_ADDRESS), "");
        EXPECT_EQ(text(IDC_MEMORY_ALIAS), "");
    }
    // Editing: the fields and the button that began the edit, nothing else.
    void expectEditing(int by, int focus = IDC_MEMORY_ADDRESS) {
        for (int id : {IDC_MEMORY_ADDRESS, IDC_MEMORY_ALIAS, by}) {
            EXPECT_TRUE(dialog->Control(id)->isEnabled()) << id;
        }
        for (int id : {IDC_MEMORY_ADD, IDC_MEMORY_EDIT, IDC_MEMORY_REMOVE, IDC_MEMORY_LIST,
                       IDC_MEMORY_OK, IDC_MEMORY_CANCEL}) {
            if (id != by) {
                EXPECT_FALSE(dialog->Control(id)->isEnabled()) << id;
            }
        }
        EXPECT_TRUE(button(by)->isChecked());
        EXPECT_EQ(dialog->focusWidget(), field(focus));
    }

    void add(const char* address, const char* alias) {
        click(IDC_MEMORY_ADD);
        expectEditing(IDC_MEMORY_ADD);
        type(IDC_MEMORY_ADDRESS, address);
        type(IDC_MEMORY_ALIAS, alias);
        click(IDC_MEMORY_ADD);
    }

    // What the station does once the dialog has closed: nothing unless OK;
    // then rebuild, and the texts refill its combo box, then save.
    std::optional<Texts> applyAsStation() {
        if (dialog->isVisible() || dialog->result() != QDialog::Accepted) {
            return std::nullopt;
        }
        Texts combo = memory.rebuildFromEntries(dialog->EntryList);
        memory.SaveMemory();
        return combo;
    }

    Texts addresses() { return Texts(memory.AddressList().begin(), memory.AddressList().end()); }

    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    StationMemory memory;
    Bytes fileBefore;
    std::unique_ptr<CMemoryDlg> dialog;
};

TEST_F(MemoryDialog, IsBuiltFromItsTemplate) {
    open();
    const DialogUnits du(dialog->font());
    const int edge = CMemoryDlg::kClientEdge;
    EXPECT_EQ(dialog->windowTitle(), "Remote Parlio Memory");
    EXPECT_EQ(dialog->size(), QSize(du.x(211) + 2 * edge, du.y(114) + 2 * edge));

    const struct {
        int id;
        const char* text;  // nullptr: not a button
        QRect units;
        bool pushLike;
    } controls[] = {
        {IDC_MEMORY_LIST, nullptr, {7, 7, 141, 46}, false},
        {IDC_MEMORY_REMOVE, "&Remove", {154, 39, 50, 14}, false},
        {IDC_MEMORY_ADDRESS, nullptr, {7, 57, 141, 14}, false},
        {IDC_MEMORY_ALIAS, nullptr, {7, 73, 141, 14}, false},
        {IDC_MEMORY_OK, "OK", {53, 93, 50, 14}, false},
        {IDC_MEMORY_CANCEL, "Cancel", {106, 93, 50, 14}, false},
        {IDC_MEMORY_ADD, "&Add", {154, 7, 50, 14}, true},
        {IDC_MEMORY_EDIT, "&Edit", {154, 23, 50, 14}, true},
    };
    std::vector<QWidget*> templateOrder;
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        QWidget* w = dialog->Control(c.id);
        ASSERT_NE(w, nullptr);
        templateOrder.push_back(w);
        const QRect& u = c.units;
        EXPECT_EQ(w->geometry(),
                  du.rect(u.x(), u.y(), u.width(), u.height()).translated(edge, edge));
        if (c.text) {
            ASSERT_NE(button(c.id), nullptr);
            EXPECT_EQ(button(c.id)->text(), c.text);
            EXPECT_EQ(button(c.id)->isCheckable(), c.pushLike);
            EXPECT_FALSE(button(c.id)->isDefault());
        }
    }
    EXPECT_NE(field(IDC_MEMORY_ADDRESS), nullptr);
    EXPECT_NE(field(IDC_MEMORY_ALIAS), nullptr);

    const std::pair<const char*, QRect> labels[] = {{"IP Address", {153, 61, 39, 10}},
                                                    {"Alias", {153, 77, 39, 10}}};
    for (const auto& [caption, u] : labels) {
        bool found = false;
        for (QLabel* l : dialog->findChildren<QLabel*>()) {
            if (l->text() == caption) {
                found = true;
                EXPECT_EQ(l->geometry(),
                          du.rect(u.x(), u.y(), u.width(), u.height()).translated(edge, edge));
            }
        }
        EXPECT_TRUE(found) << caption;
    }

    // The focus chain visits the controls in template order.
    std::vector<QWidget*> chain;
    QWidget* w = list();
    for (int steps = 0; steps < 200 && chain.size() < templateOrder.size(); ++steps) {
        if (std::find(templateOrder.begin(), templateOrder.end(), w) != templateOrder.end() &&
            std::find(chain.begin(), chain.end(), w) == chain.end()) {
            chain.push_back(w);
        }
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, templateOrder);
}

TEST_F(MemoryDialog, OpensWithTheMemorySortedAndTheFieldsDisabled) {
    seed({"10.0.0.7", "10.0.0.5 == desk"});
    open();
    EXPECT_EQ(shown(), (Texts{"10.0.0.5 == desk", "10.0.0.7"}));
    expectBrowsing();
    EXPECT_TRUE(list()->selectedItems().isEmpty());
    EXPECT_EQ(dialog->focusWidget(), list());
}

TEST_F(MemoryDialog, AddPutsTheNewEntryInItsSortedPlace) {
    seed({"10.0.0.7", "10.0.0.5 == desk"});
    open();
    add("10.0.0.6", "lab");
    EXPECT_EQ(shown(), (Texts{"10.0.0.5 == desk", "10.0.0.6 == lab", "10.0.0.7"}));
    add("Alpha", "");
    add("alpha2", "");
    EXPECT_EQ(shown(),
              (Texts{"10.0.0.5 == desk", "10.0.0.6 == lab", "10.0.0.7", "Alpha", "alpha2"}));
    expectBrowsing();
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MemoryDialog, AddAndEditRefuseWhatTheMemoryCannotTake) {
    const struct {
        const char* what;
        int by;  // Add, or Edit of "host == x" with the fields cleared first
        const char* address;
        const char* alias;
        const char* message;
        int mend;  // the field the edit goes on in (0: none, the edit ends)
    } cases[] = {
        {"address a prefix of a longer address", IDC_MEMORY_ADD, "10.0.0.1", "",
         "10.0.0.1 already exists in memory.", 0},
        {"address in another case", IDC_MEMORY_ADD, "HOST", "y", "HOST already exists in memory.",
         0},
        {"alias an entry's address begins with", IDC_MEMORY_ADD, "10.0.0.9", "10.0.0.1",
         "10.0.0.1 already exists in memory.", 0},
        // Stored as "??", two such aliases would become one.
        {"alias outside the encoding", IDC_MEMORY_ADD, "10.0.0.9", "日本",
         "The alias \"日本\" cannot be stored: the station memory cannot hold 日 本.",
         IDC_MEMORY_ALIAS},
        // Each character once; ö is in the encoding; the address comes first.
        {"address outside the encoding", IDC_MEMORY_EDIT, "höst😀日😀", "中国",
         "The address \"höst😀日😀\" cannot be stored: the station memory cannot hold 😀 日.",
         IDC_MEMORY_ADDRESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seed({"10.0.0.12", "host == x"});
        open();
        if (c.by == IDC_MEMORY_EDIT) {
            select("host == x");
        }
        click(c.by);
        if (c.by == IDC_MEMORY_EDIT) {
            clearField(IDC_MEMORY_ADDRESS);
            clearField(IDC_MEMORY_ALIAS);
        }
        type(IDC_MEMORY_ADDRESS, c.address);
        type(IDC_MEMORY_ALIAS, c.alias);
        click(c.by);
        EXPECT_EQ(shownBoxes(), Texts{c.message});
        if (c.mend) {
            expectEditing(c.by, c.mend);
            EXPECT_EQ(field(IDC_MEMORY_ADDRESS)->text(), QString::fromUtf8(c.address));
            EXPECT_EQ(field(IDC_MEMORY_ALIAS)->text(), QString::fromUtf8(c.alias));
            // Nothing added; an entry being edited stays out of the list.
            EXPECT_EQ(shown(), c.by == IDC_MEMORY_EDIT ? Texts{"10.0.0.12"}
                                                       : (Texts{"10.0.0.12", "host == x"}));
        } else {
            EXPECT_EQ(shown(), (Texts{"10.0.0.12", "host == x"}));
            expectBrowsing();  // the typed texts are gone too
        }
        boxes.clear();
    }
}

TEST_F(MemoryDialog, EmptyAddsAddNothingAndSayNothing) {
    open();
    add("", "");
    EXPECT_TRUE(shown().empty());
    expectBrowsing();
    // Also beside an entry: an empty text is a prefix of no entry.
    seed({"10.0.0.5 == desk"});
    open();
    add("", "");
    EXPECT_EQ(shown(), Texts{"10.0.0.5 == desk"});
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MemoryDialog, EditAndRemoveNeedASelection) {
    seed({"10.0.0.5 == desk"});
    open();
    click(IDC_MEMORY_EDIT);
    EXPECT_EQ(boxes.texts(), Texts{"You must select an item to edit."});
    expectBrowsing();  // Edit is released again
    boxes.clear();
    click(IDC_MEMORY_REMOVE);
    EXPECT_EQ(boxes.texts(), Texts{"You must select an item to remove."});
    EXPECT_EQ(shown(), Texts{"10.0.0.5 == desk"});

    boxes.clear();
    select("10.0.0.5 == desk");
    click(IDC_MEMORY_REMOVE);
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MemoryDialog, EditRoundTripsLeaveTheEntryUnchanged) {
    seed({"10.0.0.7", "10.0.0.5 == desk"});
    open();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        select("10.0.0.5 == desk");
        click(IDC_MEMORY_EDIT);
        expectEditing(IDC_MEMORY_EDIT);
        EXPECT_EQ(text(IDC_MEMORY_ADDRESS), "10.0.0.5");
        EXPECT_EQ(text(IDC_MEMORY_ALIAS), "desk");
        EXPECT_EQ(shown(), Texts{"10.0.0.7"});  // out of the list at once
        click(IDC_MEMORY_EDIT);
        expectBrowsing();
        EXPECT_EQ(shown(), (Texts{"10.0.0.5 == desk", "10.0.0.7"}));
    }
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MemoryDialog, EditWithClearedFieldsAddsAnEmptyEntry) {
    seed({"10.0.0.7"});
    open();
    select("10.0.0.7");
    click(IDC_MEMORY_EDIT);
    EXPECT_EQ(text(IDC_MEMORY_ADDRESS), "10.0.0.7");
    EXPECT_EQ(text(IDC_MEMORY_ALIAS), "");
    clearField(IDC_MEMORY_ADDRESS);
    click(IDC_MEMORY_EDIT);
    EXPECT_EQ(shown(), Texts{""});
    click(IDC_MEMORY_OK);
    const auto combo = applyAsStation();
    ASSERT_TRUE(combo);
    EXPECT_EQ(*combo, Texts{""});
    EXPECT_EQ(addresses(), Texts{""});
}

TEST_F(MemoryDialog, WhileEditingTheDialogCannotBeLeft) {
    seed({"10.0.0.5 == desk"});
    open();
    click(IDC_MEMORY_ADD);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    QTest::keyClick(field(IDC_MEMORY_ADDRESS), Qt::Key_Return);
    click(IDC_MEMORY_OK);  // disabled
    EXPECT_TRUE(dialog->isVisible());
    expectEditing(IDC_MEMORY_ADD);

    click(IDC_MEMORY_ADD);
    expectBrowsing();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(MemoryDialog, CancelLeavesMemoryAndFileUntouched) {
    seed({"10.0.0.7", "10.0.0.5 == desk", "10.0.0.2 == hall"});
    open();
    add("10.0.0.9", "new");
    select("10.0.0.7");
    click(IDC_MEMORY_REMOVE);
    select("10.0.0.5 == desk");
    click(IDC_MEMORY_EDIT);  // out of the list and back
    click(IDC_MEMORY_EDIT);
    select("10.0.0.2 == hall");
    click(IDC_MEMORY_EDIT);  // changed to have no alias
    clearField(IDC_MEMORY_ALIAS);
    click(IDC_MEMORY_EDIT);
    EXPECT_EQ(shown(), (Texts{"10.0.0.2", "10.0.0.5 == desk", "10.0.0.9 == new"}));
    click(IDC_MEMORY_CANCEL);

    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(applyAsStation());
    EXPECT_EQ(addresses(), (Texts{"10.0.0.7", "10.0.0.5", "10.0.0.2"}));
    EXPECT_EQ(memory.resolveRemote("hall"), "10.0.0.2");
    EXPECT_EQ(test::fileBytes("Parlio.mem"), fileBefore);
}

TEST_F(MemoryDialog, OkOnAnEmptyListWritesTheEmptyMemory) {
    seed({"10.0.0.5 == desk", "10.0.0.2 == hall"});
    open();
    select("10.0.0.5 == desk");
    click(IDC_MEMORY_REMOVE);
    select("10.0.0.2 == hall");
    click(IDC_MEMORY_REMOVE);
    click(IDC_MEMORY_OK);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->EntryList.GetSize(), 0u);
    const auto combo = applyAsStation();
    ASSERT_TRUE(combo);
    EXPECT_TRUE(combo->empty());
    EXPECT_EQ(memory.AddressList().GetSize(), 0u);
    EXPECT_EQ(memory.AliasByAddress().GetCount(), 0u);
    EXPECT_EQ(test::fileBytes("Parlio.mem"), Bytes(6, 0));
}

TEST_F(MemoryDialog, OkAppliesEveryEntryTrimmingOnlyAliasedAddresses) {
    open();
    add("10.0.0.9", "");
    add("10.0.0.2", "hall");
    add("10.0.0.3 ", "x");     // trimmed: the entry has an alias
    add("10.0.0.4 ", "");      // kept as typed
    add("10.0.0.5", "Küche");  // in the encoding: \374 (0xFC) for ü
    click(IDC_MEMORY_OK);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(boxes.count(), 0u);
    const auto combo = applyAsStation();
    ASSERT_TRUE(combo);
    // One item per entry, its alias or its address, in list order.
    EXPECT_EQ(*combo, (Texts{"hall", "x", "10.0.0.4 ", "K\374che", "10.0.0.9"}));
    EXPECT_EQ(addresses(), (Texts{"10.0.0.2", "10.0.0.3", "10.0.0.4 ", "10.0.0.5", "10.0.0.9"}));
    EXPECT_EQ(memory.resolveRemote("x"), "10.0.0.3");
    EXPECT_EQ(memory.resolveRemote("K\374che"), "10.0.0.5");
    EXPECT_EQ(memory.callerName("10.0.0.9"), "10.0.0.9");

    // A later start loads the same memory from the file.
    StationMemory restarted;
    EXPECT_EQ(restarted.LoadMemory(), combo);
}

TEST_F(MemoryDialog, TwoEntriesWithOneAliasMapItToTheLaterAddress) {
    seed({"10.0.0.1 == a", "10.0.0.2 == b"});
    open();
    select("10.0.0.2 == b");
    click(IDC_MEMORY_EDIT);
    clearField(IDC_MEMORY_ALIAS);
    type(IDC_MEMORY_ALIAS, "a");
    click(IDC_MEMORY_EDIT);  // Edit does not test for a clash
    EXPECT_EQ(shown(), (Texts{"10.0.0.1 == a", "10.0.0.2 == a"}));
    click(IDC_MEMORY_OK);
    ASSERT_TRUE(applyAsStation());
    EXPECT_EQ(memory.resolveRemote("a"), "10.0.0.2");
    EXPECT_EQ(memory.callerName("10.0.0.1"), "a");
    EXPECT_EQ(memory.callerName("10.0.0.2"), "a");
}

TEST_F(MemoryDialog, RunsModallyUntilOk) {
    seed({"10.0.0.5 == desk"});
    dialog = std::make_unique<CMemoryDlg>(memory);
    bool drove = false;
    QTimer::singleShot(0, dialog.get(), [&] {
        add("10.0.0.8", "den");
        select("10.0.0.5 == desk");
        click(IDC_MEMORY_REMOVE);
        drove = true;
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Return);  // Enter outside a push button is OK
    });
    // Should the driving fail, the run still ends.
    QTimer::singleShot(60000, dialog.get(), [&] { dialog->done(QDialog::Rejected); });
    EXPECT_EQ(dialog->RunModal(), QDialog::Accepted);
    EXPECT_TRUE(drove);
    const auto combo = applyAsStation();
    ASSERT_TRUE(combo);
    EXPECT_EQ(*combo, Texts{"den"});
    EXPECT_EQ(memory.resolveRemote("desk"), "desk");
}

}  // namespace
}  // namespace chatterly
