#include "history/HistoryModel.h"

#include <utility>

#include "history/HistoryTimes.h"

namespace chatterly {
namespace {

// A station's name is what a far end sent or the user typed: it may be long.
constexpr int kMaxStationInFileName = 100;

// What never goes into a saved copy's name: the path separator and NUL on
// this system, what other systems refuse (\ : * ? " < > |), and control
// characters, which only confuse the programs that list the file.
bool unsafeInFileName(QChar c) {
    static const QString kRefused = QStringLiteral("/\\:*?\"<>|");
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
           kRefused.contains(c);
}

// A received message nobody has heard yet (a sent one is heard as it is made).
bool unplayed(const HistoryEntry& entry) {
    return entry.direction == Direction::In && !entry.played;
}

}  // namespace

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {
    bold_.setBold(true);
}

void HistoryModel::setEntries(std::vector<HistoryEntry> entries, int64_t nowMs) {
    beginResetModel();
    entries_ = std::move(entries);
    nowMs_ = nowMs;
    playedCount_ = 0;
    unplayedCount_ = 0;
    for (const HistoryEntry& entry : entries_) {
        playedCount_ += entry.played ? 1 : 0;
        unplayedCount_ += unplayed(entry) ? 1 : 0;
    }
    endResetModel();
}

const HistoryEntry* HistoryModel::entryAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return &entries_[static_cast<size_t>(row)];
}

std::optional<int> HistoryModel::rowOf(int64_t id) const {
    for (size_t row = 0; row < entries_.size(); ++row) {
        if (entries_[row].id == id) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    const HistoryEntry* entry = entryAt(index.row());
    if (!entry) {
        return {};
    }
    if (role == Qt::FontRole) {
        return unplayed(*entry) ? QVariant(bold_) : QVariant();
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case kWhen:
            return HistoryTimes::describe(entry->timeMs, nowMs_);
        case kDirection:
            return directionText(entry->direction);
        case kStation:
            return stationText(*entry);
        case kLength:
            return HistoryTimes::playingTime(entry->playingMs);
        default:
            return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* const kHeaders[kColumnCount] = {"When", "Direction", "Station", "Length"};
    if (section < 0 || section >= kColumnCount) {
        return {};
    }
    return QString::fromLatin1(kHeaders[section]);
}

QString HistoryModel::stationText(const HistoryEntry& entry) {
    const std::string& name = entry.alias.empty() ? entry.address : entry.alias;
    return name.empty() ? QStringLiteral("unknown") : QString::fromStdString(name);
}

QString HistoryModel::directionText(Direction direction) {
    return direction == Direction::In ? QStringLiteral("Received") : QStringLiteral("Sent");
}

QString HistoryModel::suggestedFileName(const HistoryEntry& entry) {
    QString station = stationText(entry).left(kMaxStationInFileName);
    if (station.back().isHighSurrogate()) {
        station.chop(1);  // half a character, cut at the limit
    }
    for (QChar& c : station) {
        if (unsafeInFileName(c)) {
            c = QLatin1Char('_');
        }
    }
    // A leading dot would hide the copy from the user's own file listings.
    if (station.startsWith(QLatin1Char('.'))) {
        station[0] = QLatin1Char('_');
    }
    return station + QLatin1Char(' ') + HistoryTimes::fileStamp(entry.timeMs) +
           QStringLiteral(".wav");
}

}  // namespace chatterly
