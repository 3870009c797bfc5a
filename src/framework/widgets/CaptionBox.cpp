#include "framework/widgets/CaptionBox.h"

#include <QAccessible>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>

namespace chatterly {

CaptionBox::CaptionBox(const QString& caption, QWidget* parent)
    : QGroupBox(parent), caption_(caption) {
    setAccessibleName(caption_);
}

QStyleOptionGroupBox CaptionBox::styleOption() const {
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    // The group box's own title stays empty, so its option names no label.
    option.text = caption_;
    if (!caption_.isEmpty()) {
        option.subControls |= QStyle::SC_GroupBoxLabel;
    }
    return option;
}

QRect CaptionBox::captionRect() const {
    const QStyleOptionGroupBox option = styleOption();
    return style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
}

// The caption's row across the whole box is repainted: measuring each new
// text to repaint less would cost more than the painting it saves.
void CaptionBox::setCaption(const QString& caption) {
    if (caption == caption_) {
        return;
    }
    caption_ = caption;
    // Telling the accessibility layer costs more than the painting; with no
    // assistive technology listening it waits for the next change after one
    // starts.
    if (QAccessible::isActive()) {
        setAccessibleName(caption_);
    }
    if (row_.isEmpty()) {
        const QRect label = captionRect();
        row_ = QRect(0, label.top(), width(), label.height());
    }
    repaint(row_);
}

// A new size, font or style may move the caption's row.
void CaptionBox::resizeEvent(QResizeEvent* event) {
    row_ = QRect();
    QGroupBox::resizeEvent(event);
}

void CaptionBox::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::LayoutDirectionChange:
            row_ = QRect();
            break;
        default:
            break;
    }
    QGroupBox::changeEvent(event);
}

// The style is not told the widget: some styles (Fusion) read the frame's
// top margin from the group box's own, empty title instead of the option.
void CaptionBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QStyleOptionGroupBox option = styleOption();
    style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, nullptr);
}

}  // namespace chatterly
