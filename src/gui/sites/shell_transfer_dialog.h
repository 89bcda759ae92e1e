// The Shell Transfer dialog: the local files another program handed over (tarnwick --send),
// listed for upload. Modeless, created hidden at start-up and reused; a new hand-over
// replaces the list. Choosing the target and queueing the upload come with the sites.
//
// Threads: the user-interface thread; owned by the main window.
#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;

namespace tarnwick::gui {

class ShellTransferDialog : public QDialog {
    Q_OBJECT

public:
    explicit ShellTransferDialog(QWidget* parent = nullptr);

    void ShowFiles(const QStringList& paths);
    QStringList Files() const;

private:
    QListWidget* fileList;
};

}  // namespace tarnwick::gui
