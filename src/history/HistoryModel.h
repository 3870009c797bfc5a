#pragma once
// The history window's list as a table model: the kept messages in the order
// the store gives them (newest first), one row each, with the columns When,
// Direction ("Received"/"Sent"), Station and Length. Unplayed received
// messages are shown in bold. The model holds plain entries and makes each
// cell's text only when a view asks for it, so tens of thousands of rows cost
// no more than the few on screen. Also the texts the window derives from an
// entry: the station's name and a saved copy's file name.

#include <QAbstractTableModel>
#include <QFont>
#include <cstdint>
#include <optional>
#include <vector>

#include "history/HistoryStore.h"

namespace chatterly {

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kWhen, kDirection, kStation, kLength, kColumnCount };

    explicit HistoryModel(QObject* parent = nullptr);

    // Replaces every row; times are told against nowMs (UTC ms).
    void setEntries(std::vector<HistoryEntry> entries, int64_t nowMs);
    // The entry shown in row, or nullptr outside the rows.
    const HistoryEntry* entryAt(int row) const;
    // The row that shows the message id, if any.
    std::optional<int> rowOf(int64_t id) const;
    // How many rows show a played message, and an unplayed received one.
    int playedCount() const { return playedCount_; }
    int unplayedCount() const { return unplayedCount_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The station as the list names it: its alias, else its address, else
    // "unknown".
    static QString stationText(const HistoryEntry& entry);
    static QString directionText(Direction direction);
    // A saved copy's suggested name: "<station> <yyyy-MM-dd HH-mm>.wav", with
    // what a file name cannot safely hold replaced by '_'.
    static QString suggestedFileName(const HistoryEntry& entry);

  private:
    std::vector<HistoryEntry> entries_;
    int64_t nowMs_ = 0;
    int playedCount_ = 0;
    int unplayedCount_ = 0;
    QFont bold_;
};

}  // namespace chatterly
