#pragma once
// The history window: the kept messages newest first, with Play, Stop, Play
// unplayed, Save As..., Delete, Clear played and the "Hold messages" check
// box. Modeless; the station opens it from its History button and keeps it.
// It reads the store and asks the station (HistoryPlayer) to play.
// (The helper fills in the rest.)

#include <QWidget>

namespace chatterly {

class HistoryPlayer;
class HistoryStore;

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    HistoryWindow(HistoryStore& store, HistoryPlayer& player, QWidget* parent = nullptr);
    // Reads the store again (the station calls it after every change).
    void refresh();
    // Whether input for receiver asks to stop what plays: Escape in this
    // window, or a click or the mnemonic of its Stop button.
    bool isStopGesture(QObject* receiver, QEvent* event) const;
};

}  // namespace chatterly
