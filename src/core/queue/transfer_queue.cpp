// The transfer queue list and its locking.
#include "queue/transfer_queue.h"

#include <algorithm>
#include <atomic>
#include <unordered_set>
#include <utility>

namespace tarnwick {

namespace {

using ItemList = TransferQueue::ItemList;
using ItemSet = std::unordered_set<const QueueItem*>;

// Walk ids are unique in the process, so a walk never matches a mark left by another one.
std::atomic<uint64_t> nextWalkId{1};

bool IsTransferring(const QueueItem& item) {
    return item.State() == QueueState::kTransferring;
}

// A selected item that may be moved.
bool Movable(const ItemSet& selected, const QueueItem& item) {
    return selected.count(&item) != 0 && !IsTransferring(item);
}

// Walking from the head, once an unselected item has been seen, each movable item swaps
// with its predecessor. Walking from the tail mirrors it.
void MoveUp(ItemList& items, const ItemSet& selected) {
    bool seenUnselected = false;
    for (size_t i = 0; i < items.size(); ++i) {
        if (selected.count(items[i].get()) == 0) {
            seenUnselected = true;
        } else if (seenUnselected && !IsTransferring(*items[i])) {
            std::swap(items[i - 1], items[i]);
        }
    }
}

void MoveDown(ItemList& items, const ItemSet& selected) {
    bool seenUnselected = false;
    for (size_t i = items.size(); i-- > 0;) {
        if (selected.count(items[i].get()) == 0) {
            seenUnselected = true;
        } else if (seenUnselected && !IsTransferring(*items[i])) {
            std::swap(items[i], items[i + 1]);
        }
    }
}

// The anchor is the first item after the leading block of selected items; every later
// movable item is moved in front of it, in walk order.
void MoveToTop(ItemList& items, const ItemSet& selected) {
    size_t anchor = 0;
    while (anchor < items.size() && selected.count(items[anchor].get()) != 0) ++anchor;
    for (size_t i = anchor + 1; i < items.size(); ++i) {
        if (!Movable(selected, *items[i])) continue;
        std::rotate(items.begin() + static_cast<ptrdiff_t>(anchor),
                    items.begin() + static_cast<ptrdiff_t>(i),
                    items.begin() + static_cast<ptrdiff_t>(i) + 1);
        ++anchor;
    }
}

void MoveToBottom(ItemList& items, const ItemSet& selected) {
    size_t anchor = items.size();  // one past the anchor, counted from the head
    while (anchor > 0 && selected.count(items[anchor - 1].get()) != 0) --anchor;
    if (anchor == 0) return;
    for (size_t i = anchor - 1; i-- > 0;) {
        if (!Movable(selected, *items[i])) continue;
        std::rotate(items.begin() + static_cast<ptrdiff_t>(i),
                    items.begin() + static_cast<ptrdiff_t>(i) + 1,
                    items.begin() + static_cast<ptrdiff_t>(anchor));
        --anchor;
    }
}

}  // namespace

void TransferQueue::SetChangedHandler(ChangedHandler handler) {
    auto shared = handler ? std::make_shared<const ChangedHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    changedHandler_ = std::move(shared);
}

int TransferQueue::Add(std::shared_ptr<QueueItem> item) {
    if (!item) return 0;
    int result = 0;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        auto same = std::find_if(items_.begin(), items_.end(), [&](const auto& queued) {
            return queued->clientPath == item->clientPath &&
                   queued->serverPath == item->serverPath && queued->operation == item->operation;
        });
        if (same != items_.end()) {
            *same = std::move(item);
            result = -1;
            change = Updated(static_cast<size_t>(same - items_.begin()), 1);
        } else {
            items_.push_back(std::move(item));
            change = Inserted(items_.size() - 1, 1);
        }
    }
    NotifyChanged(change);
    return result;
}

void TransferQueue::Append(std::shared_ptr<QueueItem> item) {
    std::vector<std::shared_ptr<QueueItem>> one;
    one.push_back(std::move(item));
    AppendAll(std::move(one));
}

void TransferQueue::AppendAll(std::vector<std::shared_ptr<QueueItem>> items) {
    std::erase(items, nullptr);
    if (items.empty()) return;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        const size_t first = items_.size();
        items_.insert(items_.end(), std::make_move_iterator(items.begin()),
                      std::make_move_iterator(items.end()));
        change = Inserted(first, items.size());
    }
    NotifyChanged(change);
}

bool TransferQueue::Remove(const QueueItem& item) {
    return Remove(std::vector<const QueueItem*>{&item}) == 1;
}

size_t TransferQueue::Remove(const std::vector<const QueueItem*>& items) {
    const ItemSet doomed(items.begin(), items.end());
    return RemoveIf([&](const QueueItem& queued) {
        return doomed.count(&queued) != 0 && !IsTransferring(queued);
    });
}

size_t TransferQueue::Clear() {
    return RemoveIf([](const QueueItem& queued) { return !IsTransferring(queued); });
}

