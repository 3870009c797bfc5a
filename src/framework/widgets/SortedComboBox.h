#pragma once
// An editable drop-down combo box whose list is kept in the station's order
// of texts (TextOrder, case-insensitive): every item goes to its sorted
// place, whatever the order they come in. Items come only through
// setSorted(); the edit field never inserts what is typed into the list.
// The list lives in a plain string model, so that filling it with many
// stations is one step and the box never measures every item for its width.

#include <QComboBox>
#include <string>
#include <vector>

class QStringListModel;

namespace chatterly {

class SortedComboBox : public QComboBox {
    Q_OBJECT
  public:
    explicit SortedComboBox(QWidget* parent = nullptr);

    // Replaces the list with these 8-bit texts (AnsiCodec), sorted once (equal
    // texts keep their order), and empties the edit field.
    void setSorted(std::vector<std::string> texts);

    // The list's items, in order.
    QStringList items() const;

  protected:
    // Enter and Return go on to the dialog, whose default button they press.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QStringListModel* list_;
};

}  // namespace chatterly
