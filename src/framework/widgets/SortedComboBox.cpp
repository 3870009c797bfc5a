#include "framework/widgets/SortedComboBox.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace chatterly {

SortedComboBox::SortedComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
}

int SortedComboBox::addSorted(const QString& text) {
    const QString keep = currentText();
    int at = 0;
    while (at < count() && QString::compare(itemText(at), text, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    insertItem(at, text);
    // Inserting into an editable box may select the item; the edit text stays.
    setEditText(keep);
    return at;
}

void SortedComboBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

QStringList SortedComboBox::items() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) {
        out << itemText(i);
    }
    return out;
}

}  // namespace chatterly
