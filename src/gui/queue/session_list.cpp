#include "queue/session_list.h"

#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>

namespace tarnwick::gui {

// ---- the model ----

SessionListModel::SessionListModel(OpenSessions& sessions, QObject* parent)
    : QAbstractListModel(parent), sessions(sessions) {
    for (const auto& session : sessions.Sessions())
        rows.push_back({session->Id(), QString::fromStdString(session->HostAddress())});
    sessions.SetListener(this);
}

SessionListModel::~SessionListModel() {
    sessions.SetListener(nullptr);
}

int SessionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return rows[static_cast<size_t>(index.row())].host;
    return {};
}

SessionId SessionListModel::IdAt(int row) const {
    return row >= 0 && row < rowCount() ? rows[static_cast<size_t>(row)].id : SessionId{};
}

int SessionListModel::RowOf(SessionId id) const {
    const auto it =
        std::find_if(rows.begin(), rows.end(), [id](const Row& r) { return r.id == id; });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

void SessionListModel::OnSessionOpened(const std::shared_ptr<CFtpSession>& session) {
    const SessionId id = session->Id();
    const QString host = QString::fromStdString(session->HostAddress());
    QMetaObject::invokeMethod(
        this, [this, id, host] { Insert(id, host); }, Qt::AutoConnection);
}

void SessionListModel::OnSessionClosed(SessionId id) {
    QMetaObject::invokeMethod(
        this, [this, id] { Erase(id); }, Qt::AutoConnection);
}

void SessionListModel::Insert(SessionId id, const QString& host) {
    if (RowOf(id) >= 0 || !sessions.FindById(id)) return;  // shown, or gone meanwhile
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows.push_back({id, host});
    endInsertRows();
}

void SessionListModel::Erase(SessionId id) {
    const int row = RowOf(id);
    if (row < 0) return;
    beginRemoveRows({}, row, row);
    rows.erase(rows.begin() + row);
    endRemoveRows();
}

// ---- the rules ----

SessionMenuEnabling EnableSessionMenu(const SessionMenuFacts& facts) {
    return {facts.selectedCanStart > 0, facts.selectedBusy > 0, facts.onEntry, facts.entries > 0,
            facts.onEntry};
}

int CaretAfterDelete(int lastSelectedRow, int rowsLeft) {
    if (rowsLeft <= 0) return -1;
    return std::clamp(lastSelectedRow, 0, rowsLeft - 1);
}

// ---- the view ----

SessionListView::SessionListView(OpenSessions& sessions, QWidget* parent)
    : QListView(parent),
      sessions(sessions),
      listModel(new SessionListModel(sessions, this)),
      popup(new QMenu(this)) {
    setModel(listModel);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setAccessibleName(tr("Sessions"));
    SetCloser({});

    auto add = [this](const QString& text, const QString& tip, auto slot) {
        QAction* action = popup->addAction(text, this, slot);
        action->setToolTip(tip);
        return action;
    };
    startAction = add(tr("Start"), tr("Run the queues of the selected sessions"),
                      &SessionListView::StartSelected);
    stopAction = add(tr("Stop"), tr("Stop what the selected sessions are doing"),
                     &SessionListView::StopSelected);
    popup->addSeparator();
    saveAction = add(tr("Save..."), tr("Save the queues of the selected sessions to a file"),
                     [this] { emit saveRequested(true); });
    saveAllAction = add(tr("Save All.."), tr("Save the queues of all sessions to a file"),
                        [this] { emit saveRequested(false); });
    importAction = add(tr("Import..."), tr("Add the items of a queue file to the sessions"),
                       [this] { emit importRequested(); });
    popup->addSeparator();
    deleteAction = add(tr("Delete"), tr("Clear the queues and close the selected sessions"),
                       &SessionListView::DeleteSelected);
    deleteAction->setShortcut(QKeySequence::Delete);
    selectAllAction = add(tr("Select All"), tr("Select every session"), [this] {
        selectAll();
        setCurrentIndex(listModel->index(listModel->rowCount() - 1));
    });
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    popup->setToolTipsVisible(true);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SessionListView::SelectionToSessions);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) emit sessionActivated(listModel->IdAt(current.row()));
            });
    // A session that enters the list selected (a new connection) becomes the caret.
    connect(listModel, &QAbstractItemModel::rowsInserted, this, &SessionListView::SyncSelection);
}

