// The memory dialog on the offscreen platform, driven through its buttons,
// list and fields as a user would, over a station memory and its file in a
// scratch directory: on its own for what it shows and refuses, and opened
// from the station window's Remote Parlio button for what its end does to
// the station.
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
#include <optional>

#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/ControlIds.h"
#include "framework/streams/AnsiCodec.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/widgets/SortedComboBox.h"
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

Texts sorted(Texts texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

class MemoryDialog : public ::testing::Test {
  protected:
    void TearDown() override {
        station.reset();
        EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    }

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

    // The dialog on its own, over the memory.
    void open() {
        own = std::make_unique<CMemoryDlg>(memory);
        dialog = own.get();
        EXPECT_TRUE(dialog->InitMemoryDialog());
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    }
    // A station over "Parlio.mem" (it needs no recorder).
    void startStation() {
        station.reset();
        StationOptions options;
        options.listenPort = 0;
        options.recorder.server = "unix:/nonexistent/chatterly-no-server";
        station = std::make_unique<Station>(options);
        station->InitStationWindow();
        station->window().show();
        boxes.clear();
    }
    // The dialog as the user opens it: a station starts, and its Remote
    // Parlio button runs the dialog modally while body works it; the click
    // returns once the station has done what the dialog's end asks of it.
    void fromStation(const std::function<void()>& body) {
        startStation();
        bool ran = false;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            auto* shown = station->window().findChild<CMemoryDlg*>();
            if (ran || !shown || !shown->isVisible()) {
                return;
            }
            ran = true;
            dialog = shown;
            body();
            if (dialog->isVisible()) {
                dialog->done(QDialog::Rejected);  // the body failed: the run still ends
            }
        });
        look.start(10);
        QTest::mouseClick(qobject_cast<QPushButton*>(station->window().Control(IDC_REMOTE_STATION)),
                          Qt::LeftButton);
        dialog = nullptr;
        EXPECT_TRUE(ran);
    }
    // The station's remote box, which the dialog's OK fills.
    Texts remoteBox() {
        Texts out;
        for (const QString& item :
             qobject_cast<SortedComboBox*>(station->window().Control(IDC_REMOTE))->items()) {
            out.push_back(AnsiCodec::fromQString(item));
        }
        return out;
    }
    Texts addresses(const StationMemory& m) {
        return Texts(m.AddressList().begin(), m.AddressList().end());
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
    // Clicks the (first) entry as a user would.
    void select(const std::string& entry) {
        const auto found = list()->findItems(AnsiCodec::toQString(entry), Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << entry;
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

    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    StationMemory memory;
    Bytes fileBefore;
    std::unique_ptr<Station> station;
    std::unique_ptr<CMemoryDlg> own;
    CMemoryDlg* dialog = nullptr;
};

// What the layout gives the user: the window's title, the buttons' captions
// (Add and Edit stay down while an edit runs; none is the default), each
// field named by the label beside it, the controls side by side without
// overlapping, inside the window, and taking the focus in the template's
// order.
TEST_F(MemoryDialog, ShowsItsControlsApartWithEachFieldLabelledAndTakesTheFocusInOrder) {
    open();
    EXPECT_EQ(dialog->windowTitle(), "Remote Parlio Memory");
    const struct {
        int id;
        const char* caption;  // nullptr: not a button
        bool pushLike;
    } controls[] = {
        {IDC_MEMORY_LIST, nullptr, false},    {IDC_MEMORY_REMOVE, "&Remove", false},
        {IDC_MEMORY_ADDRESS, nullptr, false}, {IDC_MEMORY_ALIAS, nullptr, false},
        {IDC_MEMORY_OK, "OK", false},         {IDC_MEMORY_CANCEL, "Cancel", false},
        {IDC_MEMORY_ADD, "&Add", true},       {IDC_MEMORY_EDIT, "&Edit", true},
    };
    std::vector<QWidget*> tabOrder;
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(dialog->Control(c.id), nullptr);
        tabOrder.push_back(dialog->Control(c.id));
        if (c.caption) {
            ASSERT_NE(button(c.id), nullptr);
            EXPECT_EQ(button(c.id)->text(), c.caption);
            EXPECT_EQ(button(c.id)->isCheckable(), c.pushLike);
            EXPECT_FALSE(button(c.id)->isDefault());
        }
    }
    for (const auto& [caption, id] :
         {std::pair{"IP Address", IDC_MEMORY_ADDRESS}, std::pair{"Alias", IDC_MEMORY_ALIAS}}) {
        SCOPED_TRACE(caption);
        const auto labels = dialog->findChildren<QLabel*>();
        const auto label = std::find_if(labels.begin(), labels.end(),
                                        [&](QLabel* l) { return l->text() == caption; });
        ASSERT_NE(label, labels.end());
        EXPECT_EQ((*label)->buddy(), field(id));
        // Beside its field: to its right, level with it.
        const QRect at = (*label)->geometry();
        const QRect of = field(id)->geometry();
        EXPECT_GE(at.left(), of.right());
        EXPECT_TRUE(at.center().y() >= of.top() && at.center().y() <= of.bottom());
    }
    const auto shown = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(shown.size(), 10);  // the eight controls and the two labels
    for (QWidget* w : shown) {
        EXPECT_TRUE(dialog->rect().contains(w->geometry())) << w->metaObject()->className();
        for (QWidget* other : shown) {
            EXPECT_TRUE(w == other || !w->geometry().intersects(other->geometry()))
                << w->metaObject()->className() << " over " << other->metaObject()->className();
        }
    }

    std::vector<QWidget*> chain{list()};
    for (QWidget* w = list()->nextInFocusChain(); w != list(); w = w->nextInFocusChain()) {
        if (std::count(tabOrder.begin(), tabOrder.end(), w) > 0) {
            chain.push_back(w);
        }
    }
    EXPECT_EQ(chain, tabOrder);
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

// The end of an Add refuses a text that begins an entry (without regard to
// case; an empty text begins none), and the end of an Add or an Edit refuses
// what the station memory's encoding cannot hold, keeping the edit open in
// that field; everything else goes into the list.
TEST_F(MemoryDialog, AddAndEditRefuseWhatTheMemoryCannotTake) {
    const struct {
        const char* what;
        int by;  // Add, or Edit of "host == x" with the fields cleared first
        const char* address;
        const char* alias;
        const char* message;  // nullptr: none
        int mend;             // the field the edit goes on in (0: none, the edit ends)
        const char* added;    // the entry added (nullptr: none)
    } cases[] = {
        {"address a prefix of a longer address", IDC_MEMORY_ADD, "10.0.0.1", "",
         "10.0.0.1 already exists in memory.", 0, nullptr},
        {"address in another case", IDC_MEMORY_ADD, "HOST", "y", "HOST already exists in memory.",
         0, nullptr},
        {"address refused before the alias", IDC_MEMORY_ADD, "10.0.0.12", "zz",
         "10.0.0.12 already exists in memory.", 0, nullptr},
        {"alias an entry's address begins with", IDC_MEMORY_ADD, "10.0.0.9", "10.0.0.1",
         "10.0.0.1 already exists in memory.", 0, nullptr},
        {"alias a shorter beginning of an address", IDC_MEMORY_ADD, "10.0.0.9", "10.0",
         "10.0 already exists in memory.", 0, nullptr},
        // desk is another entry's alias, but no entry begins with it.
        {"alias used by another entry", IDC_MEMORY_ADD, "10.0.0.9", "desk", nullptr, 0,
         "10.0.0.9 == desk"},
        {"new address without alias", IDC_MEMORY_ADD, "10.0.0.3", "", nullptr, 0, "10.0.0.3"},
        {"blank kept as typed", IDC_MEMORY_ADD, "10.0.0.4 ", "", nullptr, 0, "10.0.0.4 "},
        {"both empty: nothing, quietly", IDC_MEMORY_ADD, "", "", nullptr, 0, nullptr},
        {"empty address with alias", IDC_MEMORY_ADD, "", "zed", nullptr, 0, " == zed"},
        // Stored as "??", two such aliases would become one.
        {"alias outside the encoding", IDC_MEMORY_ADD, "10.0.0.9", "日本",
         "The alias \"日本\" cannot be stored: the station memory cannot hold 日 本.",
         IDC_MEMORY_ALIAS, nullptr},
        // Each character once; ö is in the encoding; the address comes first.
        {"address outside the encoding", IDC_MEMORY_EDIT, "höst😀日😀", "中国",
         "The address \"höst😀日😀\" cannot be stored: the station memory cannot hold 😀 日.",
         IDC_MEMORY_ADDRESS, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seed({"10.0.0.12", "host == x", "10.0.0.5 == desk"});
        open();
        Texts before = shown();
        if (c.by == IDC_MEMORY_EDIT) {
            select("host == x");
        }
        click(c.by);
        if (c.by == IDC_MEMORY_EDIT) {
            clearField(IDC_MEMORY_ADDRESS);
            clearField(IDC_MEMORY_ALIAS);
            // An entry being edited stays out of the list.
            before.erase(std::find(before.begin(), before.end(), "host == x"));
        }
        type(IDC_MEMORY_ADDRESS, c.address);
        type(IDC_MEMORY_ALIAS, c.alias);
        click(c.by);
        EXPECT_EQ(shownBoxes(), c.message ? Texts{c.message} : Texts{});
        if (c.mend) {
            expectEditing(c.by, c.mend);
            EXPECT_EQ(field(IDC_MEMORY_ADDRESS)->text(), QString::fromUtf8(c.address));
            EXPECT_EQ(field(IDC_MEMORY_ALIAS)->text(), QString::fromUtf8(c.alias));
        } else {
            expectBrowsing();  // the typed texts are gone too
        }
        if (c.added) {
            before.push_back(c.added);
        }
        EXPECT_EQ(sorted(shown()), sorted(before));
        boxes.clear();
    }
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

// One edit after another, opened from the station and confirmed: an entry
// comes out of the list into the fields at once and goes back as the fields
// then hold it; Edit tests nothing, so a duplicate goes in, and cleared
// fields make an empty entry, which the station keeps as an empty station.
TEST_F(MemoryDialog, EditRoundTripsLeaveTheEntryUnchangedAndTakeWhatTheFieldsHold) {
    const struct {
        const char* what;
        const char* entry;    // the entry edited
        const char* address;  // the fields as the edit opens them
        const char* alias;
        std::optional<std::pair<const char*, const char*>> typed;  // cleared and given this
        int rounds;
        Texts after;
    } cases[] = {
        {"with an alias",
         "10.0.0.5 == desk",
         "10.0.0.5",
         "desk",
         std::nullopt,
         3,
         {"10.0.0.5 == desk", "10.0.0.7"}},
        {"without an alias, the alias field empty",
         "10.0.0.7",
         "10.0.0.7",
         "",
         std::nullopt,
         1,
         {"10.0.0.5 == desk", "10.0.0.7"}},
        {"a duplicate",
         "10.0.0.7",
         "10.0.0.7",
         "",
         std::pair{"10.0.0.5", "desk"},
         1,
         {"10.0.0.5 == desk", "10.0.0.5 == desk"}},
        {"cleared fields",
         "10.0.0.5 == desk",
         "10.0.0.5",
         "desk",
         std::pair{"", ""},
         1,
         {"", "10.0.0.5 == desk"}},
    };
    seed({"10.0.0.7", "10.0.0.5 == desk"});
    fromStation([&] {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            for (int round = 0; round < c.rounds; ++round) {
                Texts rest = shown();
                rest.erase(std::find(rest.begin(), rest.end(), c.entry));
                select(c.entry);
                click(IDC_MEMORY_EDIT);
                expectEditing(IDC_MEMORY_EDIT);
                EXPECT_EQ(text(IDC_MEMORY_ADDRESS), c.address);
                EXPECT_EQ(text(IDC_MEMORY_ALIAS), c.alias);
                EXPECT_EQ(shown(), rest);  // out of the list at once
                if (c.typed) {
                    clearField(IDC_MEMORY_ADDRESS);
                    clearField(IDC_MEMORY_ALIAS);
                    type(IDC_MEMORY_ADDRESS, c.typed->first);
                    type(IDC_MEMORY_ALIAS, c.typed->second);
                }
                click(IDC_MEMORY_EDIT);
                expectBrowsing();
                EXPECT_EQ(shown(), c.after);
            }
        }
        click(IDC_MEMORY_OK);
    });
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(sorted(remoteBox()), sorted({"", "desk"}));
    EXPECT_EQ(addresses(station->memory()), (Texts{"", "10.0.0.5"}));
}

TEST_F(MemoryDialog, WhileEditingTheDialogCannotBeLeft) {
    seed({"10.0.0.5 == desk"});
    open();
    click(IDC_MEMORY_ADD);
    QTest::keyClick(dialog, Qt::Key_Escape);
    dialog->close();
    QTest::keyClick(field(IDC_MEMORY_ADDRESS), Qt::Key_Return);
    click(IDC_MEMORY_OK);  // disabled
    EXPECT_TRUE(dialog->isVisible());
    expectEditing(IDC_MEMORY_ADD);

    click(IDC_MEMORY_ADD);
    expectBrowsing();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(MemoryDialog, CancelLeavesMemoryAndFileUntouched) {
    seed({"10.0.0.7", "10.0.0.5 == desk", "10.0.0.2 == hall"});
    fromStation([&] {
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
    });
    EXPECT_EQ(addresses(station->memory()), (Texts{"10.0.0.7", "10.0.0.5", "10.0.0.2"}));
    EXPECT_EQ(station->memory().resolveRemote("hall"), "10.0.0.2");
    EXPECT_EQ(sorted(remoteBox()), sorted({"10.0.0.7", "desk", "hall"}));
    EXPECT_EQ(test::fileBytes("Parlio.mem"), fileBefore);
}

TEST_F(MemoryDialog, OkOnAnEmptyListWritesTheEmptyMemory) {
    seed({"10.0.0.5 == desk", "10.0.0.2 == hall"});
    fromStation([&] {
        select("10.0.0.5 == desk");
        click(IDC_MEMORY_REMOVE);
        select("10.0.0.2 == hall");
        click(IDC_MEMORY_REMOVE);
        click(IDC_MEMORY_OK);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(dialog->EntryList.GetSize(), 0u);
    });
    EXPECT_TRUE(remoteBox().empty());
    EXPECT_EQ(station->memory().AddressList().GetSize(), 0u);
    EXPECT_EQ(station->memory().AliasByAddress().GetCount(), 0u);
    EXPECT_EQ(test::fileBytes("Parlio.mem"), Bytes(6, 0));
}

TEST_F(MemoryDialog, OkAppliesEveryEntryTrimmingOnlyAliasedAddresses) {
    fromStation([&] {
        add("10.0.0.9", "");
        add("10.0.0.2", "hall");
        add("10.0.0.3 ", "x");     // trimmed: the entry has an alias
        add("10.0.0.4 ", "");      // kept as typed
        add("10.0.0.5", "Küche");  // in the encoding: \374 (0xFC) for ü
        click(IDC_MEMORY_OK);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    });
    EXPECT_EQ(boxes.count(), 0u);
    // One item per entry, its alias or its address, in list order (the box
    // sorts them).
    const Texts combo = {"hall", "x", "10.0.0.4 ", "K\374che", "10.0.0.9"};
    EXPECT_EQ(sorted(remoteBox()), sorted(combo));
    const StationMemory& applied = station->memory();
    EXPECT_EQ(addresses(applied),
              (Texts{"10.0.0.2", "10.0.0.3", "10.0.0.4 ", "10.0.0.5", "10.0.0.9"}));
    EXPECT_EQ(applied.resolveRemote("x"), "10.0.0.3");
    EXPECT_EQ(applied.resolveRemote("K\374che"), "10.0.0.5");
    EXPECT_EQ(applied.callerName("10.0.0.9"), "10.0.0.9");

    // A later start loads the same memory from the file.
    StationMemory restarted;
    EXPECT_EQ(restarted.LoadMemory(), combo);
}

TEST_F(MemoryDialog, StationsAddedBesideStoredOnesFillTheBoxAndSurviveARestart) {
    seed({"10.0.0.5 == desk"});
    fromStation([&] {
        add("10.0.0.7", "lab");
        click(IDC_MEMORY_OK);
    });
    EXPECT_EQ(remoteBox(), (Texts{"desk", "lab"}));
    EXPECT_EQ(station->memory().resolveRemote("lab"), "10.0.0.7");
    startStation();  // anew
    EXPECT_EQ(remoteBox(), (Texts{"desk", "lab"}));
    EXPECT_EQ(station->memory().callerName("10.0.0.7"), "lab");
}

TEST_F(MemoryDialog, TwoEntriesWithOneAliasMapItToTheLaterAddress) {
    seed({"10.0.0.1 == a", "10.0.0.2 == b"});
    fromStation([&] {
        select("10.0.0.2 == b");
        click(IDC_MEMORY_EDIT);
        clearField(IDC_MEMORY_ALIAS);
        type(IDC_MEMORY_ALIAS, "a");
        click(IDC_MEMORY_EDIT);  // Edit does not test for a clash
        EXPECT_EQ(shown(), (Texts{"10.0.0.1 == a", "10.0.0.2 == a"}));
        click(IDC_MEMORY_OK);
    });
    EXPECT_EQ(station->memory().resolveRemote("a"), "10.0.0.2");
    EXPECT_EQ(station->memory().callerName("10.0.0.1"), "a");
    EXPECT_EQ(station->memory().callerName("10.0.0.2"), "a");
}

TEST_F(MemoryDialog, EnterOutsideAPushButtonIsOk) {
    seed({"10.0.0.5 == desk"});
    fromStation([&] {
        add("10.0.0.8", "den");
        select("10.0.0.5 == desk");
        click(IDC_MEMORY_REMOVE);
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Return);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    });
    EXPECT_EQ(remoteBox(), Texts{"den"});
    EXPECT_EQ(station->memory().resolveRemote("desk"), "desk");
}

}  // namespace
}  // namespace chatterly
