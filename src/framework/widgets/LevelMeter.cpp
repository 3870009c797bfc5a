#include "framework/widgets/LevelMeter.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace chatterly {
namespace {

// Where on a bar of width pixels a level stands.
int position(double db, int width) {
    const double share = (std::clamp(db, double{LevelMeter::kLowDb}, 0.0) - LevelMeter::kLowDb) /
                         -LevelMeter::kLowDb;
    return static_cast<int>(std::lround(share * width));
}

// The meter as assistive technology reads it: a progress bar whose value is
// the RMS level with its unit ("-23 dB"), where Qt's own would say "-23".
class LevelMeterAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit LevelMeterAccessible(LevelMeter* meter)
        : QAccessibleWidget(meter, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return QStringLiteral("%1 dB").arg(meter()->value());
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return meter()->value(); }
    void setCurrentValue(const QVariant&) override {}  // shown, not set
    QVariant maximumValue() const override { return 0; }
    QVariant minimumValue() const override { return LevelMeter::kLowDb; }
    QVariant minimumStepSize() const override { return 1; }

  private:
    LevelMeter* meter() const { return static_cast<LevelMeter*>(widget()); }
};

QAccessibleInterface* accessibleMeter(const QString& className, QObject* object) {
    if (className == QLatin1String(LevelMeter::staticMetaObject.className())) {
        return new LevelMeterAccessible(static_cast<LevelMeter*>(object));
    }
    return nullptr;
}

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QProgressBar(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleMeter);
        return true;
    }();
    (void)installed;
    setRange(kLowDb, 0);
    setFormat(QStringLiteral("%v dB"));
    clearLevel();
}

void LevelMeter::setLevel(double peakDb, double rmsDb) {
    peakDb = std::max(peakDb, double{kLowDb});
    rmsDb = std::max(rmsDb, double{kLowDb});
    if (peakDb == peakDb_ && rmsDb == rmsDb_ && value() == static_cast<int>(std::lround(rmsDb))) {
        return;
    }
    peakDb_ = peakDb;
    rmsDb_ = rmsDb;
    setValue(static_cast<int>(std::lround(rmsDb)));
    update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(rect(), palette().base());
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    const int bar = position(rmsDb_, inside.width());
    painter.fillRect(QRect(inside.left(), inside.top(), bar, inside.height()),
                     palette().highlight());
    if (peakDb_ > kLowDb) {
        const int x =
            inside.left() + std::min(position(peakDb_, inside.width()), inside.width() - 2);
        painter.fillRect(QRect(x, inside.top(), 2, inside.height()), palette().text());
    }
    painter.setPen(palette().mid().color());
    painter.drawRect(frame);
}

}  // namespace chatterly
