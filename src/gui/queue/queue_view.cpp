#include "queue/queue_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <algorithm>
#include <set>

#include "app/session_bridge.h"
#include "listing/clipboard_urls.h"
#include "panes/file_pane_view.h"

namespace tarnwick::gui {

int QueuePercentOf(const ProgressSnapshot& progress) {
    if (!progress.transferring || progress.fileSize <= 0) return -1;
    const auto size = static_cast<uint64_t>(progress.fileSize);
    return static_cast<int>(std::min<uint64_t>(progress.bytesDone, size) * 100 / size);
}

QueueView::QueueView(OpenSessions& openSessions, SessionBridge& bridge, QWidget* parent)
    : QTreeView(parent), sessions(openSessions) {
    setModel(&model);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setAccessibleName(tr("Queue"));
    header()->setStretchLastSection(false);
    // "Status" is wide enough for the running item's text with its percent.
    const int statusWidth =
        fontMetrics().horizontalAdvance(
            QueueModel::tr("%1 %2%").arg(QueueModel::tr("transferring")).arg(100)) +
        24;
    const int widths[] = {200, 100, 200, 100, std::max(80, statusWidth)};
    for (int column = 0; column < QueueModel::kColumnCount; ++column)
        setColumnWidth(column, widths[column]);

    Commands& c = commands;
    c.moveUp =
        AddCommand(tr("Move Up"), tr("Move the selected items up by one"),
                   QKeySequence(Qt::CTRL | Qt::Key_Up), [this] { MoveSelected(QueueMove::kUp); });
    c.moveDown = AddCommand(tr("Move Down"), tr("Move the selected items down by one"),
                            QKeySequence(Qt::CTRL | Qt::Key_Down),
                            [this] { MoveSelected(QueueMove::kDown); });
    c.moveToTop = AddCommand(tr("Move to Top"), tr("Move the selected items to the top"),
                             QKeySequence(Qt::CTRL | Qt::Key_Home),
                             [this] { MoveSelected(QueueMove::kToTop); });
    c.moveToBottom = AddCommand(tr("Move to Bottom"), tr("Move the selected items to the bottom"),
                                QKeySequence(Qt::CTRL | Qt::Key_End),
                                [this] { MoveSelected(QueueMove::kToBottom); });
    c.remove = AddCommand(tr("Remove"), tr("Remove the selected items from the queue"),
                          QKeySequence::Delete, [this] { RemoveSelected(); });
    c.resetQueue = AddCommand(tr("Reset Queue"), tr("Make every item of the queue queued again"),
                              {}, [this] { ResetQueue(); });
    c.clearQueue = AddCommand(tr("Clear Queue"), tr("Remove every item from the queue"), {},
                              [this] { ClearQueue(); });
    c.selectAll = AddCommand(tr("Select All"), tr("Select every item of the queue"),
                             QKeySequence::SelectAll, [this] { SelectAllRows(); });
    c.copyUrl = AddCommand(tr("Copy URL"), tr("Copy the URL of the selected item"),
                           QKeySequence::Copy, [this] { CopyUrl(); });

    connect(&bridge, &SessionBridge::queueChanged, this,
            [this](SessionId id, const QueueChange& change) {
                if (shown && shown->Id() == id) model.Apply(change);
            });
    connect(&bridge, &SessionBridge::queueItemStarted, this,
            [this](SessionId id, quint64 itemId, bool done) {
                if (!shown || shown->Id() != id) return;
                runningItem = done ? 0 : itemId;
                model.SetProgress(runningItem, -1);
            });
}

QAction* QueueView::AddCommand(const QString& text, const QString& tip, const QKeySequence& key,
                               const std::function<void()>& run) {
    auto* action = new QAction(text, this);
    action->setToolTip(tip);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, run);
    return action;
}

void QueueView::SetSession(SessionId id) {
    // The rows of the session shown already follow its queue: no second fill.
    if (Session() == id) return;
    shown = id != 0 ? sessions.FindById(id) : nullptr;
    runningItem = 0;
    if (shown) {
        model.SetQueue(&shown->queue, QString::fromStdString(shown->HostAddress()));
    } else {
        model.SetQueue(nullptr, {});
    }
}

void QueueView::SessionClosed(SessionId id) {
    if (shown && shown->Id() == id) SetSession(0);
}

void QueueView::UpdateProgress() {
    if (!shown || runningItem == 0) return;
    model.SetProgress(runningItem, QueuePercentOf(shown->Progress()));
}

std::vector<const QueueItem*> QueueView::SelectedItems() const {
    std::set<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.insert(index.row());
    std::vector<const QueueItem*> items;
    for (int row : rows)
        if (auto item = model.ItemAt(row)) items.push_back(item.get());
    return items;
}

int QueueView::SelectedRowCount() const {
    return static_cast<int>(selectionModel()->selectedRows().size());
}

void QueueView::MoveSelected(QueueMove move) {
    if (shown) shown->queue.Move(SelectedItems(), move);
}

void QueueView::RemoveSelected() {
    if (shown) shown->queue.Remove(SelectedItems());
}

void QueueView::ClearQueue() {
    if (!shown) return;
    shown->queue.Clear();
    if (shown->queue.Empty()) emit queueCleared(shown->Id());
}

void QueueView::ResetQueue() {
    if (shown) shown->ResetQueue(true);
}

void QueueView::CopyUrl() {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.size() != 1) return;
    PutUrlsOnClipboard({model.UrlAt(rows.front().row()).toStdString()}, this);
}

void QueueView::SelectAllRows() {
    selectAll();
    if (model.rowCount() > 0)
        selectionModel()->setCurrentIndex(model.index(model.rowCount() - 1, 0),
                                          QItemSelectionModel::NoUpdate);
}

void QueueView::contextMenuEvent(QContextMenuEvent* event) {
    const QueuePopupState state =
        QueuePopupFor(model.rowCount(), SelectedRowCount(), !shown || shown->queue.Empty());
    Commands& c = commands;
    c.copyUrl->setEnabled(state.copyUrl);
    c.clearQueue->setEnabled(state.clearQueue);
    for (QAction* action : {c.remove, c.moveUp, c.moveDown, c.moveToTop, c.moveToBottom})
        action->setEnabled(state.removeAndMove);
    c.resetQueue->setEnabled(state.resetQueue);
    QMenu menu(this);
    menu.setToolTipsVisible(true);
    menu.addActions({c.moveUp, c.moveDown, c.moveToTop, c.moveToBottom});
    menu.addSeparator();
    menu.addActions({c.remove, c.resetQueue, c.clearQueue});
    menu.addSeparator();
    menu.addActions({c.selectAll, c.copyUrl});
    menu.exec(event->globalPos());
    // The keyboard shortcuts stay live; each command checks its own preconditions.
    for (QAction* action : actions()) action->setEnabled(true);
}

FilePaneView* QueueView::SourcePane(QDropEvent* event) {
    for (QObject* object = event->source(); object != nullptr; object = object->parent())
        if (auto* pane = qobject_cast<FilePaneView*>(object)) return pane;
    return nullptr;
}

void QueueView::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);  // an enter is a move with a start
}

void QueueView::dragMoveEvent(QDragMoveEvent* event) {
    if (SourcePane(event) != nullptr) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void QueueView::dropEvent(QDropEvent* event) {
    FilePaneView* source = SourcePane(event);
    if (source == nullptr) return event->ignore();
    event->acceptProposedAction();
    emit paneDropped(source);
}

}  // namespace tarnwick::gui
