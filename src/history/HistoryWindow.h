#pragma once
// The history window: the kept messages newest first, with Play, Stop, Play
// unplayed, Save As..., Delete, Clear played, the "Hold messages" check
// box, the speed messages play at and whether received ones play at it. Modeless; the station opens
// it from its History button and keeps it. It reads the store and asks the station (HistoryPlayer)
// to play.
//
// The window places its controls, binds them and carries out what they ask;
// the list is a view over HistoryModel, and the texts it derives (times, a
// saved copy's name) come from HistoryTimes and HistoryModel. Enter, Return
// and a double click on the list play the selected message, Delete on the
// list deletes it, Escape anywhere in the window stops playing (and never
// closes the window). Every control has an Alt key, an accessible name and a
// description. A request runs through the generic error report.
//
// Playing may take long (the station plays on the GUI thread and may refresh
// the window meanwhile): nothing the window holds is used across it.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeView;

namespace chatterly {

class HistoryModel;
class HistoryPlayer;
class HistoryStore;

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    // Where a Save As writes, given the suggested path; empty: nowhere (the
    // user cancelled).
    using SaveDialog = std::function<QString(const QString& suggestedPath)>;

    // Fills the list from the store; the newest message is selected.
    HistoryWindow(HistoryStore& store, HistoryPlayer& player, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Reads the store again (the station calls it after every change). The
    // selected message stays selected; when it has gone, the row that took
    // its place is.
    void refresh();

    // The selected message, if any.
    std::optional<int64_t> selectedId() const;
    // Selects the message's row; false when no row shows it.
    bool select(int64_t id);

    // Whether input for receiver asks to stop what plays: Escape in this
    // window, or a click or the mnemonic of its Stop button.
    bool isStopGesture(QObject* receiver, QEvent* event) const;

    // Save As asks dialog instead of the file dialog (tests).
    void setSaveDialog(SaveDialog dialog) { saveDialog_ = std::move(dialog); }

    const HistoryModel& model() const { return *model_; }

  protected:
    // Times are told against now: a window shown again says "yesterday" where
    // it said a clock time before midnight.
    void showEvent(QShowEvent* event) override;

  private:
    void placeControls();
    void bindControls();
    void describeControls();
    void updateButtons();
    void selectRow(int row);

    void playSelected();
    void playUnplayed();
    void saveSelected();
    void deleteSelected();
    void clearPlayed();
    // The file dialog's answer: the path to write to, or empty.
    QString askSavePath(const QString& suggestedPath);

    HistoryStore& store_;
    HistoryPlayer& player_;
    HistoryModel* model_ = nullptr;
    SaveDialog saveDialog_;
    QString saveDirectory_;
    QTreeView* list_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* playUnplayed_ = nullptr;
    QPushButton* saveAs_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* clearPlayed_ = nullptr;
    QCheckBox* hold_ = nullptr;
    QComboBox* speed_ = nullptr;
    QCheckBox* speedForLive_ = nullptr;
};

}  // namespace chatterly
