#include "sites/shell_transfer_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace tarnwick::gui {

ShellTransferDialog::ShellTransferDialog(QWidget* parent)
    : QDialog(parent), fileList(new QListWidget(this)) {
    setWindowTitle(tr("Shell Transfer"));
    auto* label = new QLabel(tr("&Files to upload:"), this);
    label->setBuddy(fileList);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(fileList);
    layout->addWidget(buttons);
    resize(480, 280);
}

void ShellTransferDialog::ShowFiles(const QStringList& paths) {
    fileList->clear();
    fileList->addItems(paths);
    show();
    raise();
    activateWindow();
}

QStringList ShellTransferDialog::Files() const {
    QStringList paths;
    for (int row = 0; row < fileList->count(); ++row) paths << fileList->item(row)->text();
    return paths;
}

}  // namespace tarnwick::gui
