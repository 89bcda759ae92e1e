// The transfer queue: what each change reports, AddToQueue's replacement rule, the front end
// leaving the item being transferred alone, the queue run's walk, reordering, and the queue
// shared by two threads.
#include "queue/transfer_queue.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

std::shared_ptr<QueueItem> Download(const std::string& name) {
    return MakeQueueItem(QueueOperation::kDownload, "/home/u/" + name, "/pub/" + name);
}

// A queue of downloads "/pub/a", "/pub/b", ... and its items in that order.
struct Lettered {
    explicit Lettered(const std::string& letters) {
        for (char letter : letters) {
            items.push_back(Download(std::string(1, letter)));
            queue.Add(items.back());
        }
    }
    std::vector<const QueueItem*> Pick(const std::string& letters) const {
        std::vector<const QueueItem*> picked;
        for (char c : letters) picked.push_back(items[static_cast<size_t>(c - 'a')].get());
        return picked;
    }
    std::string Order() const {  // the last letters of the server paths, in queue order
        std::string order;
        for (const auto& item : queue.Snapshot()) order += item->serverPath.back();
        return order;
    }
    TransferQueue queue;
    std::vector<std::shared_ptr<QueueItem>> items;
};

// Every change is reported once, after the lock is released, with what it did; calls that
// change nothing report nothing. (Batches, moves and removals of several rows are followed
// by the queue view's model test.)
TEST(TransferQueueTest, EachChangeIsReportedOnceWithWhatChanged) {
    Lettered q("abc");
    std::vector<QueueChange> changes;
    q.queue.SetChangedHandler([&](const QueueChange& change) {
        changes.push_back(change);
        q.queue.Size();  // would deadlock if the handler ran under the lock
    });
    auto idsOf = [&](const std::string& letters) {
        std::vector<uint64_t> ids;
        for (const QueueItem* item : q.Pick(letters)) ids.push_back(item->id);
        return ids;
    };
    using Kind = QueueChange::Kind;
    auto expect = [&](Kind kind, size_t first, size_t count, std::vector<uint64_t> ids,
                      std::vector<size_t> rows = {}) {
        ASSERT_EQ(changes.size(), 1u);
        const QueueChange& c = changes[0];
        EXPECT_EQ(std::tie(c.kind, c.first, c.count, c.ids, c.rows),
                  std::tie(kind, first, count, ids, rows));
        changes.clear();
    };

    const auto again = Download("b");  // same transfer: takes b's row
    EXPECT_EQ(q.queue.Add(again), -1);
    expect(Kind::kUpdated, 1, 1, {again->id});
    q.items[1] = again;
    // Same paths but another operation: a new entry.
    auto upload = MakeQueueItem(QueueOperation::kUpload, "/home/u/b", "/pub/b");
    EXPECT_EQ(q.queue.Add(upload), 0);
    expect(Kind::kInserted, 3, 1, {upload->id});
    EXPECT_EQ(q.queue.Clear(), 4u);
    q.queue.AppendAll({q.items[0], q.items[2], q.items[1]});
    EXPECT_EQ(changes.size(), 2u);
    changes.clear();
    q.queue.Move(q.Pick("b"), QueueMove::kToTop);
    expect(Kind::kMoved, 0, 3, idsOf("bac"));
    QueueWalk walk = q.queue.BeginWalk();
    q.queue.StartNext(walk);
    expect(Kind::kUpdated, 0, 1, idsOf("b"));
    q.queue.SetItemState(*q.items[2], QueueState::kError);
    expect(Kind::kUpdated, 2, 1, idsOf("c"));
    q.queue.SetItemState(*q.items[0], QueueState::kStopped);
    changes.clear();
    EXPECT_EQ(q.queue.ResetStates(true), 2u);  // rows 1 and 2; b is transferring
    expect(Kind::kUpdated, 1, 2, idsOf("ac"));
    EXPECT_TRUE(q.queue.RemoveSucceeded(*q.items[1]));
    expect(Kind::kRemoved, 0, 1, idsOf("b"), {0});

    // Nothing changes, nothing is reported.
    EXPECT_FALSE(q.queue.Remove(*Download("x")));
    q.queue.AppendAll({nullptr});
    EXPECT_EQ(q.queue.ResetStates(true), 0u);
    EXPECT_TRUE(changes.empty());
}

