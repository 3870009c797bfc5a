// The history window on the offscreen platform over a real store in a
// scratch directory, worked by keys, with a double of the station's player
// that records what it is asked; and the texts the window derives, by table.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "history/HistoryModel.h"
#include "history/HistoryPlayer.h"
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

TEST(HistoryTimes, TellsTodayByClockYesterdayByNameOlderByDateAndPlayingTimeBySecond) {
    const int64_t noon = localMs(2026, 12, 3, 12, 0), pastMidnight = localMs(2026, 12, 3, 0, 1);
    const std::tuple<int64_t, int64_t, const char*> kWhen[] = {
        {localMs(2026, 12, 3, 11, 59), noon, "11:59"},
        {localMs(2026, 12, 3, 0, 0), noon, "00:00"},
        {localMs(2026, 12, 2, 23, 59), noon, "yesterday 23:59"},
        {localMs(2026, 12, 2, 18, 2), pastMidnight, "yesterday 18:02"},
        {localMs(2026, 12, 1, 23, 59), noon, "2026-12-01 23:59"},
        {localMs(2025, 12, 3, 9, 15), noon, "2025-12-03 09:15"},
        {localMs(2026, 12, 4, 8, 0), noon, "2026-12-04 08:00"}};  // a clock set back
    for (const auto& [time, now, text] : kWhen) {
        EXPECT_EQ(HistoryTimes::describe(time, now).toStdString(), text);
    }
    const std::pair<int64_t, const char*> kPlaying[] = {
        {0, "0:00"},      {7'000, "0:07"},    {7'499, "0:07"},        {7'500, "0:08"},
        {59'500, "1:00"}, {723'000, "12:03"}, {3'723'000, "1:02:03"}, {-5, "0:00"}};
    for (const auto& [ms, text] : kPlaying) {
        EXPECT_EQ(HistoryTimes::playingTime(ms).toStdString(), text) << ms;
    }
}

TEST(HistoryModel, SuggestsTheStationAndTimeAsFileNameWithUnsafeCharactersReplaced) {
    const std::tuple<const char*, const char*, const char*> kCases[] = {
        {"Kitchen", "10.0.0.7", "Kitchen"},
        {"", "fe80::1", "fe80__1"},
        {"", "", "unknown"},
        {"../etc/passwd", "", "_._etc_passwd"},
        {"a\\b*c?d\"e<f>g|h\ti\x7fj", "", "a_b_c_d_e_f_g_h_i_j"},
        {"\u202Egpj.exe", "", "_gpj.exe"},  // a right-to-left override
        {"Küche", "", "Küche"}};
    for (const auto& [alias, address, station] : kCases) {
        HistoryEntry entry;
        entry.timeMs = localMs(2026, 12, 1, 9, 15);
        std::tie(entry.alias, entry.address) = std::tie(alias, address);
        EXPECT_EQ(HistoryModel::suggestedFileName(entry).toStdString(),
                  std::string(station) + " 2026-12-01 09-15.wav");
    }
}

// The station's side: records every request; a run plays each message
// (onPlay) and returns.
struct RecordingPlayer : HistoryPlayer {
    void playMessages(const Ids& ids) override {
        runs.push_back(ids);
        for (int64_t id : ids) {
            onPlay ? onPlay(id) : void();
        }
    }
    void stopMessages() override { ++stops; }
    bool holdMessages() const override { return hold; }
    void setHoldMessages(bool on) override { settings.push_back(hold = on); }
    double speed() const override { return speed_; }
    void setSpeed(double to) override { speed_ = to; }
    bool speedForLive() const override { return forLive; }
    void setSpeedForLive(bool on) override { forLive = on; }

    std::vector<Ids> runs;
    int stops = 0;
    bool hold = false;
    std::vector<bool> settings;
    double speed_ = 1.0;
    bool forLive = false;
    std::function<void(int64_t)> onPlay;
};

class HistoryWindowTest : public ::testing::Test {
  protected:
    // A message kept at a time told by its date whatever today is, its sound its own.
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
    // a: received unplayed, b: sent, c: received played from a station with
    // neither alias nor address, d: received unplayed.
    void keepFourAndOpen() {
        a = keep(Direction::In, "Kitchen", "10.0.0.5", false, 1);
        b = keep(Direction::Out, "", "10.0.0.7", true, 2);
        c = keep(Direction::In, "", "", true, 3);
        d = keep(Direction::In, "", "10.0.0.9", false, 4);
        open();
    }
    void open() {
        window = std::make_unique<HistoryWindow>(store, player);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(test::waitFor([this] { return QApplication::activeWindow() == window.get(); }));
        list = window->findChild<QTreeView*>();
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
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    // A mnemonic clicks its button once the button has shown the press.
    static void alt(int key, const std::function<bool()>& done) {
        press(key, Qt::AltModifier);
        ASSERT_TRUE(test::waitFor(done));
    }
    QWidget* control(const char* name) const {
        for (auto* w : window->findChildren<QWidget*>()) {
            if (w->accessibleName() == QString::fromUtf8(name)) {
                return w;
            }
        }
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

// Each row as it reads: its cells, and "bold" when every cell is bold.
std::vector<std::string> shown(const HistoryModel& model) {
    std::vector<std::string> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        int bold = 0;
        for (int column = 0; column < HistoryModel::kColumnCount; ++column) {
            cells << model.data(model.index(row, column)).toString();
            bold += model.data(model.index(row, column), Qt::FontRole).value<QFont>().bold();
        }
        rows.push_back(cells.join(" | ").toStdString() + (bold == 0              ? ""
                                                          : bold == cells.size() ? " bold"
                                                                                 : " partly bold"));
    }
    return rows;
}

TEST_F(HistoryWindowTest, ListsNewestFirstWithTheStationAndUnplayedReceivedInBold) {
    keepFourAndOpen();
    EXPECT_EQ(rows(), (Ids{d, c, b, a}));
    EXPECT_EQ(shown(window->model()),
              (std::vector<std::string>{"2020-01-02 03:04 | Received | 10.0.0.9 | 0:07 bold",
                                        "2020-01-02 03:03 | Received | unknown | 0:07",
                                        "2020-01-02 03:02 | Sent | 10.0.0.7 | 0:07",
                                        "2020-01-02 03:01 | Received | Kitchen | 0:07 bold"}));
    EXPECT_EQ(window->selectedId(), d);
    // A refresh after a new message keeps the selected message selected.
    ASSERT_TRUE(window->select(b));
    const int64_t e = keep(Direction::In, "", "10.0.0.9", false, 5);
    window->refresh();
    EXPECT_EQ(rows(), (Ids{e, d, c, b, a}));
    EXPECT_EQ(window->selectedId(), b);
}

TEST_F(HistoryWindowTest, EnterAndDoubleClickPlayEscapeStopsDeleteDeletes) {
    keepFourAndOpen();
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
    QWidget* stop = control("Stop");
    ASSERT_TRUE(stop);
    stop->setFocus();
    press(Qt::Key_Escape);
    EXPECT_EQ(player.stops, 2);
    EXPECT_TRUE(window->isVisible());

    // Delete takes the message's row and file; the next row is selected.
    list->setFocus();
    press(Qt::Key_Delete);
    EXPECT_EQ(rows(), (Ids{d, c, a}));
    EXPECT_FALSE(kept(b) || store.entry(b));
    EXPECT_TRUE(kept(a) && kept(c) && kept(d));
    EXPECT_EQ(window->selectedId(), a);
}

TEST_F(HistoryWindowTest, PlayUnplayedPlaysTheReceivedUnplayedOldestFirst) {
    keepFourAndOpen();
    // As the station does: each message played to its end is marked played,
    // and the window refreshed while the run goes on.
    player.onPlay = [this](int64_t id) {
        store.markPlayed(id);
        window->refresh();
    };
    alt(Qt::Key_U, [this] { return !player.runs.empty(); });
    EXPECT_EQ(player.runs, (std::vector<Ids>{{a, d}}));
    EXPECT_EQ(window->model().unplayedCount(), 0);
    ASSERT_TRUE(control("Play unplayed"));
    EXPECT_FALSE(control("Play unplayed")->isEnabled());
}

TEST_F(HistoryWindowTest, SaveAsWritesAByteIdenticalCopyUnderTheSuggestedSafeName) {
    const int64_t id = keep(Direction::In, "Front/Door: 1", "", false, 6);
    open();
    const std::string copy = scratch.file("copy.wav");
    QString suggested;
    window->setSaveDialog([&](const QString& path) {
        suggested = path;
        return QString::fromStdString(copy);
    });
    alt(Qt::Key_A, [&] { return std::filesystem::exists(copy); });
    EXPECT_EQ(QFileInfo(suggested).fileName().toStdString(), "Front_Door_ 1 2020-01-02 03-06.wav");
    EXPECT_FALSE(test::fileBytes(copy).empty());
    EXPECT_EQ(test::fileBytes(copy), test::fileBytes(paths[id]));
}

TEST_F(HistoryWindowTest, ClearPlayedTakesEveryPlayedMessageAndItsFile) {
    keepFourAndOpen();
    alt(Qt::Key_C, [this] { return window->model().rowCount() == 2; });
    EXPECT_EQ(rows(), (Ids{d, a}));
    EXPECT_TRUE(kept(a) && kept(d));
    EXPECT_FALSE(kept(b) || kept(c));
}

TEST_F(HistoryWindowTest, HoldAndSpeedShowThePlayersSettingsAndSetThem) {
    player.hold = true;
    player.speed_ = 1.5;
    player.forLive = true;
    open();
    auto* speed = qobject_cast<QComboBox*>(control("Speed"));
    ASSERT_TRUE(speed);
    EXPECT_EQ(speed->currentText(), QStringLiteral("1.5×"));
    alt(Qt::Key_E, [speed] { return speed->hasFocus(); });
    press(Qt::Key_Down);
    EXPECT_EQ(player.speed_, 2.0);
    alt(Qt::Key_R, [this] { return !player.forLive; });
    auto* box = qobject_cast<QAbstractButton*>(control("Hold messages"));
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isChecked());
    alt(Qt::Key_H, [this] { return !player.hold; });
    player.hold = true;  // set elsewhere: a refresh shows it and sets nothing
    window->refresh();
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(player.settings, std::vector<bool>{false});
}

// Every control has a name (its caption, or its label for the list and the
// speed), a
// description and an Alt key of its own (the other tests press some); Tab
// visits the list, the buttons top to bottom, the settings, and comes back.
TEST_F(HistoryWindowTest, EveryControlIsNamedDescribedAndReachedByItsOwnKeys) {
    keepFourAndOpen();
    std::set<int> keys;
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        QAccessibleInterface* access =
            QAccessible::queryAccessibleInterface(label ? label->buddy() : w);
        const QString caption = button ? button->text() : label ? label->text() : QString();
        SCOPED_TRACE(caption.toStdString());
        EXPECT_FALSE(access->text(QAccessible::Description).isEmpty());
        if (caption.isEmpty()) {
            continue;  // the list and the speed, named by their labels
        }
        if (label && qobject_cast<QComboBox*>(label->buddy())) {
            // A box reads out its value as its name; its label names it as its label.
            const auto labels = access->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels[0].first->object(), label);
        } else {
            EXPECT_EQ(access->text(QAccessible::Name), QString(caption).remove(QLatin1Char('&')));
        }
        EXPECT_TRUE(keys.insert(QKeySequence::mnemonic(caption)[0].key()).second);
    }
    EXPECT_EQ(keys.size(), 10u);

    std::vector<std::string> visited;
    for (int i = 0; i < 10; ++i) {
        press(Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->accessibleName().toStdString());
    }
    EXPECT_EQ(visited,
              (std::vector<std::string>{"Play", "Stop", "Play unplayed", "Save As…", "Delete",
                                        "Clear played", "Hold messages", "Speed",
                                        "Play received messages at this speed", "Messages"}));
}

}  // namespace
}  // namespace chatterly
