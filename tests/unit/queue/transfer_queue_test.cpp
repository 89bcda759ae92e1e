// The transfer queue: AddToQueue's replacement rule, the front end's respect for the item
// being transferred, the queue run's walk, reordering, and the queue shared by two threads.
#include "queue/transfer_queue.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

std::shared_ptr<QueueItem> Download(const std::string& name) {
    return MakeQueueItem(QueueOperation::kDownload, "/home/u/" + name, "/pub/" + name);
}

// The queue's items named by the last letter of their server paths, in queue order.
std::string Order(const TransferQueue& queue) {
    std::string order;
    for (const auto& item : queue.Snapshot()) order += item->serverPath.back();
    return order;
}

// A queue of downloads "/pub/a", "/pub/b", ... and the items, in that order.
struct Lettered {
    explicit Lettered(const std::string& letters) {
        for (char letter : letters) {
            items.push_back(Download(std::string(1, letter)));
            queue.Add(items.back());
        }
    }
    std::vector<const QueueItem*> Pick(const std::string& letters) const {
        std::vector<const QueueItem*> picked;
        for (char letter : letters)
            picked.push_back(items[static_cast<size_t>(letter - 'a')].get());
        return picked;
    }
    TransferQueue queue;
    std::vector<std::shared_ptr<QueueItem>> items;
};

TEST(TransferQueueTest, AddReplacesTheSameTransferInPlace) {
    Lettered q("abc");
    const auto again = Download("b");
    EXPECT_EQ(q.queue.Add(again), -1);
    EXPECT_EQ(q.queue.Snapshot()[1], again);
    EXPECT_EQ(q.queue.Size(), 3u);

    // Same paths but another operation, or another client path: a new entry.
    auto upload = MakeQueueItem(QueueOperation::kUpload, "/home/u/b", "/pub/b");
    auto elsewhere = MakeQueueItem(QueueOperation::kDownload, "/tmp/b", "/pub/b");
    EXPECT_EQ(q.queue.Add(upload), 0);
    EXPECT_EQ(q.queue.Add(elsewhere), 0);
    EXPECT_EQ(Order(q.queue), "abcbb");
    EXPECT_EQ(q.queue.Snapshot()[3], upload);
}

TEST(TransferQueueTest, FrontEndLeavesTheTransferringItemAlone) {
    Lettered q("abcd");
    QueueWalk walk = q.queue.BeginWalk();
    const auto running = q.queue.StartNext(walk);
    ASSERT_EQ(running, q.items[0]);
    EXPECT_EQ(running->State(), QueueState::kTransferring);

    EXPECT_FALSE(q.queue.Remove(*running));
    EXPECT_EQ(q.queue.Remove(q.Pick("ab")), 1u);
    q.queue.Move(q.Pick("a"), QueueMove::kToBottom);
    EXPECT_EQ(Order(q.queue), "acd");
    EXPECT_EQ(q.queue.ResetStates(true), 0u);
    EXPECT_EQ(running->State(), QueueState::kTransferring);
    EXPECT_EQ(q.queue.Clear(), 2u);
    EXPECT_EQ(Order(q.queue), "a");

    // The worker ends it.
    EXPECT_TRUE(q.queue.RemoveSucceeded(*running));
    EXPECT_TRUE(q.queue.Empty());
}

TEST(TransferQueueTest, ReplacingTheRunningItemOnlyUnlinksIt) {
    Lettered q("ab");
    QueueWalk walk = q.queue.BeginWalk();
    const auto running = q.queue.StartNext(walk);
    const auto again = Download("a");
    EXPECT_EQ(q.queue.Add(again), -1);
    EXPECT_EQ(running->serverPath, "/pub/a");  // still alive for the worker
    EXPECT_FALSE(q.queue.RemoveSucceeded(*running));
    // The replacement is a new item: the same walk takes it.
    EXPECT_EQ(q.queue.StartNext(walk), again);
    EXPECT_EQ(q.queue.StartNext(walk), q.items[1]);
}