// The front end's remove and clear leave the item being transferred alone; a replacement
// only unlinks it: the worker's item lives on, and the new one is taken by the same walk.
TEST(TransferQueueTest, FrontEndLeavesTheTransferringItemAlone) {
    Lettered q("abc");
    QueueWalk walk = q.queue.BeginWalk();
    const auto running = q.queue.StartNext(walk);
    EXPECT_EQ(q.queue.Remove(q.Pick("ab")), 1u);
    EXPECT_EQ(q.queue.Clear(), 1u);
    const auto again = Download("a");
    EXPECT_EQ(q.queue.Add(again), -1);
    EXPECT_FALSE(q.queue.RemoveSucceeded(*running));
    EXPECT_EQ(q.queue.StartNext(walk), again);
    EXPECT_TRUE(q.queue.RemoveSucceeded(*again));
    EXPECT_TRUE(q.queue.Empty());
}

TEST(TransferQueueTest, WalkTakesEveryItemOnceWhateverChangesMeanwhile) {
    Lettered q("abcde");
    q.queue.SetItemState(*q.items[1], QueueState::kStopped);
    std::string taken;
    auto takeAll = [&](QueueWalk& walk, size_t most) {
        for (std::shared_ptr<QueueItem> item;
             taken.size() < most && (item = q.queue.StartNext(walk));) {
            taken += item->serverPath.back();
            q.queue.SetItemState(*item, QueueState::kError);
        }
    };
    QueueWalk walk = q.queue.BeginWalk();
    takeAll(walk, 1);                                 // a; b is stopped
    q.queue.Remove(q.Pick("d"));                      // removed before it was reached
    q.queue.Move(q.Pick("a"), QueueMove::kToBottom);  // already taken, moved on
    q.queue.Add(Download("f"));                       // added during the walk
    takeAll(walk, 2);                                 // c
    q.queue.Move(q.Pick("e"), QueueMove::kToTop);     // not yet taken, moved to the head
    takeAll(walk, 10);
    EXPECT_EQ(taken, "acef");
    EXPECT_EQ(q.Order(), "ebcaf");

    EXPECT_EQ(q.queue.ResetStates(false), 4u);  // the stopped one stays stopped
    QueueWalk next = q.queue.BeginWalk();       // the next cycle starts over
    taken.clear();
    takeAll(next, 10);
    EXPECT_EQ(taken, "ecaf");
}

// A worker runs the queue in cycles while the front end adds, removes, reorders, resets and
// reads it. Since the front end never takes out the item being transferred, every item the
// worker finishes is still queued. ThreadSanitizer checks the sharing.
TEST(TransferQueueTest, WorkerAndFrontEndShareTheQueue) {
    TransferQueue queue;
    std::atomic<bool> frontEndDone{false};
    std::atomic<int> finished{0};
    int lostWhileRunning = 0, badRows = 0;
    // Items whose size is a multiple of three fail once; `reserved` is the worker's mark.
    std::thread worker([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!(frontEndDone && queue.Empty()) && std::chrono::steady_clock::now() < deadline) {
            QueueWalk walk = queue.BeginWalk();
            while (const auto item = queue.StartNext(walk)) {
                if (item->Size() % 3 == 0 && item->reserved++ == 0) {
                    queue.SetItemState(*item, QueueState::kError);
                } else {
                    lostWhileRunning += queue.RemoveSucceeded(*item) ? 0 : 1;
                    ++finished;
                }
            }
            queue.ResetStates(false);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 400; ++i) {
        const std::string n = std::to_string(i);
        queue.Add(MakeQueueItem(QueueOperation::kUpload, "/l/" + n, "/r/" + n, i));
        const auto items = queue.Snapshot();
        for (const auto& item : items) {  // what a view shows of each row
            badRows += QueueStateText(item->State()).empty() || item->serverPath[1] != 'r';
        }
        if (items.size() >= 3) {
            queue.Move({items[1].get(), items[2].get()},
                       i % 2 ? QueueMove::kUp : QueueMove::kToTop);
            if (i % 3 == 0) queue.Remove(*items[items.size() / 2]);
        }
        if (i % 50 == 25) queue.Clear();
        if (i % 7 == 0) queue.ResetStates(true);
        // Now and then wait for the worker to finish something, so that both really run side
        // by side however the threads are scheduled.
        const int finishedBefore = finished;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (i % 20 == 19 && finished == finishedBefore && !queue.Empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }
    frontEndDone = true;
    worker.join();
    EXPECT_EQ(lostWhileRunning, 0);
    EXPECT_EQ(badRows, 0);
    EXPECT_GT(finished.load(), 0);
    EXPECT_TRUE(queue.Empty());
}

}  // namespace
}  // namespace tarnwick
