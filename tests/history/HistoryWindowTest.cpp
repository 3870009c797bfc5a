// The history window on the offscreen platform over a real store in a
// scratch directory, driven by keys as a user without a mouse would, with a
// double of the station's player that records what it is asked; and the
// texts the window derives, table by table.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QShortcutEvent>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "history/HistoryModel.h"
#include "history/HistoryPlayer.h"
#include "history/HistoryStore.h"
#include "history/HistoryTimes.h"
#include "history/HistoryWindow.h"
#include "support/TestSupport.h"
#include "support/Tones.h"

namespace chatterly {
namespace {

using Ids = std::vector<int64_t>;

int64_t localMs(int year, int month, int day, int hour, int minute) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute)).toMSecsSinceEpoch();
}

TEST(HistoryTimes, TellsTodayByClockYesterdayByNameAndOlderByDate) {
    const int64_t noon = localMs(2026, 12, 3, 12, 0);
    const int64_t pastMidnight = localMs(2026, 12, 3, 0, 1);
    const struct {
        int64_t time, now;
        const char* text;
    } kCases[] = {
        {localMs(2026, 12, 3, 11, 59), noon, "11:59"},
        {localMs(2026, 12, 3, 0, 0), noon, "00:00"},
        {localMs(2026, 12, 2, 23, 59), noon, "yesterday 23:59"},
        {localMs(2026, 12, 2, 18, 2), pastMidnight, "yesterday 18:02"},
        {localMs(2026, 12, 2, 0, 0), noon, "yesterday 00:00"},
        {localMs(2026, 12, 1, 23, 59), noon, "2026-12-01 23:59"},
        {localMs(2025, 12, 3, 9, 15), noon, "2025-12-03 09:15"},
        {localMs(2026, 12, 4, 8, 0), noon, "2026-12-04 08:00"},  // a clock set back
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(HistoryTimes::describe(c.time, c.now).toStdString(), c.text);
    }
}

TEST(HistoryTimes, PlayingTimeToTheNearestSecond) {
    const std::pair<int64_t, const char*> kCases[] = {
        {0, "0:00"},      {7000, "0:07"},     {7499, "0:07"},         {7500, "0:08"},
        {59'500, "1:00"}, {723'000, "12:03"}, {3'723'000, "1:02:03"}, {-5, "0:00"}};
    for (const auto& [ms, text] : kCases) {
        EXPECT_EQ(HistoryTimes::playingTime(ms).toStdString(), text) << ms;
    }
}

TEST(HistoryModelNames, SuggestedFileNameIsTheStationAndTimeWithUnsafeCharactersReplaced) {
    const int64_t time = localMs(2026, 12, 1, 9, 15);
    const struct {
        const char* alias;
        const char* address;
        const char* name;
    } kCases[] = {
        {"Kitchen", "10.0.0.7", "Kitchen 2026-12-01 09-15.wav"},
        {"", "fe80::1", "fe80__1 2026-12-01 09-15.wav"},
        {"", "", "unknown 2026-12-01 09-15.wav"},
        {"../etc/passwd", "", "_._etc_passwd 2026-12-01 09-15.wav"},
        {"a\\b*c?d\"e<f>g|h\ti\x7fj", "", "a_b_c_d_e_f_g_h_i_j 2026-12-01 09-15.wav"},
        {"\u202Egpj.exe", "", "_gpj.exe 2026-12-01 09-15.wav"},  // right-to-left override
        {"Küche", "", "Küche 2026-12-01 09-15.wav"},
    };
    for (const auto& c : kCases) {
        HistoryEntry entry;
        entry.alias = c.alias;
        entry.address = c.address;
        entry.timeMs = time;
        EXPECT_EQ(HistoryModel::suggestedFileName(entry).toStdString(), c.name);
    }
}

// The station's side: records every request; a run of messages returns at
// once, after what playing does runs (onPlay, given each message).
class RecordingPlayer : public HistoryPlayer {
  public:
    void playMessages(const std::vector<int64_t>& ids) override {
        runs.push_back(ids);
        for (int64_t id : ids) {
            if (onPlay) {
                onPlay(id);
            }
        }
    }
    void stopMessages() override { ++stops; }
    bool holdMessages() const override { return hold; }
    void setHoldMessages(bool on) override { settings.push_back(on), hold = on; }

    std::vector<Ids> runs;
    int stops = 0;
    bool hold = false;
    std::vector<bool> settings;
    std::function<void(int64_t)> onPlay;
};

// Takes every shortcut event: which object it went to, and whether another
// control claimed the same keys. Nothing is pressed.
class ShortcutCatcher : public QObject {
  public:
    ShortcutCatcher() { qApp->installEventFilter(this); }
    ~ShortcutCatcher() override { qApp->removeEventFilter(this); }
    QObject* reached = nullptr;
    bool ambiguous = false;

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) {
            return false;
        }
        reached = receiver;
        ambiguous = static_cast<QShortcutEvent*>(event)->isAmbiguous();
        return true;
    }
};

