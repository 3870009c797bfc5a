#include "framework/widgets/SortedComboBox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QStringListModel>
#include <algorithm>

#include "framework/streams/AnsiCodec.h"
#include "framework/streams/TextOrder.h"

namespace chatterly {

SortedComboBox::SortedComboBox(QWidget* parent)
    : QComboBox(parent), list_(new QStringListModel(this)) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
    setModel(list_);
    // The box's width is the window's; measuring thousands of stations to
    // find a width nobody uses would hold up the window's first showing.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void SortedComboBox::setSorted(std::vector<std::string> texts) {
    std::stable_sort(texts.begin(), texts.end(), TextOrder());
    QStringList items;
    items.reserve(static_cast<qsizetype>(texts.size()));
    for (const std::string& text : texts) {
        items.append(AnsiCodec::toQString(text));
    }
    list_->setStringList(items);
    setCurrentIndex(-1);
    clearEditText();
}

void SortedComboBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

QStringList SortedComboBox::items() const {
    return list_->stringList();
}

}  // namespace chatterly