TEST(TransferQueueTest, ResetAndStoppedQueries) {
    Lettered q("abc");
    EXPECT_FALSE(q.queue.HasStopped());
    EXPECT_FALSE(q.queue.AllStopped());
    q.queue.SetItemState(*q.items[0], QueueState::kError);
    q.queue.SetItemState(*q.items[1], QueueState::kStopped);
    EXPECT_TRUE(q.queue.HasStopped());
    EXPECT_FALSE(q.queue.AllStopped());

    EXPECT_EQ(q.queue.ResetStates(false), 1u);
    EXPECT_EQ(q.items[0]->State(), QueueState::kQueued);
    EXPECT_EQ(q.items[1]->State(), QueueState::kStopped);
    EXPECT_EQ(q.queue.ResetStates(true), 1u);
    EXPECT_FALSE(q.queue.HasStopped());

    for (const auto& item : q.items) q.queue.SetItemState(*item, QueueState::kStopped);
    EXPECT_TRUE(q.queue.AllStopped());
    q.queue.Clear();
    EXPECT_TRUE(q.queue.AllStopped());  // an empty queue counts as all stopped
    EXPECT_FALSE(q.queue.HasStopped());
}

TEST(TransferQueueTest, WalkTakesEveryItemOnceWhateverChangesMeanwhile) {
    Lettered q("abcde");
    q.queue.SetItemState(*q.items[1], QueueState::kStopped);
    std::string taken;
    auto takeNext = [&](QueueWalk& walk) {
        const auto item = q.queue.StartNext(walk);
        if (!item) return false;
        taken += item->serverPath.back();
        q.queue.SetItemState(*item, QueueState::kError);
        return true;
    };
    QueueWalk walk = q.queue.BeginWalk();
    ASSERT_TRUE(takeNext(walk));                      // a; b is stopped
    q.queue.Remove(q.Pick("d"));                      // removed before it was reached
    q.queue.Move(q.Pick("a"), QueueMove::kToBottom);  // an item already taken moves on
    q.queue.Add(Download("f"));                       // added during the walk
    ASSERT_TRUE(takeNext(walk));                      // c
    q.queue.Move(q.Pick("e"), QueueMove::kToTop);     // not yet taken, moved to the head
    while (taken.size() < 10 && takeNext(walk)) {
    }
    EXPECT_EQ(taken, "acef");
    EXPECT_EQ(Order(q.queue), "ebcaf");

    // A new walk starts over: the items in error are taken again, the stopped one is not.
    QueueWalk next = q.queue.BeginWalk();
    taken.clear();
    while (taken.size() < 10 && takeNext(next)) {
    }
    EXPECT_EQ(taken, "ecaf");
}

TEST(TransferQueueTest, MovesKeepSelectedItemsInOrderAndTransferringItemsInPlace) {
    struct Case {
        const char* selected;
        const char* transferring;
        QueueMove move;
        const char* expected;
    };
    const Case cases[] = {
        {"a", "", QueueMove::kUp, "abcde"},  // already at the top
        {"bc", "", QueueMove::kUp, "bcade"},
        {"abd", "", QueueMove::kUp, "abdce"},
        {"bd", "d", QueueMove::kUp, "bacde"},
        {"e", "", QueueMove::kDown, "abcde"},
        {"cd", "", QueueMove::kDown, "abecd"},
        {"bde", "", QueueMove::kDown, "acbde"},
        {"ce", "", QueueMove::kToTop, "ceabd"},
        {"ad", "", QueueMove::kToTop, "adbce"},  // "a" is already in the leading block
        {"bde", "d", QueueMove::kToTop, "beacd"},
        {"bc", "", QueueMove::kToBottom, "adebc"},
        {"be", "", QueueMove::kToBottom, "acdbe"},
        {"abd", "a", QueueMove::kToBottom, "acebd"},
        {"abcde", "", QueueMove::kToTop, "abcde"},
        {"", "", QueueMove::kDown, "abcde"},
    };
    for (const auto& c : cases) {
        Lettered q("abcde");
        for (const QueueItem* item : q.Pick(c.transferring)) {
            q.queue.SetItemState(const_cast<QueueItem&>(*item), QueueState::kTransferring);
        }
        q.queue.Move(q.Pick(c.selected), c.move);
        EXPECT_EQ(Order(q.queue), c.expected)
            << "selected " << c.selected << ", move " << static_cast<int>(c.move);
    }
}