QString accessibleText(QWidget* w, QAccessible::Text which) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(which) : QString();
}

class HistoryWindowTest : public ::testing::Test {
  protected:
    // A received or sent message kept at a time told by its date, whatever
    // today is; each message's sound differs.
    int64_t keep(Direction direction, const char* alias, const char* address, bool played,
                 int minute) {
        const MessageInfo info{
            direction, address, alias, 7'000, 1, played, localMs(2020, 1, 2, 3, minute)};
        const auto image = test::toneImage(SF_FORMAT_PCM_16, 1, 8000, 0.05, 300.0 + 10 * minute);
        const HistoryStore::KeepResult kept = store.keep(info, image.data(), image.size());
        EXPECT_EQ(kept.kept, HistoryStore::Kept::Yes);
        paths[kept.id] = store.pathOf(*store.entry(kept.id));
        return kept.id;
    }
    // Four messages: a: received unplayed, b: sent, c: received played from a
    // station with neither alias nor address, d: received unplayed.
    void keepFour() {
        a = keep(Direction::In, "Kitchen", "10.0.0.5", false, 1);
        b = keep(Direction::Out, "", "10.0.0.7", true, 2);
        c = keep(Direction::In, "", "", true, 3);
        d = keep(Direction::In, "", "10.0.0.9", false, 4);
    }
    void open() {
        window = std::make_unique<HistoryWindow>(store, player);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(test::waitFor([this] { return QApplication::activeWindow() == window.get(); }));
        list = window->findChild<QTreeView*>();
        ASSERT_TRUE(list);
        ASSERT_EQ(QApplication::focusWidget(), list);
    }
    Ids rows() const {
        Ids ids;
        for (int row = 0; row < window->model().rowCount(); ++row) {
            ids.push_back(window->model().entryAt(row)->id);
        }
        return ids;
    }
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }
    QAbstractButton* button(const char* name) const {
        for (auto* b : window->findChildren<QAbstractButton*>()) {
            if (b->accessibleName() == QString::fromUtf8(name)) {
                return b;
            }
        }
        ADD_FAILURE() << "no button " << name;
        return nullptr;
    }
    bool kept(int64_t id) const { return std::filesystem::exists(paths.at(id)); }

    test::ScratchDirectory scratch;
    HistoryStore store{HistoryStore::Options{}};
    RecordingPlayer player;
    std::unique_ptr<HistoryWindow> window;
    QTreeView* list = nullptr;
    std::map<int64_t, std::string> paths;
    int64_t a = 0, b = 0, c = 0, d = 0;
};

TEST_F(HistoryWindowTest, ListsNewestFirstWithStationAndUnplayedReceivedInBold) {
    keepFour();
    open();
    const struct {
        int64_t id;
        const char *when, *direction, *station;
        bool bold;
    } kRows[] = {
        {d, "2020-01-02 03:04", "Received", "10.0.0.9", true},
        {c, "2020-01-02 03:03", "Received", "unknown", false},
        {b, "2020-01-02 03:02", "Sent", "10.0.0.7", false},
        {a, "2020-01-02 03:01", "Received", "Kitchen", true},
    };
    const HistoryModel& model = window->model();
    ASSERT_EQ(model.rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        const auto& expected = kRows[row];
        SCOPED_TRACE(row);
        EXPECT_EQ(model.entryAt(row)->id, expected.id);
        const auto cell = [&](int column, int role = Qt::DisplayRole) {
            return model.data(model.index(row, column), role);
        };
        EXPECT_EQ(cell(HistoryModel::kWhen).toString().toStdString(), expected.when);
        EXPECT_EQ(cell(HistoryModel::kDirection).toString().toStdString(), expected.direction);
        EXPECT_EQ(cell(HistoryModel::kStation).toString().toStdString(), expected.station);
        EXPECT_EQ(cell(HistoryModel::kLength).toString(), QStringLiteral("0:07"));
        for (int column = 0; column < HistoryModel::kColumnCount; ++column) {
            EXPECT_EQ(cell(column, Qt::FontRole).value<QFont>().bold(), expected.bold);
        }
    }
    EXPECT_EQ(window->selectedId(), d);

    // A refresh after a new message keeps the selected message selected.
    ASSERT_TRUE(window->select(b));
    const int64_t e = keep(Direction::In, "", "10.0.0.9", false, 5);
    window->refresh();
    EXPECT_EQ(rows(), (Ids{e, d, c, b, a}));
    EXPECT_EQ(window->selectedId(), b);
}

