#pragma once
// The Settings dialog: the station's name on the network, how much of the
// message history is kept, whether received messages are held or play at the
// history's speed, the Talk key with its mode, and the voice's clean-up. It
// also says which way the key reaches the station and, plainly, when the key
// could not be taken. Modal; the station opens it from its Settings button
// and from the tray's menu, and applies the values after OK. GUI thread.

#include <QDialog>
#include <QString>

#include "app/StationSettings.h"

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace chatterly {

class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    // announced: the name the station stands under on the network now
    // (empty: not announced).
    SettingsDialog(const StationSettings::Choices& choices, const QString& announced,
                   QWidget* parent = nullptr);

    // The values as the user left them.
    StationSettings::Choices choices() const;
    // Which way the key reaches the station, and why it could not be taken
    // (empty: it was, or no key is chosen); shown as they change.
    void showShortcut(const QString& way, const QString& problem);

  private:
    StationSettings::Choices given_;  // what the dialog does not show stays as given
    QLineEdit* name_;
    QSpinBox* cap_;
    QCheckBox* hold_;
    QCheckBox* speedForLive_;
    QKeySequenceEdit* key_;
    QRadioButton* toggle_;
    QRadioButton* holdDown_;
    QLabel* way_;
    QLabel* problem_;
    QComboBox* cleanUp_;
};

}  // namespace chatterly
