#pragma once
// The "Nearby Stations" window: the stations found on the network, sorted by
// name, each with its address, host name and, when the station memory knows
// the address, its alias. Modeless; the station opens it from its Nearby
// button and keeps it. Enter, Return or a double click on the list (or Call)
// calls the selected station by its address; Add to Memory asks the station
// to add it to the memory, where the user may edit it first; Escape and
// Close hide the window. Names are shown as they came, as plain text.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "discovery/FoundStations.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace chatterly {

class NearbyWindow : public QWidget {
    Q_OBJECT
  public:
    struct Actions {
        std::function<void(const std::string& address)> call;
        std::function<void(const FoundStations::Row& station)> addToMemory;
    };

    NearbyWindow(const FoundStations& found, FoundStations::AliasOf aliasOf, Actions actions,
                 QWidget* parent = nullptr);
    ~NearbyWindow() override;

    // Reads the found stations again; the selected station stays selected.
    void refresh();
    // The rows shown, in order.
    const std::vector<FoundStations::Row>& rows() const { return rows_; }
    std::optional<size_t> selectedRow() const;
    QTreeWidget* list() const { return list_; }

  private:
    void placeControls();
    void bindControls();
    void describeControls();
    void callSelected();
    void addSelected();
    void updateButtons();

    const FoundStations& found_;
    const FoundStations::AliasOf aliasOf_;
    const Actions actions_;
    std::vector<FoundStations::Row> rows_;
    QTreeWidget* list_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* call_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace chatterly
