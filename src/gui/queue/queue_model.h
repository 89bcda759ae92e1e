// QueueModel: the rows of the queue view, one per item of one session's transfer queue, in
// queue order, with the columns "ServerPath", "Operation", "ClientPath", "Size" and "Status".
//
// Threads: the user-interface thread only. The engine's queue changes arrive as QueueChange
// payloads (re-emitted by SessionBridge) and are applied as row ranges; they may arrive after
// the queue has changed again, so rows are found by item id, never by the payload's rows, and
// a payload that does not fit the rows held falls back to reading the whole queue.
// Ownership: the model shares ownership of the items it shows (an item that left the queue
// stays alive until its row goes); it does not own the queue, whose owner must outlive the
// model's use of it or call SetQueue(nullptr) first.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <memory>
#include <vector>

#include "queue/queue_item.h"
#include "queue/transfer_queue.h"

namespace tarnwick::gui {

class QueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kServerPath, kOperation, kClientPath, kSize, kStatus, kColumnCount };

    explicit QueueModel(QObject* parent = nullptr);

    // Shows the queue (null: no rows); host is the session's host address for Copy URL.
    void SetQueue(const TransferQueue* queue, const QString& host);
    const TransferQueue* Queue() const { return queue; }
    // Applies one change of the queue shown.
    void Apply(const QueueChange& change);
    // The running item's percent for its "Status" text (-1: none known); from the progress
    // snapshot on the status tick.
    void SetProgress(uint64_t itemId, int percent);

    std::shared_ptr<QueueItem> ItemAt(int row) const;
    int RowOf(uint64_t id) const;  // -1 when not shown
    // The ftp URL (MakeFtpUrl) of host and the serverPath of the row's item.
    QString UrlAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    static QString OperationText(QueueOperation operation);
    static QString StateText(QueueState state);
    void Refill();
    // The rows of those of the items that are shown, in the order given.
    std::vector<int> RowsOf(const std::vector<uint64_t>& ids) const;
    void ApplyInserted(const QueueChange& change);
    void ApplyRemoved(const QueueChange& change);
    void ApplyMoved(const QueueChange& change);
    void ApplyUpdated(const QueueChange& change);

    const TransferQueue* queue = nullptr;
    QString host;
    std::vector<std::shared_ptr<QueueItem>> rows;
    uint64_t progressItem = 0;
    int progressPercent = -1;
};

// What the queue view's popup offers, from the rows and the selection.
struct QueuePopupState {
    bool copyUrl = false;
    bool clearQueue = false;
    bool removeAndMove = false;
    bool resetQueue = false;
};
QueuePopupState QueuePopupFor(int rowCount, int selectedCount, bool queueEmpty);

}  // namespace tarnwick::gui
