#pragma once
// An editable drop-down combo box whose list is kept in alphabetical order
// without regard to case: every item goes to its sorted place, whatever the
// order of adding. Items are added only through addSorted(); the edit field
// never inserts what is typed into the list.

#include <QComboBox>

namespace chatterly {

class SortedComboBox : public QComboBox {
    Q_OBJECT
  public:
    explicit SortedComboBox(QWidget* parent = nullptr);

    // Inserts text at its sorted place (after equal items) and returns the index.
    int addSorted(const QString& text);

    // The list's items, in order.
    QStringList items() const;

  protected:
    // Enter and Return go on to the dialog, whose default button they press.
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace chatterly
