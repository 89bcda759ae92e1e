#include "panes/tree_cache_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::gui {

TreeCacheDialog::TreeCacheDialog(const QString& start, QWidget* parent)
    : QDialog(parent), start(start) {
    setWindowTitle(tr("Cache Directory Tree"));
    auto* label = new QLabel(tr("Starting Directory:"), this);
    directory = new QLineEdit(start, this);
    label->setBuddy(directory);
    queueOnly = new QCheckBox(tr("Queue Only"), this);
    // The walk always lists every directory afresh, so the choice is shown but fixed.
    refreshAll = new QCheckBox(tr("Refresh All"), this);
    refreshAll->setChecked(true);
    refreshAll->setEnabled(false);
    refreshAll->setToolTip(tr("Every directory of the tree is listed again from the server"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(directory);
    layout->addWidget(queueOnly);
    layout->addWidget(refreshAll);
    layout->addWidget(buttons);
    directory->selectAll();
}

QString TreeCacheDialog::Directory() const {
    const QString text = directory->text().trimmed();
    return text.isEmpty() ? start : text;
}

bool TreeCacheDialog::QueueOnly() const {
    return queueOnly->isChecked();
}

}  // namespace tarnwick::gui
