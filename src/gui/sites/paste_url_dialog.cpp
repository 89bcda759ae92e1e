#include "sites/paste_url_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "listing/directory_cache.h"
#include "session/ftp_session.h"

namespace tarnwick::gui {

PasteUrlDialog::PasteUrlDialog(const QString& url, QWidget* parent)
    : QDialog(parent),
      urlEdit(new QLineEdit(url, this)),
      queueOnly(new QCheckBox(tr("Add to &Queue Only"), this)),
      forceNew(new QCheckBox(tr("Force &New Session"), this)),
      fileButton(new QRadioButton(tr("&File"), this)),
      folderButton(new QRadioButton(tr("F&older"), this)) {
    setWindowTitle(tr("Paste URL"));
    auto* text = new QLabel(tr("Are you sure to transfer the following &URL?"), this);
    text->setBuddy(urlEdit);
    auto* kind = new QButtonGroup(this);  // neither chosen at first: a file
    kind->addButton(fileButton, 0);
    kind->addButton(folderButton, 1);
    auto* kindRow = new QHBoxLayout;
    kindRow->addWidget(fileButton);
    kindRow->addWidget(folderButton);
    kindRow->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(urlEdit);
    layout->addLayout(kindRow);
    layout->addWidget(queueOnly);
    layout->addWidget(forceNew);
    layout->addWidget(buttons);
    resize(460, sizeHint().height());
}

QString PasteUrlDialog::Url() const {
    return urlEdit->text();
}
bool PasteUrlDialog::AddToQueueOnly() const {
    return queueOnly->isChecked();
}
bool PasteUrlDialog::ForceNewSession() const {
    return forceNew->isChecked();
}
bool PasteUrlDialog::Folder() const {
    return folderButton->isChecked();
}

bool PasteUrl(QWidget* parent, const std::string& localDir, const SessionForHost& sessionForHost) {
    PasteUrlDialog dialog(QGuiApplication::clipboard()->text(), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    const std::optional<UrlParts> url =
        ParseFtpUrlText(dialog.Url().trimmed().toStdString(), false);
    if (!url || !sessionForHost) return false;
    std::shared_ptr<CFtpSession> session = sessionForHost(*url, dialog.ForceNewSession());
    if (!session) return false;
    QueueUrlDownload(*session, url->path, localDir, dialog.Folder());
    if (!dialog.AddToQueueOnly() && session->CanStartQueue()) session->StartQueue();
    return true;
}

void QueueUrlDownload(CFtpSession& session, const std::string& path, const std::string& localDir,
                      bool folder) {
    int64_t size = kUnknownSize;
    FileEntry cached;
    const AppSettings& settings = session.CommandSettings();
    if (settings.enableCache &&
        LookupCachedEntry(settings.cacheHomeDirectory, session.HostAddress(), path, cached)) {
        folder = folder || cached.isDirectory;
        if (!folder) size = static_cast<int64_t>(cached.Size());
    }
    session.queue.Append(MakeQueueItem(QueueOperation::kDownload, localDir, path, size,
                                       folder ? QueueItemKind::kDirectory : QueueItemKind::kFile));
}

}  // namespace tarnwick::gui