size_t TransferQueue::RemoveIf(const std::function<bool(const QueueItem&)>& doomed) {
    QueueChange change;
    change.kind = QueueChange::Kind::kRemoved;
    {
        std::lock_guard lock(mutex_);
        ItemList kept;
        for (size_t row = 0; row < items_.size(); ++row) {
            if (doomed(*items_[row])) {
                change.ids.push_back(items_[row]->id);
                change.rows.push_back(row);
            } else {
                kept.push_back(std::move(items_[row]));
            }
        }
        items_ = std::move(kept);
    }
    change.count = change.ids.size();
    if (change.count != 0) NotifyChanged(change);
    return change.count;
}

void TransferQueue::Move(const std::vector<const QueueItem*>& selected, QueueMove move) {
    const ItemSet chosen(selected.begin(), selected.end());
    bool moved = false;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        const ItemList before = items_;
        switch (move) {
            case QueueMove::kUp:
                MoveUp(items_, chosen);
                break;
            case QueueMove::kDown:
                MoveDown(items_, chosen);
                break;
            case QueueMove::kToTop:
                MoveToTop(items_, chosen);
                break;
            case QueueMove::kToBottom:
                MoveToBottom(items_, chosen);
                break;
        }
        moved = items_ != before;
        if (moved) change = MovedTo();
    }
    if (moved) NotifyChanged(change);
}

size_t TransferQueue::ResetStates(bool includeStopped) {
    size_t changed = 0;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        size_t first = items_.size();
        size_t last = 0;
        for (size_t row = 0; row < items_.size(); ++row) {
            const QueueState state = items_[row]->State();
            if (state == QueueState::kError || (includeStopped && state == QueueState::kStopped)) {
                items_[row]->state_.store(QueueState::kQueued, std::memory_order_release);
                first = std::min(first, row);
                last = row;
                ++changed;
            }
        }
        if (changed != 0) change = Updated(first, last + 1 - first);
    }
    if (changed != 0) NotifyChanged(change);
    return changed;
}

TransferQueue::ItemList TransferQueue::Snapshot() const {
    std::lock_guard lock(mutex_);
    return items_;
}

size_t TransferQueue::Size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

bool TransferQueue::Empty() const {
    std::lock_guard lock(mutex_);
    return items_.empty();
}

bool TransferQueue::AllStopped() const {
    std::lock_guard lock(mutex_);
    return std::all_of(items_.begin(), items_.end(),
                       [](const auto& item) { return item->State() == QueueState::kStopped; });
}

bool TransferQueue::HasStopped() const {
    std::lock_guard lock(mutex_);
    return std::any_of(items_.begin(), items_.end(),
                       [](const auto& item) { return item->State() == QueueState::kStopped; });
}

int TransferQueue::PositionOf(const QueueItem& item) const {
    std::lock_guard lock(mutex_);
    const size_t index = IndexOf(item);
    return index == items_.size() ? -1 : static_cast<int>(index);
}

QueueWalk TransferQueue::BeginWalk() {
    return QueueWalk(nextWalkId.fetch_add(1, std::memory_order_relaxed));
}

std::shared_ptr<QueueItem> TransferQueue::StartNext(QueueWalk& walk) {
    std::shared_ptr<QueueItem> started;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        for (size_t row = 0; row < items_.size(); ++row) {
            QueueItem& item = *items_[row];
            if (item.walkMark_ == walk.id_) continue;
            item.walkMark_ = walk.id_;
            if (item.State() == QueueState::kStopped) continue;
            item.state_.store(QueueState::kTransferring, std::memory_order_release);
            started = items_[row];
            change = Updated(row, 1);
            break;
        }
    }
    if (started) NotifyChanged(change);
    return started;
}

void TransferQueue::SetItemState(QueueItem& item, QueueState state) {
    bool queued = false;
    QueueChange change;
    {
        std::lock_guard lock(mutex_);
        item.state_.store(state, std::memory_order_release);
        const size_t row = IndexOf(item);
        queued = row != items_.size();
        if (queued) change = Updated(row, 1);
    }
    if (queued) NotifyChanged(change);
}

bool TransferQueue::RemoveSucceeded(const QueueItem& item) {
    return RemoveIf([&](const QueueItem& queued) { return &queued == &item; }) == 1;
}

size_t TransferQueue::IndexOf(const QueueItem& item) const {
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const auto& queued) { return queued.get() == &item; });
    return static_cast<size_t>(found - items_.begin());
}

QueueChange TransferQueue::Inserted(size_t first, size_t count) const {
    QueueChange change = Updated(first, count);
    change.kind = QueueChange::Kind::kInserted;
    return change;
}

QueueChange TransferQueue::Updated(size_t first, size_t count) const {
    QueueChange change;
    change.kind = QueueChange::Kind::kUpdated;
    change.first = first;
    change.count = count;
    for (size_t row = first; row < first + count; ++row) change.ids.push_back(items_[row]->id);
    return change;
}

QueueChange TransferQueue::MovedTo() const {
    QueueChange change;
    change.kind = QueueChange::Kind::kMoved;
    change.count = items_.size();
    for (const auto& item : items_) change.ids.push_back(item->id);
    return change;
}

void TransferQueue::NotifyChanged(const QueueChange& change) {
    std::shared_ptr<const ChangedHandler> handler;
    {
        std::lock_guard lock(mutex_);
        handler = changedHandler_;
    }
    if (handler) (*handler)(change);
}

}  // namespace tarnwick