void SessionListView::SetCloser(Closer newCloser) {
    if (newCloser) {
        closer = std::move(newCloser);
        return;
    }
    closer = [this](SessionId id) {
        if (auto session = sessions.FindById(id)) {
            sessions.Remove(*session);
            session->queue.Clear();
            session->CloseSession();
        }
    };
}

void SessionListView::SelectionToSessions() {
    if (syncing) return;
    for (int row = 0; row < listModel->rowCount(); ++row) {
        if (auto session = sessions.FindById(listModel->IdAt(row)))
            sessions.SetSelected(*session, selectionModel()->isRowSelected(row, {}));
    }
}

void SessionListView::SyncSelection() {
    QItemSelection selection;
    int caret = -1;
    for (const auto& session : sessions.Selected()) {
        const int row = listModel->RowOf(session->Id());
        if (row < 0) continue;
        selection.select(listModel->index(row), listModel->index(row));
        caret = row;
    }
    syncing = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    syncing = false;
    if (caret >= 0 && caret != currentIndex().row())
        selectionModel()->setCurrentIndex(listModel->index(caret), QItemSelectionModel::NoUpdate);
}

void SessionListView::SelectSession(SessionId id) {
    const int row = listModel->RowOf(id);
    if (row < 0) return;
    selectionModel()->setCurrentIndex(listModel->index(row), QItemSelectionModel::ClearAndSelect);
}

SessionId SessionListView::CurrentSession() const {
    return listModel->IdAt(currentIndex().row());
}

QMenu* SessionListView::PreparePopup(int row) {
    if (row >= 0 && !selectionModel()->isRowSelected(row, {})) SelectSession(listModel->IdAt(row));
    SessionMenuFacts facts{row >= 0, listModel->rowCount(), 0, 0};
    for (const auto& session : sessions.Selected()) {
        facts.selectedCanStart += session->CanStartQueue() ? 1 : 0;
        facts.selectedBusy += session->IsBusy() ? 1 : 0;
    }
    const SessionMenuEnabling on = EnableSessionMenu(facts);
    startAction->setEnabled(on.start);
    stopAction->setEnabled(on.stop);
    saveAction->setEnabled(on.save);
    saveAllAction->setEnabled(on.saveAll);
    deleteAction->setEnabled(on.deleteSessions);
    return popup;
}

void SessionListView::contextMenuEvent(QContextMenuEvent* event) {
    QPoint at = event->pos();
    int row = indexAt(at).row();
    if (event->reason() == QContextMenuEvent::Keyboard) {  // over the caret
        row = selectionModel()->isRowSelected(currentIndex().row(), {}) ? currentIndex().row() : -1;
        at = row >= 0 ? visualRect(currentIndex()).center() : QPoint(0, 0);
    }
    PreparePopup(row)->popup(viewport()->mapToGlobal(at));
}

void SessionListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Delete) && !selectionModel()->selectedRows().isEmpty()) {
        DeleteSelected();
        return;
    }
    QListView::keyPressEvent(event);
}

void SessionListView::StartSelected() {
    for (const auto& session : sessions.Selected()) {
        if (session->CanStartQueue() && session->StartQueue().kind == StartQueueResult::kNoThread)
            emit queueStartFailed(session->Id());
    }
}

void SessionListView::StopSelected() {
    for (const auto& session : sessions.Selected())
        if (session->IsBusy()) session->Stop();
}

void SessionListView::DeleteSelected() {
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    if (QMessageBox::question(
            this, tr("Tarnwick"),
            tr("Are you sure to clear entire queue and close session for the selected sites?"),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    int lastSelected = -1;
    std::vector<SessionId> doomed;
    for (const QModelIndex& index : selected) {
        lastSelected = std::max(lastSelected, index.row());
        doomed.push_back(listModel->IdAt(index.row()));
    }
    QPointer<SessionListView> alive(this);
    for (SessionId id : doomed) closer(id);
    if (alive.isNull()) return;
    const int caret = CaretAfterDelete(lastSelected, listModel->rowCount());
    if (caret < 0) {
        emit sessionActivated(SessionId{});  // nothing left: an empty queue view
        return;
    }
    const SessionId id = listModel->IdAt(caret);
    SelectSession(id);
    emit sessionActivated(id);  // even when the caret's row number did not move
}

}  // namespace tarnwick::gui
