#include "discovery/NearbyWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "framework/threads/ErrorReport.h"
#include "framework/widgets/ControlDescriptions.h"
#include "framework/widgets/HelpPage.h"

namespace chatterly {
namespace {

enum Column { kName, kAddress, kHost, kAlias };

}  // namespace

NearbyWindow::NearbyWindow(const FoundStations& found, FoundStations::AliasOf aliasOf,
                           Actions actions, QWidget* parent)
    : QWidget(parent, Qt::Window),
      found_(found),
      aliasOf_(std::move(aliasOf)),
      actions_(std::move(actions)) {
    setWindowTitle(QStringLiteral("Nearby Stations"));
    placeControls();
    bindControls();
    describeControls();
    refresh();
}

NearbyWindow::~NearbyWindow() = default;

void NearbyWindow::placeControls() {
    list_ = new QTreeWidget(this);
    list_->setColumnCount(4);
    list_->setHeaderLabels({QStringLiteral("Station"), QStringLiteral("Address"),
                            QStringLiteral("Host"), QStringLiteral("In memory as")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setTextElideMode(Qt::ElideRight);
    const QFontMetrics metrics(font());
    list_->header()->resizeSection(kName, metrics.horizontalAdvance(QLatin1Char('x')) * 24);
    list_->header()->resizeSection(kAddress,
                                   metrics.horizontalAdvance(QStringLiteral("255.255.255.255  ")));
    list_->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 70, metrics.height() * 12);

    auto* label = new QLabel(QStringLiteral("&Stations on the network"), this);
    label->setBuddy(list_);
    empty_ = new QLabel(this);
    empty_->setTextFormat(Qt::PlainText);
    empty_->setWordWrap(true);
    call_ = new QPushButton(QStringLiteral("&Call"), this);
    add_ = new QPushButton(QStringLiteral("Add to &Memory…"), this);
    close_ = new QPushButton(QStringLiteral("Close"), this);

    auto* buttons = new QVBoxLayout;
    for (QWidget* w : {call_, add_}) {
        buttons->addWidget(w);
    }
    buttons->addStretch(1);
    buttons->addWidget(close_);
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(label);
    listColumn->addWidget(list_, 1);
    listColumn->addWidget(empty_);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(listColumn, 1);
    layout->addLayout(buttons);
    setTabOrder(list_, call_);
    setTabOrder(call_, add_);
    setTabOrder(add_, close_);
    list_->setFocus();
}

void NearbyWindow::bindControls() {
    const auto reported = [this](void (NearbyWindow::*request)()) {
        return [this, request] { ErrorReport::run([this, request] { (this->*request)(); }); };
    };
    connect(call_, &QPushButton::clicked, this, reported(&NearbyWindow::callSelected));
    connect(add_, &QPushButton::clicked, this, reported(&NearbyWindow::addSelected));
    connect(close_, &QPushButton::clicked, this, &QWidget::hide);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, reported(&NearbyWindow::callSelected));
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), list_, nullptr, nullptr, Qt::WidgetShortcut);
        connect(enter, &QShortcut::activated, this, reported(&NearbyWindow::callSelected));
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::hide);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { HelpPage::show(); });
}

void NearbyWindow::describeControls() {
    chatterly::describeControls({
        {list_, "Stations on the network",
         "The stations found on the network, by name, with their address, host and the alias "
         "the station memory gives the address. Enter calls the selected one."},
        {call_, "Call", "Calls the selected station by its address."},
        {add_, "Add to Memory",
         "Opens the station memory with the selected station ready to be added; you may edit "
         "it first."},
        {close_, "Close", "Closes this window."},
    });
}

void NearbyWindow::refresh() {
    const std::optional<size_t> selected = selectedRow();
    const std::optional<FoundStations::Row> kept =
        selected ? std::optional(rows_[*selected]) : std::nullopt;
    rows_ = found_.rows(aliasOf_);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows_.size()));
    int keep = rows_.empty() ? -1 : 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        const FoundStations::Row& row = rows_[i];
        // Plain text in every column: a name is never read as markup.
        items.append(new QTreeWidgetItem(
            {row.name, QString::fromStdString(row.address), row.hostName, row.alias}));
        if (kept && kept->name == row.name && kept->address == row.address) {
            keep = static_cast<int>(i);
        }
    }
    list_->clear();
    list_->addTopLevelItems(items);
    if (keep >= 0) {
        list_->setCurrentItem(list_->topLevelItem(keep));
    }
    empty_->setText(rows_.empty() ? QStringLiteral("No station has been found on the network yet.")
                                  : QString());
    empty_->setVisible(rows_.empty());
    updateButtons();
}

std::optional<size_t> NearbyWindow::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    const int row = list_->indexOfTopLevelItem(selected.first());
    return row >= 0 && static_cast<size_t>(row) < rows_.size()
               ? std::optional(static_cast<size_t>(row))
               : std::nullopt;
}

void NearbyWindow::callSelected() {
    if (const auto row = selectedRow(); row && actions_.call) {
        const std::string address = rows_[*row].address;
        hide();
        actions_.call(address);
    }
}

void NearbyWindow::addSelected() {
    if (const auto row = selectedRow(); row && actions_.addToMemory) {
        const FoundStations::Row station = rows_[*row];
        actions_.addToMemory(station);
    }
}

void NearbyWindow::updateButtons() {
    const bool any = selectedRow().has_value();
    call_->setEnabled(any);
    add_->setEnabled(any);
}

}  // namespace chatterly
