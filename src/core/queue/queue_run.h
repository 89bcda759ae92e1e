// The queue run: the handler of CmdRunQueue. It walks the session's TransferQueue in cycles,
// executes every item that is not stopped, removes what succeeded, marks what failed (error,
// retried in the next cycle; stopped, not retried), and ends when the queue is empty, every
// item left is stopped, the cycle limit ("ErrorRetry", unless "AlwaysRetry") is reached, the
// user interrupts or the connection is lost (the worker then reconnects and runs the queue
// again).
//
// What the paths of an item mean (local paths use "/"):
//   Download  kind 0: serverPath the remote file; clientPath the local directory it goes to.
//             kind 1: serverPath a remote directory; clientPath the local directory in which
//                     a directory of the same name is created and filled with its tree.
//             kind 2: as kind 1, but clientPath itself is filled (no directory created).
//             With a partner session (site-to-site): clientPath is the ftp:// URL of the
//             target directory on the partner's server.
//   CacheDir  serverPath a remote directory whose tree is listed into the directory cache
//             (kind 1 or 2); a kind 0 item does nothing.
//   Upload    kind 0: clientPath the local file; serverPath the remote directory it goes to.
//             kind 1: clientPath a local directory; serverPath the remote directory in which
//                     a directory of the same name is created and filled with its tree.
//             kind 2: as kind 1, but serverPath itself is filled.
//   Delete    kind 0: serverPath the remote file. kind 1: serverPath a remote directory,
//             removed with everything below it (leaves first). kind 2: only its contents.
//
// A directory item is expanded into children (QueueChild, relative paths with "/") on its
// first execution, one directory level at a time (breadth first); the children survive
// between cycles and runs, so a later attempt redoes only what is left.
//
// Safety: names from a server listing that are empty, ".", "..", or hold "/", "\" or NUL are
// never joined to a path (skipped with a warning). The remote walk never enters a directory
// twice, by the path the server reports after changing into it, nor one above the item's own
// directory: links that make a loop are skipped with a warning, so such a tree still ends.
// Directories deeper than kMaxQueueDepth levels and expansions past kMaxQueueChildren entries fail
// their branch with an error line. A local walk does not follow symbolic links to directories, nor
// links that lead out of the directory being uploaded.
//
// Site-to-site items: the partner's busy flag is held for the item. A partner with a worker
// of its own must be logged in; its worker runs its half of each transfer (else the item
// fails, to be tried again in a later cycle). A partner without one is borrowed
// (CFtpSession::BorrowPartner), logged in from this thread and given back closed after the
// item. A busy partner ends the run, the item queued again for a later one.
//
// Threads: a CQueueRun lives on the session's worker thread for one run and uses the
// session's protocol objects there. The queue's items are shared with the front end through
// TransferQueue; the run holds its own reference to the item it executes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "listing/listing_parser.h"
#include "queue/queue_item.h"

namespace tarnwick {

class CFtpSession;

// listFlag of RunDownloadItem: a download, or a CacheDir walk (listings only).
inline constexpr int kListFlagDownload = 0;
inline constexpr int kListFlagCacheDir = 16;

// Bounds on what a server can make a directory item grow to.
inline constexpr size_t kMaxQueueDepth = 64;
inline constexpr size_t kMaxQueueChildren = 1'000'000;

// True when a listed name can be joined to a directory path without leaving it.
bool IsSafeListingName(const std::string& name);

class CQueueRun {
public:
    explicit CQueueRun(CFtpSession& session);

    // The whole run with its cycles and end-of-run steps; returns the run's result code.
    int Run();

    // Execute one item (first execution expands a directory item) and return a result code.
    int RunDownloadItem(QueueItem& item, int listFlag);
    int RunUploadItem(QueueItem& item);
    int RunDeleteItem(QueueItem& item);

private:
    // The run (queue_run.cpp).
    void AskAboutStoppedItems();
    int RunCycles();
    bool RunOneWalk(int& result);  // false when the walk ended the run
    bool EndOfList(int& result);   // false when the run ends here
    int ExecuteItem(QueueItem& item);
    int ExecuteWithPartner(QueueItem& item, bool& partnerBusy);
    int ExecuteLinked(QueueItem& item, CFtpSession& partner);
    void AfterDownload(const QueueItem& item);
    void FinishItem(QueueItem& item, int result);
    void EndOfRun(int result);
    int ResultAfterLostConnection(int result);

    // Downloads and CacheDir walks (queue_download.cpp).
    int StartDownloadItem(QueueItem& item, bool cacheOnly);
    int DownloadChild(QueueItem& item, QueueChild& child);
    int TransferRemoteFile(QueueItem& item, const std::string& remotePath,
                           const std::string& targetDir, int64_t size);
    int CreateTargetDirectory(QueueItem& item, const std::string& relativePath);

    // Uploads and deletes (queue_upload.cpp).
    int StartUploadItem(QueueItem& item);
    int UploadChild(QueueItem& item, QueueChild& child);
    int UploadFile(const std::string& localPath, const std::string& remoteDir, bool retried);
    int CreateRemoteDirectory(CFtpSession& on, const std::string& path);
    int StartDeleteItem(QueueItem& item);
    int DeleteChild(QueueItem& item, QueueChild& child, bool& removed);

    // Children and their expansion (queue_expand.cpp).
    int WorkThroughChildren(QueueItem& item, int (CQueueRun::*work)(QueueItem&, QueueChild&));
    // `skipped` (when given) tells that the directory was not walked: it was visited before.
    int ExpandRemoteDirectory(QueueItem& item, const std::string& relativePath,
                              bool* skipped = nullptr);
    int ListRemoteDirectory(QueueItem& item, const std::string& dir, FileEntryList& entries,
                            bool& skipped);
    int EnterRemoteDirectory(const std::string& dir);  // CWD and PWD, unless already there
    bool Visit(QueueItem& item, const std::string& dir, const std::string& reported);
    int ExpandLocalDirectory(QueueItem& item, const std::string& relativePath);
    bool LocalChild(const QueueItem& item, const std::filesystem::directory_entry& entry,
                    QueueChild& child);
    bool CheckDepth(const std::string& relativePath, const std::string& shownPath);
    bool RoomForChildren(const QueueItem& item, size_t more, const std::string& shownPath);
    std::string RemotePath(const QueueItem& item, const std::string& relativePath) const;
    std::string LocalPath(const QueueItem& item, const std::string& relativePath) const;
    std::string AbsoluteRemote(const std::string& path) const;

    CFtpSession& session;
    int cycle = 0;
    bool downloadChildCacheOnly = false;     // the current download walk only lists
    CFtpSession* borrowedPartner = nullptr;  // of the site-to-site item being executed
    bool endedForBusyPartner = false;
};

}  // namespace tarnwick
