// The Shell Transfer dialog: the local files another program handed over (tarnwick --send)
// and the ftp URL they are uploaded to. Modeless, created hidden at start-up and reused; a
// new hand-over replaces the list. OK queues one upload item per existing file in the
// session SessionForHost gives, and starts its queue when "Start Immediately" is checked.
//
// Threads: the user-interface thread; owned by the main window.
#pragma once

#include <QDialog>
#include <QStringList>

#include "sites/transfer_url.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace tarnwick::gui {

class ShellTransferDialog : public QDialog {
    Q_OBJECT

public:
    explicit ShellTransferDialog(QWidget* parent = nullptr);

    void SetSessionForHost(SessionForHost provider) { sessionForHost = std::move(provider); }
    void ShowFiles(const QStringList& paths);
    QStringList Files() const;
    void SetDestination(const QString& text);

    void accept() override;
    void reject() override;

private:
    void BringMainWindowUp();

    SessionForHost sessionForHost;
    QLabel* caption;
    QListWidget* fileList;
    QLineEdit* destination;
    QCheckBox* startImmediately;
};

}  // namespace tarnwick::gui