TEST_F(HistoryWindowTest, KeysPlayTheSelectedStopAndDelete) {
    keepFour();
    open();
    ASSERT_TRUE(window->select(c));
    press(Qt::Key_Return);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    const QPoint third = list->visualRect(window->model().index(2, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(player.runs, (std::vector<Ids>{{c}, {c}}));  // a click only selects
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(player.runs, (std::vector<Ids>{{c}, {c}, {b}}));

    // Escape stops, from the list and from a button, and the window stays.
    press(Qt::Key_Escape);
    button("Stop")->setFocus();
    press(Qt::Key_Escape);
    EXPECT_EQ(player.stops, 2);
    EXPECT_TRUE(window->isVisible());

    // Delete takes the message's row and file; the next row is selected.
    list->setFocus();
    press(Qt::Key_Delete);
    EXPECT_EQ(rows(), (Ids{d, c, a}));
    EXPECT_FALSE(kept(b));
    EXPECT_FALSE(store.entry(b));
    EXPECT_TRUE(kept(a) && kept(c) && kept(d));
    EXPECT_EQ(window->selectedId(), a);
}

TEST_F(HistoryWindowTest, PlayUnplayedPlaysTheReceivedUnplayedOldestFirst) {
    keepFour();
    open();
    // As the station does: each message played to its end is marked played,
    // and the window is refreshed while the run goes on.
    player.onPlay = [this](int64_t id) {
        store.markPlayed(id);
        window->refresh();
    };
    press(Qt::Key_U, Qt::AltModifier);  // a mnemonic clicks once its button has shown the press
    ASSERT_TRUE(test::waitFor([this] { return !player.runs.empty(); }));
    EXPECT_EQ(player.runs, (std::vector<Ids>{{a, d}}));
    EXPECT_EQ(window->model().unplayedCount(), 0);
    EXPECT_FALSE(button("Play unplayed")->isEnabled());
}

TEST_F(HistoryWindowTest, SaveAsWritesAByteIdenticalCopyUnderTheSuggestedSafeName) {
    const int64_t id = keep(Direction::In, "Front/Door: 1", "", false, 6);
    open();
    QString suggested;
    window->setSaveDialog([&](const QString& path) {
        suggested = path;
        return QString::fromStdString(scratch.file("copy.wav"));
    });
    press(Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(scratch.file("copy.wav")); }));
    EXPECT_EQ(QFileInfo(suggested).fileName(),
              QStringLiteral("Front_Door_ 1 2020-01-02 03-06.wav"));
    const auto copy = test::fileBytes(scratch.file("copy.wav"));
    EXPECT_FALSE(copy.empty());
    EXPECT_EQ(copy, test::fileBytes(paths[id]));
}

TEST_F(HistoryWindowTest, ClearPlayedTakesEveryPlayedMessageAndItsFile) {
    keepFour();
    open();
    press(Qt::Key_C, Qt::AltModifier);
    ASSERT_TRUE(test::waitFor([this] { return window->model().rowCount() == 2; }));
    EXPECT_EQ(rows(), (Ids{d, a}));
    EXPECT_TRUE(kept(a) && kept(d));
    EXPECT_FALSE(kept(b) || kept(c));
}

TEST_F(HistoryWindowTest, HoldMessagesBoxFollowsThePlayersSettingAndSetsIt) {
    player.hold = true;
    open();
    QAbstractButton* box = button("Hold messages");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isChecked());
    press(Qt::Key_H, Qt::AltModifier);
    ASSERT_TRUE(test::waitFor([this] { return !player.hold; }));
    player.hold = true;  // the station's setting changed elsewhere
    window->refresh();
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(player.settings, std::vector<bool>{false});  // the refresh set nothing
}

// Every control has a name (its caption, or its label for the list) and a
// description; each Alt key reaches its control alone; Tab visits the list,
// then the controls from top to bottom, and comes back.
TEST_F(HistoryWindowTest, EveryControlIsNamedDescribedAndReachedByItsOwnKeys) {
    keepFour();
    open();
    std::set<int> mnemonics;
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        auto* label = qobject_cast<QLabel*>(w);
        QWidget* control = label ? label->buddy() : w;
        const QString name = accessibleText(control, QAccessible::Name);
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(accessibleText(control, QAccessible::Description).isEmpty());
        auto* button = qobject_cast<QAbstractButton*>(w);
        const QString caption = button ? button->text() : label ? label->text() : QString();
        if (caption.isEmpty()) {
            continue;  // the list, named by its label
        }
        EXPECT_EQ(name, QString(caption).remove(QLatin1Char('&')));
        const QKeySequence mnemonic = QKeySequence::mnemonic(caption);
        ASSERT_FALSE(mnemonic.isEmpty());
        EXPECT_TRUE(mnemonics.insert(mnemonic[0].key()).second);
        ASSERT_TRUE(w->isEnabled());
        ShortcutCatcher catcher;
        QTest::keyClick(window.get(), mnemonic[0].key(), Qt::AltModifier);
        EXPECT_EQ(catcher.reached, w);
        EXPECT_FALSE(catcher.ambiguous);
    }
    EXPECT_EQ(mnemonics.size(), 8u);

    const std::vector<std::string> kTabOrder = {"Play",          "Stop",    "Play unplayed",
                                                "Save As…",      "Delete",  "Clear played",
                                                "Hold messages", "Messages"};
    std::vector<std::string> visited;
    for (size_t i = 0; i < kTabOrder.size(); ++i) {
        press(Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->accessibleName().toStdString());
    }
    EXPECT_EQ(visited, kTabOrder);
}

}  // namespace
}  // namespace chatterly
