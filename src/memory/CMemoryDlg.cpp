#include "memory/CMemoryDlg.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "framework/AnsiCodec.h"
#include "framework/DialogUnits.h"
#include "framework/ErrorReport.h"
#include "framework/MessageBox.h"
#include "memory/MemoryIds.h"
#include "memory/StationMemory.h"

namespace chatterly {
namespace {

constexpr int kTemplateWidth = 211;
constexpr int kTemplateHeight = 114;

}  // namespace

CMemoryDlg::CMemoryDlg(const StationMemory& memory, QWidget* parent)
    : QDialog(parent), memory_(memory) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::dialogFont());
    setWindowTitle(QStringLiteral("Remote Parlio Memory"));
    buildControls();
}

CMemoryDlg::~CMemoryDlg() = default;

void CMemoryDlg::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.x(kTemplateWidth) + 2 * kClientEdge, du.y(kTemplateHeight) + 2 * kClientEdge);
    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(du.rect(x, y, width, height).translated(kClientEdge, kClientEdge));
    };
    auto button = [&](int id, const char* text, int x, int y, bool pushLike) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        place(b, x, y, 50, 14);
        b->setAutoDefault(false);
        b->setCheckable(pushLike);
        controls_[id] = b;
        return b;
    };

    list_ = new QListWidget(this);
    place(list_, 7, 7, 141, 46);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSortingEnabled(false);  // the editor decides every entry's place
    controls_[IDC_MEMORY_LIST] = list_;

    remove_ = button(IDC_MEMORY_REMOVE, "&Remove", 154, 39, false);

    address_ = new QLineEdit(this);
    place(address_, 7, 57, 141, 14);
    controls_[IDC_MEMORY_ADDRESS] = address_;
    alias_ = new QLineEdit(this);
    place(alias_, 7, 73, 141, 14);
    controls_[IDC_MEMORY_ALIAS] = alias_;

    ok_ = button(IDC_MEMORY_OK, "OK", 53, 93, false);
    cancel_ = button(IDC_MEMORY_CANCEL, "Cancel", 106, 93, false);

    auto label = [&](const char* text, int y) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        place(l, 153, y, 39, 10);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    };
    label("IP Address", 61);
    label("Alias", 77);

    add_ = button(IDC_MEMORY_ADD, "&Add", 154, 7, true);
    edit_ = button(IDC_MEMORY_EDIT, "&Edit", 154, 23, true);

    // Tab order is the template order.
    QWidget* order[] = {list_, remove_, address_, alias_, ok_, cancel_, add_, edit_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    bind(add_, &CMemoryDlg::OnAddButton);
    bind(edit_, &CMemoryDlg::OnEditButton);
    bind(remove_, &CMemoryDlg::OnRemoveButton);
    bind(ok_, &CMemoryDlg::ConfirmMemoryDialog);
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
}

void CMemoryDlg::bind(QPushButton* b, void (CMemoryDlg::*handler)()) {
    connect(b, &QPushButton::clicked, this,
            [this, handler] { ErrorReport::run([this, handler] { (this->*handler)(); }); });
}

QWidget* CMemoryDlg::control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

bool CMemoryDlg::InitMemoryDialog() {
    address_->setEnabled(false);
    alias_->setEnabled(false);
    editor_.Fill(memory_);
    list_->clear();
    for (const std::string& entry : editor_.Entries()) {
        list_->addItem(AnsiCodec::toQString(entry));
    }
    list_->setFocus();
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

std::optional<size_t> CMemoryDlg::selectedIndex() const {
    const auto selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<size_t>(list_->row(selected.first()));
}

void CMemoryDlg::showInserted(size_t index) {
    list_->insertItem(static_cast<int>(index), AnsiCodec::toQString(editor_.Entries()[index]));
}

void CMemoryDlg::takeFields(std::string& address, std::string& alias) {
    address = AnsiCodec::fromQString(address_->text());
    alias = AnsiCodec::fromQString(alias_->text());
    address_->clear();
    alias_->clear();
}

void CMemoryDlg::OnAddButton() {
    if (add_->isChecked()) {
        SetEditMode(true);
        add_->setEnabled(true);
        address_->setFocus();
        return;
    }
    std::string address;
    std::string alias;
    takeFields(address, alias);
    const MemoryEditor::AddOutcome outcome = editor_.FinishAdd(address, alias);
    if (outcome.refusal) {
        MessageBox::show(*outcome.refusal);
    } else if (outcome.inserted) {
        showInserted(*outcome.inserted);
    }
    SetEditMode(false);
}

void CMemoryDlg::OnEditButton() {
    if (edit_->isChecked()) {
        const std::optional<size_t> selected = selectedIndex();
        if (!selected) {
            MessageBox::show("You must select an item to edit.");
            edit_->setChecked(false);
            return;
        }
        SetEditMode(true);
        edit_->setEnabled(true);
        const MemoryEntry::Parts parts = editor_.BeginEdit(*selected);
        delete list_->takeItem(static_cast<int>(*selected));
        address_->setText(AnsiCodec::toQString(parts.address));
        if (parts.alias && !parts.alias->empty()) {
            alias_->setText(AnsiCodec::toQString(*parts.alias));
        }
        address_->setFocus();
        return;
    }
    std::string address;
    std::string alias;
    takeFields(address, alias);
    showInserted(editor_.FinishEdit(address, alias));
    SetEditMode(false);
}

void CMemoryDlg::OnRemoveButton() {
    const std::optional<size_t> selected = selectedIndex();
    if (!selected) {
        MessageBox::show("You must select an item to remove.");
        return;
    }
    editor_.RemoveAt(*selected);
    delete list_->takeItem(static_cast<int>(*selected));
}

void CMemoryDlg::ConfirmMemoryDialog() {
    EntryList = editor_.Confirm();
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

void CMemoryDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && !focused->isCheckable() && focused->isEnabled()) {
            focused->click();
        } else if (ok_->isEnabled()) {
            ok_->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMemoryDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), true);
}

int CMemoryDlg::RunModal() {
    InitMemoryDialog();
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

}  // namespace chatterly
