// A session's transfer queue: the ordered list of its QueueItems, shared between the
// session's worker (which runs the queue) and the front end (which adds, removes, reorders
// and shows items).
//
// Threads: every member function may be called from any thread; each one takes the queue's
// lock for its whole effect, so callers never see half a change. The item that a worker is
// executing is in state transferring, and the front-end operations (Remove, Clear, Move,
// ResetStates) never take out, move or reset such an item; only Add's replacement rule may
// unlink it. Items are shared_ptrs: an item that leaves the list stays alive for whoever
// still holds it (the worker, a view's snapshot).
//
// Notification: after every call that changed the list or an item's state, the changed
// handler is called on the calling thread, after the lock has been released (so it may
// call back into the queue), with what changed (QueueChange): Add and Append report the
// rows they inserted (Add's replacement reports the row as updated), AppendAll one range
// for the whole batch, Remove, Clear and RemoveSucceeded the ids and old rows they took out,
// Move the whole new order, StartNext, SetItemState and ResetStates the items whose state
// changed (ResetStates: one range from the first to the last of them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "queue/queue_item.h"

namespace tarnwick {

// The reorderings of the queue view.
enum class QueueMove { kUp, kDown, kToTop, kToBottom };

// What one change did to the queue, for views that update in ranges. Rows are positions
// in the queue right after the change; ids are QueueItem::id of the items concerned, in
// row order.
struct QueueChange {
    enum class Kind {
        kInserted,  // rows [first, first + count) are new
        kRemoved,   // the items `ids` left the queue (their rows before the change in `rows`)
        kMoved,     // the queue was reordered: `ids` is the whole new order
        kUpdated,   // the state of the items `ids` (rows [first, first + count)) changed
        kReset,     // anything else: read the whole queue again
    };
    Kind kind = Kind::kReset;
    size_t first = 0;
    size_t count = 0;
    std::vector<uint64_t> ids;
    std::vector<size_t> rows;  // kRemoved only: the rows the items had, ascending
};

// One pass of the queue run over the queue, from the head. Obtain it from
// TransferQueue::BeginWalk and use it only with that queue, on one thread.
class QueueWalk {
private:
    friend class TransferQueue;
    explicit QueueWalk(uint64_t id) : id_(id) {}
    uint64_t id_;
};

class TransferQueue {
public:
    using ItemList = std::vector<std::shared_ptr<QueueItem>>;
    using ChangedHandler = std::function<void(const QueueChange&)>;

    TransferQueue() = default;
    TransferQueue(const TransferQueue&) = delete;
    TransferQueue& operator=(const TransferQueue&) = delete;

    // Replaces the handler called after each change (an empty one silences the queue).
    void SetChangedHandler(ChangedHandler handler);

    // --- Adding (front end) ---

    // Adds a new item: if an item with the same clientPath, serverPath and operation is in
    // the queue, the new one takes its place (that item is only unlinked: it may be the one
    // the worker is executing) and -1 is returned; otherwise the item is appended and 0 is
    // returned. A null item is ignored (0).
    int Add(std::shared_ptr<QueueItem> item);
    // Appends without looking for a duplicate (a queue file import). A null item is ignored.
    void Append(std::shared_ptr<QueueItem> item);
    // Appends every (non-null) item at once, with one notification for all of them.
    void AppendAll(std::vector<std::shared_ptr<QueueItem>> items);

    // --- Front-end changes; none of them touches a transferring item ---

    // Takes the item out unless it is transferring or not in the queue; true if taken out.
    bool Remove(const QueueItem& item);
    // Takes out every listed item that is in the queue and not transferring; returns how
    // many were taken out.
    size_t Remove(const std::vector<const QueueItem*>& items);
    // Takes out every item that is not transferring; returns how many were taken out.
    size_t Clear();
    // Reorders the selected items as the queue view's Move commands do. Selected items keep
    // their relative order; a selected transferring item is not moved (an item moving past
    // it shifts it by one place, as it does any neighbour). Items not in the queue are
    // ignored.
    void Move(const std::vector<const QueueItem*>& selected, QueueMove move);
    // Every item in error (and, when includeStopped, every stopped one) becomes queued. A
    // transferring item is left to the worker executing it. Returns how many changed.
    size_t ResetStates(bool includeStopped);

    // --- Reading ---

    ItemList Snapshot() const;  // the items in queue order at this moment
    size_t Size() const;
    bool Empty() const;
    bool AllStopped() const;                      // empty, or every item stopped
    bool HasStopped() const;                      // some item stopped
    int PositionOf(const QueueItem& item) const;  // from 0; -1 when not in the queue

    // --- The queue run (worker) ---

    // Starts a pass over the queue.
    QueueWalk BeginWalk();
    // The first item, in the queue's current order, that this walk has not taken yet and
    // that is not stopped, now marked transferring; null when there is none. Items added,
    // removed or moved meanwhile are handled by that rule: every item in the queue is taken
    // at most once per walk, and none is missed.
    std::shared_ptr<QueueItem> StartNext(QueueWalk& walk);
    // Sets the state of an item (in the queue or not): the worker ends its item with error,
    // stopped or queued.
    void SetItemState(QueueItem& item, QueueState state);
    // Takes out an item that succeeded, whatever its state; false if it was not in the
    // queue (a replacement unlinked it meanwhile).
    bool RemoveSucceeded(const QueueItem& item);

private:
    // Index of the item in items_, or items_.size(). Lock held.
    size_t IndexOf(const QueueItem& item) const;
    // What a change did, built with the lock held.
    QueueChange Inserted(size_t first, size_t count) const;
    QueueChange Updated(size_t first, size_t count) const;
    QueueChange MovedTo() const;
    size_t RemoveIf(const std::function<bool(const QueueItem&)>& doomed);  // takes the lock
    void NotifyChanged(const QueueChange& change);

    mutable std::mutex mutex_;
    ItemList items_;
    std::shared_ptr<const ChangedHandler> changedHandler_;
};

}  // namespace tarnwick
