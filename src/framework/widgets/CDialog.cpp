#include "framework/widgets/CDialog.h"

#include <qdrawutil.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include "framework/threads/ErrorReport.h"
#include "framework/widgets/HelpPage.h"
#include "framework/widgets/PushLikeButton.h"

namespace chatterly {
namespace {

// The dialog font, set on the window before its units are measured: the
// units follow the font as the window resolves it.
QFont dialogFontOf(QWidget& window) {
    window.setFont(DialogUnits::dialogFont());
    return window.font();
}

}  // namespace

CDialog::CDialog(const Template& layout, QWidget* parent)
    : QDialog(parent), units_(dialogFontOf(*this)), clientEdge_(layout.clientEdge) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (layout.minimiseButton) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    setWindowFlags(flags);
    setWindowTitle(layout.caption);
    setFixedSize(units_.x(layout.width) + 2 * clientEdge_,
                 units_.y(layout.height) + 2 * clientEdge_);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { HelpPage::show(); });
}

void CDialog::Place(int id, QWidget* control, int x, int y, int width, int height) {
    if (control->parentWidget() != this) {
        control->setParent(this);
    }
    control->setGeometry(units_.rect(x, y, width, height).translated(clientEdge_, clientEdge_));
    if (id != 0) {
        controls_[id] = control;
    }
    templateOrder_.push_back(control);
}

QPushButton* CDialog::AddButton(int id, const char* caption, int x, int y, int width, int height,
                                bool pushLike) {
    const QString text = QString::fromLatin1(caption);
    QPushButton* button = pushLike ? new PushLikeButton(text, this) : new QPushButton(text, this);
    AddControl(id, button, x, y, width, height);
    button->setAutoDefault(false);
    return button;
}

void CDialog::EndTemplate() {
    QWidget* previous = nullptr;
    for (QWidget* control : templateOrder_) {
        if (control->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous) {
            setTabOrder(previous, control);
        }
        previous = control;
    }
}

QWidget* CDialog::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void CDialog::Bind(int id, std::function<void()> handler) {
    if (auto* button = qobject_cast<QPushButton*>(Control(id))) {
        connect(button, &QPushButton::clicked, this,
                [handler = std::move(handler)] { ErrorReport::run(handler); });
    }
}

void CDialog::FocusFirstControl() {
    for (QWidget* control : templateOrder_) {
        if (control->focusPolicy() != Qt::NoFocus) {
            control->setFocus();
            return;
        }
    }
}

int CDialog::DoModal() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (parentWidget() && parentWidget()->screen()) {
        screen = parentWidget()->screen();
    }
    if (screen) {
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    return exec();
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);
        return;
    }
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    auto* enter = qobject_cast<QPushButton*>(Control(enterButton_));
    if (focused && !focused->isCheckable() && focused->isEnabled()) {
        focused->click();
    } else if (enter && enter->isEnabled()) {
        enter->click();
    }
    event->accept();
}

void CDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (clientEdge_ > 0) {
        QPainter painter(this);
        qDrawWinPanel(&painter, rect(), palette(), true);
    }
}

}  // namespace chatterly
