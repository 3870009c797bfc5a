#include "framework/widgets/PushLikeButton.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace chatterly {
namespace {

class PushLikeAccessible : public QAccessibleWidget {
  public:
    explicit PushLikeAccessible(PushLikeButton* button)
        : QAccessibleWidget(button, QAccessible::CheckBox) {}  // Qt's role for it

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        return s;
    }
    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty()) {
            text = button()->text().remove(QLatin1Char('&'));
        }
        return text;
    }
    QStringList actionNames() const override {
        return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == toggleAction() || action == pressAction()) {
            button()->click();  // does nothing while the button is disabled
        } else {
            QAccessibleWidget::doAction(action);
        }
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        if (action != toggleAction()) {
            return QAccessibleWidget::keyBindingsForAction(action);
        }
        const QKeySequence key = QKeySequence::mnemonic(button()->text());
        return key.isEmpty() ? QStringList() : QStringList{key.toString()};
    }

  private:
    PushLikeButton* button() const { return static_cast<PushLikeButton*>(widget()); }
};

QAccessibleInterface* accessiblePushLike(const QString& className, QObject* object) {
    if (className == QLatin1String(PushLikeButton::staticMetaObject.className())) {
        return new PushLikeAccessible(static_cast<PushLikeButton*>(object));
    }
    return nullptr;
}

}  // namespace

PushLikeButton::PushLikeButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    static const bool installed = [] {
        QAccessible::installFactory(accessiblePushLike);
        return true;
    }();
    (void)installed;
    setCheckable(true);
}

}  // namespace chatterly
