// The session list: one row per open session, by its host address, in the order the sessions
// were opened, with the popup that starts, stops, saves, imports and deletes their queues.
//
// SessionListModel is the rows. It listens to the list of open sessions (one insert when a
// session enters it, one remove when it leaves); the listener may be called on any thread, so
// the change is applied on the model's thread (at once when that is the caller's thread).
// Threads: the user-interface thread, but for the listener calls. Ownership: the model does
// not own the list of open sessions, which must outlive it; it replaces the list's listener
// while it lives.
//
// SessionListView is the list (several rows may be selected) with its popup. Its selection is
// the list of open sessions' selection; the current row is the caret, and sessionActivated
// tells when it moves. Threads: the user-interface thread. Ownership: the view owns its model.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <functional>
#include <vector>

#include "app/open_sessions.h"

class QMenu;

namespace tarnwick::gui {

class SessionListModel : public QAbstractListModel, public OpenSessionsListener {
    Q_OBJECT

public:
    explicit SessionListModel(OpenSessions& sessions, QObject* parent = nullptr);
    ~SessionListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    SessionId IdAt(int row) const;  // 0 when out of range
    int RowOf(SessionId id) const;  // -1 when not shown
    OpenSessions& Sessions() const { return sessions; }

    void OnSessionOpened(const std::shared_ptr<CFtpSession>& session) override;  // [any]
    void OnSessionClosed(SessionId id) override;                                 // [any]

private:
    struct Row {
        SessionId id;
        QString host;
    };
    void Insert(SessionId id, const QString& host);
    void Erase(SessionId id);

    OpenSessions& sessions;
    std::vector<Row> rows;
};

// What the popup offers, from the facts at the moment it opens.
struct SessionMenuFacts {
    bool onEntry = false;  // the popup was opened over an entry
    int entries = 0;       // rows in the list
    int selectedCanStart = 0;
    int selectedBusy = 0;
};
struct SessionMenuEnabling {
    bool start, stop, save, saveAll, deleteSessions;
};
SessionMenuEnabling EnableSessionMenu(const SessionMenuFacts& facts);

// The row that gets the caret after Delete: the index of the last selected row before the
// removal, or the last row when the list became shorter than that; -1 when it is empty.
int CaretAfterDelete(int lastSelectedRow, int rowsLeft);

class SessionListView : public QListView {
    Q_OBJECT

public:
    // Closes one session for Delete (out of the list, worker stopped, queue gone). The
    // default takes it out of the list of open sessions and closes it.
    using Closer = std::function<void(SessionId)>;

    explicit SessionListView(OpenSessions& sessions, QWidget* parent = nullptr);

    SessionListModel* Model() const { return listModel; }
    void SetCloser(Closer closer);
    // Makes the view's selection and caret those of the list of open sessions (after an
    // import chose the session of its last section).
    void SyncSelection();
    // Selects exactly that session and gives it the caret.
    void SelectSession(SessionId id);
    SessionId CurrentSession() const;

    // The popup as it would open now, over `row` (-1: over no entry); shown by the popup.
    QMenu* PreparePopup(int row);
    // The commands of the popup.
    void StartSelected();
    void StopSelected();
    void DeleteSelected();  // asks first

signals:
    void sessionActivated(tarnwick::SessionId id);
    void saveRequested(bool selectedOnly);
    void importRequested();
    void queueStartFailed(tarnwick::SessionId id);  // the worker could not be started

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SelectionToSessions();

    OpenSessions& sessions;
    SessionListModel* listModel;
    Closer closer;
    QMenu* popup;
    QAction* startAction;
    QAction* stopAction;
    QAction* saveAction;
    QAction* saveAllAction;
    QAction* importAction;
    QAction* deleteAction;
    QAction* selectAllAction;
    bool syncing = false;
};

}  // namespace tarnwick::gui
