#include "history/HistoryWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <vector>

#include "framework/threads/ErrorReport.h"
#include "framework/widgets/ControlDescriptions.h"
#include "framework/widgets/DialogUnits.h"
#include "framework/widgets/HelpPage.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/StopGesture.h"
#include "history/HistoryModel.h"
#include "history/HistoryPlayer.h"
#include "history/HistoryStore.h"

namespace chatterly {
namespace {

// Runs a request through the generic error report, so an error that escapes
// it is shown and the window goes on.
auto reported(std::function<void()> request) {
    return [request = std::move(request)] { ErrorReport::run(request); };
}

}  // namespace

HistoryWindow::HistoryWindow(HistoryStore& store, HistoryPlayer& player, QWidget* parent)
    : QWidget(parent, Qt::Window),
      store_(store),
      player_(player),
      model_(new HistoryModel(this)),
      saveDirectory_(QDir::homePath()) {
    setWindowTitle(QStringLiteral("History"));
    setFont(DialogUnits::dialogFont());
    placeControls();
    bindControls();
    describeControls();
    refresh();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::placeControls() {
    list_ = new QTreeView(this);
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    // Every row is one line of the same font: the view need not measure each
    // of many thousands to lay them out or to scroll.
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed widths from the widest text each column can show, never from its
    // rows (measuring contents would read every row).
    const QFontMetrics metrics(font());
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
    QHeaderView* header = list_->header();
    header->setStretchLastSection(false);
    header->resizeSection(
        HistoryModel::kWhen,
        metrics.horizontalAdvance(QStringLiteral("yesterday 00:00:00")) + padding);
    header->resizeSection(HistoryModel::kDirection,
                          metrics.horizontalAdvance(QStringLiteral("Received")) + padding);
    header->resizeSection(HistoryModel::kLength,
                          metrics.horizontalAdvance(QStringLiteral("00:00:00")) + padding);
    header->setSectionResizeMode(HistoryModel::kStation, QHeaderView::Stretch);
    list_->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 70, metrics.height() * 16);

    auto* label = new QLabel(QStringLiteral("&Messages"), this);
    label->setBuddy(list_);
    play_ = new QPushButton(QStringLiteral("&Play"), this);
    stop_ = new QPushButton(QStringLiteral("&Stop"), this);
    playUnplayed_ = new QPushButton(QStringLiteral("Play &unplayed"), this);
    saveAs_ = new QPushButton(QStringLiteral("Save &As…"), this);
    delete_ = new QPushButton(QStringLiteral("&Delete"), this);
    clearPlayed_ = new QPushButton(QStringLiteral("&Clear played"), this);
    hold_ = new QCheckBox(QStringLiteral("&Hold messages"), this);
    speed_ = new QComboBox(this);
    for (const double speed : HistoryPlayer::kSpeeds) {
        speed_->addItem(QString::number(speed) + QStringLiteral("×"), speed);
    }
    auto* speedLabel = new QLabel(QStringLiteral("Sp&eed"), this);
    speedLabel->setBuddy(speed_);
    speedForLive_ = new QCheckBox(QStringLiteral("Play &received messages at this speed"), this);

    auto* buttons = new QVBoxLayout;
    for (QWidget* w : {play_, stop_, playUnplayed_, saveAs_, delete_, clearPlayed_}) {
        buttons->addWidget(w);
    }
    buttons->addStretch(1);
    buttons->addWidget(hold_);
    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(speedLabel);
    speedRow->addWidget(speed_, 1);
    buttons->addLayout(speedRow);
    buttons->addWidget(speedForLive_);
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(label);
    listColumn->addWidget(list_, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(listColumn, 1);
    layout->addLayout(buttons);

    // The list first, then the buttons and the settings as they stand.
    QWidget* const order[] = {list_,   play_,        stop_, playUnplayed_, saveAs_,
                              delete_, clearPlayed_, hold_, speed_,        speedForLive_};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    list_->setFocus();
}

void HistoryWindow::bindControls() {
    const std::pair<QPushButton*, void (HistoryWindow::*)()> kButtons[] = {
        {play_, &HistoryWindow::playSelected},
        {playUnplayed_, &HistoryWindow::playUnplayed},
        {saveAs_, &HistoryWindow::saveSelected},
        {delete_, &HistoryWindow::deleteSelected},
        {clearPlayed_, &HistoryWindow::clearPlayed}};
    for (const auto& [button, request] : kButtons) {
        connect(button, &QPushButton::clicked, this,
                reported([this, request = request] { (this->*request)(); }));
    }
    const auto stop = reported([this] { player_.stopMessages(); });
    connect(stop_, &QPushButton::clicked, this, stop);
    connect(hold_, &QCheckBox::toggled, this,
            [this](bool on) { ErrorReport::run([this, on] { player_.setHoldMessages(on); }); });
    connect(speed_, &QComboBox::currentIndexChanged, this, [this](int index) {
        ErrorReport::run([this, index] { player_.setSpeed(speed_->itemData(index).toDouble()); });
    });
    connect(speedForLive_, &QCheckBox::toggled, this,
            [this](bool on) { ErrorReport::run([this, on] { player_.setSpeedForLive(on); }); });
    connect(list_, &QTreeView::doubleClicked, this, reported([this] { playSelected(); }));
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });

    // Keys on the list only: on a button, Enter and Delete mean nothing here.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), list_, nullptr, nullptr, Qt::WidgetShortcut);
        connect(enter, &QShortcut::activated, this, reported([this] { playSelected(); }));
    }
    auto* del = new QShortcut(QKeySequence::Delete, list_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, reported([this] { deleteSelected(); }));
    // Escape is the stop gesture wherever the focus is; the window stays.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, stop);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { HelpPage::show(); });
}

void HistoryWindow::describeControls() {
    // Names as the user reads them (a caption without its '&', the list's
    // label), and one sentence on what each control does.
    chatterly::describeControls({
        {list_, "Messages",
         "The messages received and sent, newest first; unplayed ones are in bold. Enter plays "
         "the selected one, Delete deletes it."},
        {play_, "Play", "Plays the selected message."},
        {stop_, "Stop", "Stops the message that plays now."},
        {playUnplayed_, "Play unplayed", "Plays every unplayed message, oldest first."},
        {saveAs_, "Save As…", "Saves a copy of the selected message as a WAV file."},
        {delete_, "Delete", "Deletes the selected message."},
        {clearPlayed_, "Clear played", "Deletes every message that has been played."},
        {hold_, "Hold messages",
         "While checked, messages that come in are kept unplayed instead of playing at once."},
        {speed_, "Speed", "How fast messages play from the history, their pitch kept."},
        {speedForLive_, "Play received messages at this speed",
         "While checked, messages that come in during a call play at this speed too."},
    });
}

void HistoryWindow::refresh() {
    const std::optional<int64_t> kept = selectedId();
    const QModelIndex current = list_->currentIndex();
    model_->setEntries(store_.newestFirst(), QDateTime::currentMSecsSinceEpoch());
    int row = kept ? model_->rowOf(*kept).value_or(-1) : -1;
    if (row < 0 && model_->rowCount() > 0) {
        // The selected message has gone: the row that took its place (or the
        // last), so Delete pressed again deletes the next one.
        row = std::min(std::max(current.row(), 0), model_->rowCount() - 1);
    }
    if (row >= 0) {
        selectRow(row);
    }
    // The station's settings, not new requests.
    const QSignalBlocker quiet(hold_), quietSpeed(speed_), quietLive(speedForLive_);
    hold_->setChecked(player_.holdMessages());
    speed_->setCurrentIndex(std::max(speed_->findData(player_.speed()), 0));
    speedForLive_->setChecked(player_.speedForLive());
    updateButtons();
}

std::optional<int64_t> HistoryWindow::selectedId() const {
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    const HistoryEntry* entry = model_->entryAt(rows.first().row());
    return entry ? std::optional<int64_t>(entry->id) : std::nullopt;
}

bool HistoryWindow::select(int64_t id) {
    const std::optional<int> row = model_->rowOf(id);
    if (row) {
        selectRow(*row);
    }
    return row.has_value();
}

void HistoryWindow::selectRow(int row) {
    const QModelIndex index = model_->index(row, 0);
    list_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list_->scrollTo(index);
}

void HistoryWindow::updateButtons() {
    const bool selected = selectedId().has_value();
    for (QPushButton* button : {play_, saveAs_, delete_}) {
        button->setEnabled(selected);
    }
    playUnplayed_->setEnabled(model_->unplayedCount() > 0);
    clearPlayed_->setEnabled(model_->playedCount() > 0);
}

void HistoryWindow::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void HistoryWindow::playSelected() {
    if (const std::optional<int64_t> id = selectedId()) {
        player_.playMessages({*id});
    }
}

void HistoryWindow::playUnplayed() {
    std::vector<int64_t> ids;
    for (const HistoryEntry& entry : store_.unplayedOldestFirst()) {
        ids.push_back(entry.id);
    }
    if (!ids.empty()) {
        player_.playMessages(ids);
    }
}

void HistoryWindow::saveSelected() {
    const std::optional<int64_t> id = selectedId();
    const std::optional<HistoryEntry> entry = id ? store_.entry(*id) : std::nullopt;
    if (!entry) {
        return;
    }
    const QString suggested =
        QDir(saveDirectory_).filePath(HistoryModel::suggestedFileName(*entry));
    const QString path = saveDialog_ ? saveDialog_(suggested) : askSavePath(suggested);
    if (path.isEmpty()) {
        return;
    }
    saveDirectory_ = QFileInfo(path).absolutePath();
    const std::vector<uint8_t> image = store_.image(entry->id);
    if (image.empty()) {
        MessageBox::show("The message cannot be saved: its file cannot be read.");
        return;
    }
    // A whole copy or none: the file appears under its name only once written.
    QSaveFile file(path);
    const auto length = static_cast<qint64>(image.size());
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(image.data()), length) != length ||
        !file.commit()) {
        MessageBox::show(QStringLiteral("The message cannot be saved as \"") + path +
                         QStringLiteral("\": ") + file.errorString());
    }
}

QString HistoryWindow::askSavePath(const QString& suggestedPath) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save Message As"), suggestedPath,
                                        QStringLiteral("WAV sound (*.wav)"));
}

void HistoryWindow::deleteSelected() {
    if (const std::optional<int64_t> id = selectedId()) {
        if (!store_.remove(*id)) {
            MessageBox::show("The message cannot be deleted.");
        }
        refresh();
    }
}

void HistoryWindow::clearPlayed() {
    store_.clearPlayed();
    refresh();
}

bool HistoryWindow::isStopGesture(QObject* receiver, QEvent* event) const {
    return StopGesture::matches(*this, receiver, event, {stop_}, false);
}

}  // namespace chatterly
