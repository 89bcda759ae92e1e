// The Paste URL dialog and command: confirms one ftp URL (from the clipboard) and queues its
// download into the local pane's current directory, in an open session for the host or a new
// one, then starts that session's queue unless "Add to Queue Only" is checked.
//
// Threads: the user-interface thread; the dialog is modal and owned by the caller's stack.
#pragma once

#include <QDialog>

#include "sites/transfer_url.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace tarnwick::gui {

class PasteUrlDialog : public QDialog {
    Q_OBJECT

public:
    explicit PasteUrlDialog(const QString& url, QWidget* parent = nullptr);

    QString Url() const;
    bool AddToQueueOnly() const;
    bool ForceNewSession() const;
    bool Folder() const;

private:
    QLineEdit* urlEdit;
    QCheckBox* queueOnly;
    QCheckBox* forceNew;
    QRadioButton* fileButton;
    QRadioButton* folderButton;
};

// The panes' "Paste URL" command: runs the dialog with the clipboard text and queues the
// download into `localDir`. False when nothing was queued (cancelled, not an ftp URL, or no
// session).
bool PasteUrl(QWidget* parent, const std::string& localDir, const SessionForHost& sessionForHost);

// Appends to the session's queue the download of the server path `path` into `localDir`. The
// directory cache (when the session's settings use it) gives the entry's size, and says when
// the path is a directory, which is then downloaded as a tree like one marked `folder`.
void QueueUrlDownload(CFtpSession& session, const std::string& path, const std::string& localDir,
                      bool folder);

}  // namespace tarnwick::gui