TEST(TransferQueueTest, ChangeHandlerRunsAfterEachChangeOutsideTheLock) {
    Lettered q("ab");
    int calls = 0;
    size_t seenSize = 0;
    q.queue.SetChangedHandler([&] {
        ++calls;
        seenSize = q.queue.Size();  // would deadlock if called under the lock
    });
    q.queue.Add(Download("c"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenSize, 3u);
    EXPECT_FALSE(q.queue.Remove(*Download("x")));  // nothing changed: no call
    q.queue.ResetStates(true);
    EXPECT_EQ(calls, 1);
    QueueWalk walk = q.queue.BeginWalk();
    const auto item = q.queue.StartNext(walk);
    q.queue.RemoveSucceeded(*item);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(seenSize, 2u);
}

// A worker runs the queue in cycles while the front end adds, removes, reorders, resets and
// reads it. The front end must never take out the item being transferred, so every item the
// worker finishes is still in the queue. ThreadSanitizer checks the sharing.
TEST(TransferQueueTest, WorkerAndFrontEndShareTheQueue) {
    TransferQueue queue;
    std::atomic<int> notifications{0};
    queue.SetChangedHandler([&] { notifications.fetch_add(1, std::memory_order_relaxed); });
    std::atomic<bool> frontEndDone{false};
    std::atomic<int> finished{0};
    int lostWhileRunning = 0;
    int badRows = 0;

    // Items whose size is a multiple of three fail once; `reserved` is the worker's mark.
    std::thread worker([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!(frontEndDone && queue.Empty()) && std::chrono::steady_clock::now() < deadline) {
            QueueWalk walk = queue.BeginWalk();
            for (int step = 0; step < 1000; ++step) {
                const auto item = queue.StartNext(walk);
                if (!item) break;
                if (item->Size() % 3 == 0 && item->reserved == 0) {
                    item->reserved = 1;
                    queue.SetItemState(*item, QueueState::kError);
                    continue;
                }
                if (!queue.RemoveSucceeded(*item)) ++lostWhileRunning;
                ++finished;
            }
            queue.ResetStates(false);
            std::this_thread::yield();
        }
    });

    for (int i = 0; i < 400; ++i) {
        queue.Add(MakeQueueItem(QueueOperation::kUpload, "/l/" + std::to_string(i),
                                "/r/" + std::to_string(i), i));
        const auto items = queue.Snapshot();
        // What a view shows of each row, read while the worker changes states.
        for (const auto& item : items) {
            if (QueueStateText(item->State()).empty() || item->serverPath.rfind("/r/", 0) != 0) {
                ++badRows;
            }
        }
        if (items.size() >= 3) {
            queue.Move({items[1].get(), items[2].get()},
                       i % 2 ? QueueMove::kUp : QueueMove::kToTop);
            if (i % 3 == 0) queue.Remove(*items[items.size() / 2]);
        }
        if (i % 50 == 25) queue.Clear();
        if (i % 7 == 0) queue.ResetStates(true);
        // Now and then wait for the worker to finish something, so that both really run
        // side by side however the threads are scheduled.
        const int finishedBefore = finished.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (i % 20 == 19 && finished.load() == finishedBefore && !queue.Empty() &&
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
    EXPECT_GT(notifications.load(), 400);
}

}  // namespace
}  // namespace tarnwick
