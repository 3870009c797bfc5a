#pragma once
// The memory dialog "Remote Parlio Memory": the station's remembered remote
// stations as one sorted list of entries ("address" or "address == alias")
// that the user adds to, edits in place and removes from. Nothing reaches the
// station while the dialog runs; after OK the station reads EntryList and
// rebuilds its memory from it (StationMemory::rebuildFromEntries), after
// Cancel it does nothing.
//
// The window is kept thin: it places the controls of its template, mirrors
// MemoryEditor's entries in its list box and binds the buttons. Add and Edit
// are push-like check boxes: one click begins an edit (the fields open, every
// other control closes, so the dialog can be left neither by OK nor by Cancel
// nor by its close box), the next click ends it, unless a field holds what the
// station memory cannot store: the edit then goes on until the text is mended.

#include <QString>
#include <optional>
#include <string>
#include <utility>

#include "framework/streams/CStringArray.h"
#include "framework/widgets/CDialog.h"
#include "memory/MemoryEditor.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace chatterly {

class StationMemory;

class CMemoryDlg : public CDialog {
    Q_OBJECT
  public:
    // memory: the station's memory, only read; parent: the station window,
    // which owns the dialog's messages too.
    explicit CMemoryDlg(const StationMemory& memory, QWidget* parent = nullptr);
    ~CMemoryDlg() override;

    // Empty while the dialog runs; ConfirmMemoryDialog fills it with the
    // list's entries in list order.
    CStringArray EntryList;

    // Disables the fields and fills the list from the memory; puts the focus
    // on the first control in tab order (the list). Returns true.
    bool InitMemoryDialog();
    // Editing: fields enabled; Add, Edit, Remove, list, OK, Cancel disabled.
    // Browsing: the reverse.
    void SetEditMode(bool on);
    // The button handlers; Add and Edit have already changed state when they run.
    void OnAddButton();
    void OnEditButton();
    void OnRemoveButton();
    // OK: fills EntryList and closes the dialog with the OK result.
    void ConfirmMemoryDialog();

    // An Add begun with the fields filled in (a station found on the
    // network), for the user to edit and end with Add.
    void BeginAdd(const QString& address, const QString& alias);

    // Initialises the dialog, centres it on the screen, brings it to the
    // front and runs it modally, with an Add begun for adding (address,
    // alias) if given. Returns QDialog::Accepted after OK.
    int RunModal(std::optional<std::pair<QString, QString>> adding = std::nullopt);

    const MemoryEditor& Editor() const { return editor_; }

    // The width of the sunken client edge around the template's client area,
    // in pixels: control positions are the template's plus this much.
    static constexpr int kClientEdge = 2;

  protected:
    void accept() override;
    // Cancel, Escape and the close box: refused while Cancel is disabled.
    void reject() override;

  private:
    void BuildControls();
    // Gives every control its accessible name and description.
    void DescribeControls();
    std::optional<size_t> SelectedIndex() const;
    void ShowInserted(size_t index);
    void TakeFields(std::string& address, std::string& alias);
    // The end of an Add or an Edit (button just released) when a field holds
    // characters the station's encoding cannot hold: they would be stored as
    // '?', and two such aliases would become one. Says so for the first such
    // field (address before alias), presses button again and puts the focus
    // in that field, its text as typed: the edit goes on. False when both
    // fields can be stored.
    bool RefuseUnstorableField(QPushButton* button);

    const StationMemory& memory_;
    MemoryEditor editor_;
    QListWidget* list_ = nullptr;
    QPushButton* remove_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* alias_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* edit_ = nullptr;
};

}  // namespace chatterly
