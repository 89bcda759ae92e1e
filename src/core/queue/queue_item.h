// One entry of a session's transfer queue, and the texts the views show for its values.
//
// Threads and ownership: items are held by std::shared_ptr. The queue (TransferQueue) owns
// its list of them; the worker keeps its own shared_ptr to the item it executes, so an item
// that leaves the list while it runs stays alive until the worker lets go.
// - The creator fills the fields before the item is handed to a queue. From then on
//   operation, clientPath, serverPath, kind, the size, afterDownload and partner are read
//   only, by any thread.
// - The state is written only by TransferQueue under its lock and may be read by any thread
//   at any time (State()).
// - overwriteAction, remoteBase, localBase, children, expanded, failures and the visited
//   directories belong to the worker that executes the item; no other thread touches them
//   while the item is queued.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace tarnwick {

class CFtpSession;

// The integer values are those of the queue file's columns.
enum class QueueOperation : int { kDownload = 0, kUpload = 1, kDelete = 2, kCacheDir = 3 };
enum class QueueState : int { kQueued = 0, kTransferring = 1, kError = 2, kStopped = 3 };
enum class QueueItemKind : int {
    kFile = 0,
    kDirectory = 1,          // expanded recursively; the target directory is created
    kDirectoryContents = 2,  // expanded without creating a target directory
};
enum class AfterDownload : int { kNothing = 0, kOpen = 1, kView = 2 };

// overwriteAction values: 0 Skip, 1 Resume, 2 Overwrite; kNoOverwriteAction when no decision
// has been taken for the item.
inline constexpr int kNoOverwriteAction = 3;

// Size() of an item whose size is not known.
inline constexpr int64_t kUnknownSize = -1;

// A file or directory found below a directory item while it is expanded.
struct QueueChild {
    std::string relativePath;  // from the item's base, with the separators of its side
    int64_t size = 0;
    bool isDirectory = false;
    // Set by the delete walk once it has listed the directory and appended its entries: the
    // next time the child comes up it is removed rather than listed again.
    bool expanded = false;
    // Failed attempts at this child so far; children survive between cycles, so this counts
    // across them.
    int failures = 0;
};

struct QueueItem {
    // Stable for the item's life and unique in the process (never 0): views and
    // notifications name items by it, never by a row that may have moved.
    const uint64_t id;
    int overwriteAction = kNoOverwriteAction;
    QueueOperation operation = QueueOperation::kDownload;
    int reserved = 0;        // not used by the queue
    std::string remoteBase;  // remote base directory while a directory item is expanded
    std::string localBase;   // local base directory while a directory item is expanded
    std::string clientPath;  // local path; an ftp:// URL for a site-to-site item
    std::string serverPath;  // remote path
    AfterDownload afterDownload = AfterDownload::kNothing;
    // The size as the queue file stores it: two 32-bit halves, sizeLow -1 (with sizeHigh 0)
    // for an unknown size. Use Size()/SetSize() rather than the halves.
    int32_t sizeHigh = 0;
    int32_t sizeLow = -1;
    QueueItemKind kind = QueueItemKind::kFile;
    std::list<QueueChild> children;  // filled when a directory item is expanded
    bool expanded = false;           // children holds the expansion
    int failures = 0;                // failed executions so far (worker-owned)
    // The remote directories the expansion has entered, by the path the server reported
    // after changing into them: a listing that leads back into one of them (or above the
    // item's own directory) is not followed again, so links that make a loop end.
    std::set<std::string> visitedDirectories;
    std::string rootDirectory;  // the reported path of the item's own directory
    // The site-to-site partner (the session whose server receives the files). Not owned: the
    // item does not keep a closed session alive; the run locks it for each execution.
    std::weak_ptr<CFtpSession> partner;

    QueueItem();
    QueueItem(const QueueItem&) = delete;
    QueueItem& operator=(const QueueItem&) = delete;

    QueueState State() const { return state_.load(std::memory_order_acquire); }

    // The size in bytes, or kUnknownSize. Known sizes are never negative: halves that would
    // make one (a negative sizeHigh, only ever from a damaged file) read as unknown.
    int64_t Size() const;
    bool SizeKnown() const { return Size() != kUnknownSize; }
    // Any negative size stores the unknown marker. The one size whose halves are exactly
    // the marker, 4 GiB - 1 bytes, cannot be told from it and reads back as unknown.
    void SetSize(int64_t size);

private:
    friend class TransferQueue;
    std::atomic<QueueState> state_{QueueState::kQueued};
    uint64_t walkMark_ = 0;  // the last queue walk that took this item; under the queue's lock
};

// A new item with the given fields and everything else at its initial value.
std::shared_ptr<QueueItem> MakeQueueItem(QueueOperation operation, std::string clientPath,
                                         std::string serverPath, int64_t size = kUnknownSize,
                                         QueueItemKind kind = QueueItemKind::kFile);

// "queued", "transferring", "error", "stopped"; empty for any other value.
std::string_view QueueStateText(QueueState state);
// "Download", "Upload", "Delete", "CacheDir"; empty for any other value.
std::string_view QueueOperationText(QueueOperation operation);
// "Skip", "Resume", "Overwrite"; empty for any other value, for which the caller shows the
// notice "Undefined Action".
std::string_view OverwriteActionText(int overwriteAction);

}  // namespace tarnwick
