#include "prompts/confirm_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::gui {

ConfirmDialog::ConfirmDialog(Kind kind, QWidget* parent)
    : QDialog(parent), queueOnlyBox(new QCheckBox(this)) {
    const bool transfer = kind == Kind::kTransfer;
    setWindowTitle(transfer ? tr("Confirm Transfer") : tr("Confirm Delete"));
    auto* text = new QLabel(transfer ? tr("Are you sure to transfer the selected files?")
                                     : tr("Are you sure to delete all the selected files?"),
                            this);
    queueOnlyBox->setText(transfer ? tr("Add to queue only") : tr("Queue Only"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(queueOnlyBox);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
}

bool ConfirmDialog::QueueOnly() const {
    return queueOnlyBox->isChecked();
}

}  // namespace tarnwick::gui
