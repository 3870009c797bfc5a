#include "app/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "framework/widgets/ControlDescriptions.h"

namespace chatterly {
namespace {

// A DNS label holds 63 bytes; the field lets the user type a little more and
// the station keeps what fits.
constexpr int kNameLength = 63;

QLabel* note(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

}  // namespace

SettingsDialog::SettingsDialog(const StationSettings::Choices& choices, const QString& announced,
                               QWidget* parent)
    : QDialog(parent), given_(choices) {
    setWindowTitle(QStringLiteral("Settings"));
    auto* form = new QFormLayout;

    name_ = new QLineEdit(QString::fromStdString(choices.stationName), this);
    name_->setMaxLength(kNameLength);
    name_->setPlaceholderText(QStringLiteral("the computer's name"));
    form->addRow(QStringLiteral("Station &name:"), name_);
    QLabel* announcedAs = note(this);
    announcedAs->setText(
        announced.isEmpty() ? QStringLiteral("Not announced on the network now.")
                            : QStringLiteral("Announced on the network as \"%1\".").arg(announced));
    form->addRow(QString(), announcedAs);

    cap_ = new QSpinBox(this);
    cap_->setRange(static_cast<int>(StationSettings::kLeastHistoryCapMiB),
                   static_cast<int>(StationSettings::kMostHistoryCapMiB));
    cap_->setSuffix(QStringLiteral(" MiB"));
    cap_->setValue(static_cast<int>(choices.historyCapMiB));
    form->addRow(QStringLiteral("&Keep messages up to:"), cap_);
    hold_ = new QCheckBox(QStringLiteral("&Hold messages"), this);
    hold_->setChecked(choices.holdMessages);
    form->addRow(QString(), hold_);
    speedForLive_ = new QCheckBox(QStringLiteral("Play &received messages at this speed"), this);
    speedForLive_->setChecked(choices.speedForLive);
    form->addRow(QString(), speedForLive_);

    key_ = new QKeySequenceEdit(QKeySequence(QString::fromStdString(choices.talkKey)), this);
    // One key with its modifiers: a second chord replaces the first.
    connect(key_, &QKeySequenceEdit::keySequenceChanged, this, [this](const QKeySequence& keys) {
        if (keys.count() > 1) {
            key_->setKeySequence(QKeySequence(keys[keys.count() - 1]));
        }
    });
    auto* clear = new QPushButton(QStringLiteral("C&lear"), this);
    connect(clear, &QPushButton::clicked, key_, &QKeySequenceEdit::clear);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(key_, 1);
    keyRow->addWidget(clear);
    form->addRow(QStringLiteral("Talk &key:"), keyRow);
    toggle_ = new QRadioButton(QStringLiteral("&Press to start, press again to send"), this);
    holdDown_ = new QRadioButton(QStringLiteral("Hold &down while talking"), this);
    (choices.talkKeyHolds ? holdDown_ : toggle_)->setChecked(true);
    form->addRow(QString(), toggle_);
    form->addRow(QString(), holdDown_);
    way_ = note(this);
    problem_ = note(this);
    form->addRow(QString(), way_);
    form->addRow(QString(), problem_);
    problem_->hide();

    cleanUp_ = new QComboBox(this);
    cleanUp_->addItem(QStringLiteral("Off"), static_cast<int>(VoiceCleanup::Level::Off));
    cleanUp_->addItem(QStringLiteral("Gentle"), static_cast<int>(VoiceCleanup::Level::Gentle));
    cleanUp_->addItem(QStringLiteral("Strong"), static_cast<int>(VoiceCleanup::Level::Strong));
    cleanUp_->setCurrentIndex(cleanUp_->findData(static_cast<int>(choices.cleanUp)));
    form->addRow(QStringLiteral("Voice &clean-up:"), cleanUp_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    describeControls({
        {name_, "Station name",
         "The name other stations find this one under; empty for the computer's name."},
        {cap_, "Keep messages up to", "How much the message history keeps before old ones go."},
        {hold_, "Hold messages", "Keeps received messages unplayed until you play them."},
        {speedForLive_, "Play received messages at this speed",
         "Received messages play at the speed chosen in the history window."},
        {key_, "Talk key", "A key that presses Talk while another window has the focus."},
        {clear, "Clear", "Takes no Talk key."},
        {toggle_, "Press to start, press again to send",
         "Each press of the Talk key is a press of Talk."},
        {holdDown_, "Hold down while talking",
         "Talk is down while the Talk key is held, and sends when it is let go."},
        {cleanUp_, "Voice clean-up",
         "Lowers the noise around your voice, evens its level and cuts the silence before and "
         "after it; Off sends the microphone's sound as it is."},
    });
}

StationSettings::Choices SettingsDialog::choices() const {
    StationSettings::Choices c = given_;
    c.stationName = name_->text().trimmed().toStdString();
    c.historyCapMiB = cap_->value();
    c.holdMessages = hold_->isChecked();
    c.speedForLive = speedForLive_->isChecked();
    c.talkKey = key_->keySequence().toString(QKeySequence::PortableText).toStdString();
    c.talkKeyHolds = holdDown_->isChecked();
    c.cleanUp = static_cast<VoiceCleanup::Level>(cleanUp_->currentData().toInt());
    return c;
}

void SettingsDialog::showShortcut(const QString& way, const QString& problem) {
    way_->setText(QStringLiteral("The Talk key reaches the station through %1.").arg(way));
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
}

}  // namespace chatterly
