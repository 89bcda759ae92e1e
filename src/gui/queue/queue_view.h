// QueueView: the main window's queue pane, a QTreeView over a QueueModel showing the queue of
// one session at a time, with the popup that reorders, removes, resets and clears items and
// copies an item's URL. A drop of a file pane's items on it queues them without starting.
//
// Threads: the user-interface thread only. The session's worker may run the queue meanwhile:
// the view changes the queue only through TransferQueue's locked calls (which never touch a
// transferring item) and learns of every change from SessionBridge::queueChanged.
// Ownership: the view holds the session it shows (so the model's queue stays alive) until
// SetSession switches or SessionClosed lets it go; the list of open sessions and the bridge
// are the caller's and must outlive the view.
#pragma once

#include <QTreeView>
#include <functional>
#include <memory>
#include <vector>

#include "app/open_sessions.h"
#include "queue/queue_model.h"

class QAction;

namespace tarnwick::gui {

class FilePaneView;
class SessionBridge;

class QueueView : public QTreeView {
    Q_OBJECT

public:
    QueueView(OpenSessions& sessions, SessionBridge& bridge, QWidget* parent = nullptr);

    // Shows the queue of the listed session with this id (0 or not listed: none).
    void SetSession(SessionId id);
    SessionId Session() const { return shown ? shown->Id() : 0; }
    // Called when a session has left the list: the view lets go of it if it shows it.
    void SessionClosed(SessionId id);
    QueueModel& Model() { return model; }
    bool HasItems() const { return model.rowCount() > 0; }
    // The half-second tick: the running item's "Status" shows the current file's percent.
    void UpdateProgress();

    // The popup's commands, on the session shown.
    void MoveSelected(QueueMove move);
    void RemoveSelected();
    void ClearQueue();
    void ResetQueue();
    void CopyUrl();
    void SelectAllRows();

signals:
    // Clear Queue left this session's queue empty.
    void queueCleared(tarnwick::SessionId id);
    // A file pane's selected items were dropped here: queue them only.
    void paneDropped(tarnwick::gui::FilePaneView* source);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAction* AddCommand(const QString& text, const QString& tip, const QKeySequence& key,
                        const std::function<void()>& run);
    std::vector<const QueueItem*> SelectedItems() const;
    int SelectedRowCount() const;
    static FilePaneView* SourcePane(QDropEvent* event);

    OpenSessions& sessions;
    QueueModel model;
    std::shared_ptr<CFtpSession> shown;
    uint64_t runningItem = 0;  // from queueItemStarted
    struct Commands {
        QAction* moveUp;
        QAction* moveDown;
        QAction* moveToTop;
        QAction* moveToBottom;
        QAction* remove;
        QAction* resetQueue;
        QAction* clearQueue;
        QAction* selectAll;
        QAction* copyUrl;
    } commands{};
};

// The "transferring" percent of the running item from a progress snapshot: bytes done of the
// current file's size, 0 to 100; -1 when no transfer with a known size is under way.
int QueuePercentOf(const ProgressSnapshot& progress);

}  // namespace tarnwick::gui
