#include "sites/shell_transfer_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "session/ftp_session.h"

namespace tarnwick::gui {

ShellTransferDialog::ShellTransferDialog(QWidget* parent)
    : QDialog(parent),
      caption(new QLabel(this)),
      fileList(new QListWidget(this)),
      destination(new QLineEdit(this)),
      startImmediately(new QCheckBox(tr("&Start Immediately"), this)) {
    setWindowTitle(tr("Shell Transfer"));
    fileList->setAccessibleName(tr("Files to transfer"));
    caption->setBuddy(destination);
    auto* hint = new QLabel(tr("(You can supply a ftp URL or a local directory)"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* show = buttons->addButton(tr("Show &Tarnwick"), QDialogButtonBox::ActionRole);
    show->setToolTip(tr("Bring the main window up"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ShellTransferDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ShellTransferDialog::reject);
    connect(show, &QPushButton::clicked, this, [this] {
        BringMainWindowUp();
        raise();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(destination);
    layout->addWidget(hint);
    layout->addWidget(fileList);
    layout->addWidget(startImmediately);
    layout->addWidget(buttons);
    resize(480, 320);
    caption->setText(tr("Transfer %1 files to:").arg(0));
}

void ShellTransferDialog::ShowFiles(const QStringList& paths) {
    fileList->clear();
    fileList->addItems(paths);
    caption->setText(tr("Transfer %1 files to:").arg(paths.size()));
    startImmediately->setChecked(true);
    show();
    raise();
    activateWindow();
}

QStringList ShellTransferDialog::Files() const {
    QStringList paths;
    for (int row = 0; row < fileList->count(); ++row) paths << fileList->item(row)->text();
    return paths;
}

void ShellTransferDialog::SetDestination(const QString& text) {
    destination->setText(text);
}

void ShellTransferDialog::accept() {
    const std::optional<UrlParts> url = ParseFtpUrlText(destination->text().toStdString(), true);
    if (!url) {
        QMessageBox::warning(this, windowTitle(), tr("Invalid URL!"));
        destination->setFocus();
        return;
    }
    std::shared_ptr<CFtpSession> session = sessionForHost ? sessionForHost(*url, false) : nullptr;
    if (session) {
        std::vector<LocalPathFacts> facts;
        for (const QString& path : Files()) facts.push_back(LookUpLocalPath(path.toStdString()));
        std::vector<std::string> missing;
        auto items = BuildUploadItems(facts, url->path, missing);
        for (const std::string& path : missing)
            QMessageBox::warning(this, windowTitle(),
                                 QString::fromStdString(path) + tr(" not accessible!"));
        session->queue.AppendAll(std::move(items));
        if (startImmediately->isChecked() && session->CanStartQueue()) session->StartQueue();
    }
    hide();
    BringMainWindowUp();
}

void ShellTransferDialog::reject() {
    hide();
    BringMainWindowUp();
}

void ShellTransferDialog::BringMainWindowUp() {
    if (QWidget* main = parentWidget()) {
        main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
        main->show();
        main->raise();
        main->activateWindow();
    }
}

}  // namespace tarnwick::gui
