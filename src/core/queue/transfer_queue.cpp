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
    {
        std::lock_guard lock(mutex_);
        auto same = std::find_if(items_.begin(), items_.end(), [&](const auto& queued) {
            return queued->clientPath == item->clientPath &&
                   queued->serverPath == item->serverPath && queued->operation == item->operation;
        });
        if (same != items_.end()) {
            *same = std::move(item);
            result = -1;
        } else {
            items_.push_back(std::move(item));
        }
    }
    NotifyChanged();
    return result;
}

void TransferQueue::Append(std::shared_ptr<QueueItem> item) {
    if (!item) return;
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    NotifyChanged();
}

bool TransferQueue::Remove(const QueueItem& item) {
    return Remove(std::vector<const QueueItem*>{&item}) == 1;
}

size_t TransferQueue::Remove(const std::vector<const QueueItem*>& items) {
    const ItemSet doomed(items.begin(), items.end());
    size_t removed = 0;
    {
        std::lock_guard lock(mutex_);
        removed = std::erase_if(items_, [&](const auto& queued) {
            return doomed.count(queued.get()) != 0 && !IsTransferring(*queued);
        });
    }
    if (removed != 0) NotifyChanged();
    return removed;
}

size_t TransferQueue::Clear() {
    size_t removed = 0;
    {
        std::lock_guard lock(mutex_);
        removed =
            std::erase_if(items_, [](const auto& queued) { return !IsTransferring(*queued); });
    }
    if (removed != 0) NotifyChanged();
    return removed;
}

void TransferQueue::Move(const std::vector<const QueueItem*>& selected, QueueMove move) {
    const ItemSet chosen(selected.begin(), selected.end());
    bool moved = false;
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
    }
    if (moved) NotifyChanged();
}

size_t TransferQueue::ResetStates(bool includeStopped) {
    size_t changed = 0;
    {
        std::lock_guard lock(mutex_);
        for (const auto& item : items_) {
            const QueueState state = item->State();
            if (state == QueueState::kError || (includeStopped && state == QueueState::kStopped)) {
                item->state_.store(QueueState::kQueued, std::memory_order_release);
                ++changed;
            }
        }
    }
    if (changed != 0) NotifyChanged();
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
    {
        std::lock_guard lock(mutex_);
        for (const auto& item : items_) {
            if (item->walkMark_ == walk.id_) continue;
            item->walkMark_ = walk.id_;
            if (item->State() == QueueState::kStopped) continue;
            item->state_.store(QueueState::kTransferring, std::memory_order_release);
            started = item;
            break;
        }
    }
    if (started) NotifyChanged();
    return started;
}

void TransferQueue::SetItemState(QueueItem& item, QueueState state) {
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        item.state_.store(state, std::memory_order_release);
        queued = IndexOf(item) != items_.size();
    }
    if (queued) NotifyChanged();
}

bool TransferQueue::RemoveSucceeded(const QueueItem& item) {
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        const size_t index = IndexOf(item);
        if (index != items_.size()) {
            items_.erase(items_.begin() + static_cast<ptrdiff_t>(index));
            removed = true;
        }
    }
    if (removed) NotifyChanged();
    return removed;
}

size_t TransferQueue::IndexOf(const QueueItem& item) const {
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const auto& queued) { return queued.get() == &item; });
    return static_cast<size_t>(found - items_.begin());
}

void TransferQueue::NotifyChanged() {
    NotifyChanged(QueueChange{});
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
