#include "memory/CMemoryDlg.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <tuple>
#include <utility>

#include "framework/streams/AnsiCodec.h"
#include "framework/widgets/ControlDescriptions.h"
#include "framework/widgets/MessageBox.h"
#include "memory/MemoryIds.h"
#include "memory/StationMemory.h"

namespace chatterly {

CMemoryDlg::CMemoryDlg(const StationMemory& memory, QWidget* parent)
    : CDialog({QStringLiteral("Remote Parlio Memory"), 211, 114, false, kClientEdge}, parent),
      memory_(memory) {
    BuildControls();
}

CMemoryDlg::~CMemoryDlg() = default;

void CMemoryDlg::BuildControls() {
    list_ = AddControl(IDC_MEMORY_LIST, new QListWidget(this), 7, 7, 141, 46);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSortingEnabled(false);  // the editor decides every entry's place
    // Every entry is one line of the same font: the list need not measure
    // each of many thousands to lay them out.
    list_->setUniformItemSizes(true);
    remove_ = AddButton(IDC_MEMORY_REMOVE, "&Remove", 154, 39, 50, 14);
    address_ = AddControl(IDC_MEMORY_ADDRESS, new QLineEdit(this), 7, 57, 141, 14);
    alias_ = AddControl(IDC_MEMORY_ALIAS, new QLineEdit(this), 7, 73, 141, 14);
    ok_ = AddButton(IDC_MEMORY_OK, "OK", 53, 93, 50, 14);
    cancel_ = AddButton(IDC_MEMORY_CANCEL, "Cancel", 106, 93, 50, 14);
    // Each label names the field beside it: its buddy, so assistive
    // technology reads the field by the label's text.
    for (const auto& [text, y, field] :
         {std::tuple{"IP Address", 61, address_}, std::tuple{"Alias", 77, alias_}}) {
        auto* label = AddControl(0, new QLabel(QString::fromLatin1(text), this), 153, y, 39, 10);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setBuddy(field);
    }
    add_ = AddButton(IDC_MEMORY_ADD, "&Add", 154, 7, 50, 14, true);
    edit_ = AddButton(IDC_MEMORY_EDIT, "&Edit", 154, 23, 50, 14, true);
    EndTemplate();
    SetEnterButton(IDC_MEMORY_OK);
    DescribeControls();

    Bind(IDC_MEMORY_ADD, [this] { OnAddButton(); });
    Bind(IDC_MEMORY_EDIT, [this] { OnEditButton(); });
    Bind(IDC_MEMORY_REMOVE, [this] { OnRemoveButton(); });
    Bind(IDC_MEMORY_OK, [this] { ConfirmMemoryDialog(); });
    Bind(IDC_MEMORY_CANCEL, [this] { reject(); });
}

void CMemoryDlg::DescribeControls() {
    // Names as the user sees them (a button's caption without its '&', a
    // field's label), and one sentence on what each control does.
    describeControls({
        {list_, "Remembered stations",
         "The remembered stations, each an address or \"address == alias\"; select one to edit "
         "or remove it."},
        {remove_, "Remove", "Forgets the selected station."},
        {address_, "IP Address", "The station's address or host name."},
        {alias_, "Alias", "Another name to call the station by; it may stay empty."},
        {ok_, "OK", "Keeps the changes and closes the window."},
        {cancel_, "Cancel", "Closes the window and forgets the changes."},
        {add_, "Add", "Opens the fields for a new station; pressed again, adds it."},
        {edit_, "Edit",
         "Opens the selected station in the fields; pressed again, puts it back changed."},
    });
}

bool CMemoryDlg::InitMemoryDialog() {
    address_->setEnabled(false);
    alias_->setEnabled(false);
    editor_.fill(memory_);
    QStringList items;
    items.reserve(static_cast<qsizetype>(editor_.count()));
    for (const std::string& entry : editor_.entries()) {
        items.append(AnsiCodec::toQString(entry));
    }
    list_->clear();
    list_->addItems(items);
    FocusFirstControl();
    return true;
}

void CMemoryDlg::SetEditMode(bool on) {
    address_->setEnabled(on);
    alias_->setEnabled(on);
    for (QWidget* w : {static_cast<QWidget*>(add_), static_cast<QWidget*>(edit_),
                       static_cast<QWidget*>(remove_), static_cast<QWidget*>(list_),
                       static_cast<QWidget*>(ok_), static_cast<QWidget*>(cancel_)}) {
        w->setEnabled(!on);
    }
}

std::optional<size_t> CMemoryDlg::SelectedIndex() const {
    const auto selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<size_t>(list_->row(selected.first()));
}

void CMemoryDlg::ShowInserted(size_t index) {
    list_->insertItem(static_cast<int>(index), AnsiCodec::toQString(editor_.entries()[index]));
}

void CMemoryDlg::TakeFields(std::string& address, std::string& alias) {
    address = AnsiCodec::fromQString(address_->text());
    alias = AnsiCodec::fromQString(alias_->text());
    address_->clear();
    alias_->clear();
}

bool CMemoryDlg::RefuseUnstorableField(QPushButton* button) {
    for (const auto& [what, field] : {std::pair{"address", address_}, std::pair{"alias", alias_}}) {
        const QString missing = AnsiCodec::unencodable(field->text());
        if (missing.isEmpty()) {
            continue;
        }
        button->setChecked(true);
        MessageBox::show(QStringLiteral("The ") + QLatin1String(what) + QStringLiteral(" \"") +
                         field->text() +
                         QStringLiteral("\" cannot be stored: the station memory cannot hold ") +
                         missing + QLatin1Char('.'));
        field->setFocus();
        return true;
    }
    return false;
}

void CMemoryDlg::OnAddButton() {
    if (add_->isChecked()) {
        SetEditMode(true);
        add_->setEnabled(true);
        address_->setFocus();
        return;
    }
    if (RefuseUnstorableField(add_)) {
        return;
    }
    std::string address;
    std::string alias;
    TakeFields(address, alias);
    const MemoryEditor::AddOutcome outcome = editor_.finishAdd(address, alias);
    if (outcome.refusal) {
        MessageBox::show(*outcome.refusal);
    } else if (outcome.inserted) {
        ShowInserted(*outcome.inserted);
    }
    SetEditMode(false);
}

void CMemoryDlg::OnEditButton() {
    if (edit_->isChecked()) {
        const std::optional<size_t> selected = SelectedIndex();
        if (!selected) {
            MessageBox::show("You must select an item to edit.");
            edit_->setChecked(false);
            return;
        }
        SetEditMode(true);
        edit_->setEnabled(true);
        const MemoryEntry::Parts parts = editor_.beginEdit(*selected);
        delete list_->takeItem(static_cast<int>(*selected));
        address_->setText(AnsiCodec::toQString(parts.address));
        if (parts.alias && !parts.alias->empty()) {
            alias_->setText(AnsiCodec::toQString(*parts.alias));
        }
        address_->setFocus();
        return;
    }
    // Refused, the entry stays out of the list until the edit ends.
    if (RefuseUnstorableField(edit_)) {
        return;
    }
    std::string address;
    std::string alias;
    TakeFields(address, alias);
    ShowInserted(editor_.finishEdit(address, alias));
    SetEditMode(false);
}

void CMemoryDlg::OnRemoveButton() {
    const std::optional<size_t> selected = SelectedIndex();
    if (!selected) {
        MessageBox::show("You must select an item to remove.");
        return;
    }
    editor_.removeAt(*selected);
    delete list_->takeItem(static_cast<int>(*selected));
}

void CMemoryDlg::ConfirmMemoryDialog() {
    EntryList = editor_.confirm();
    QDialog::accept();
}

void CMemoryDlg::accept() {
    ConfirmMemoryDialog();
}

void CMemoryDlg::reject() {
    // As with the platform's dialogs: while Cancel is disabled (editing), the
    // close box and Escape do nothing.
    if (!cancel_->isEnabled()) {
        QApplication::beep();
        return;
    }
    QDialog::reject();
}

void CMemoryDlg::BeginAdd(const QString& address, const QString& alias) {
    add_->setChecked(true);
    OnAddButton();
    address_->setText(address);
    alias_->setText(alias);
    alias_->setFocus();
    alias_->selectAll();
}

int CMemoryDlg::RunModal(std::optional<std::pair<QString, QString>> adding) {
    InitMemoryDialog();
    if (adding) {
        BeginAdd(adding->first, adding->second);
    }
    return DoModal();
}

}  // namespace chatterly
