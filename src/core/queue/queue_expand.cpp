// Directory items: working through their children, and expanding a remote or a local
// directory into further children, with the bounds that keep a hostile listing or a local
// link from leading the walk astray.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "listing/directory_cache.h"
#include "listing/paths.h"
#include "queue/queue_run.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

bool IsResultToReturnAtOnce(int result) {
    return result == kResultInterrupted || result == kResultConnectionClosed;
}

size_t DepthOf(const std::string& relativePath) {
    if (relativePath.empty()) return 0;
    return 1 + static_cast<size_t>(std::count(relativePath.begin(), relativePath.end(), '/'));
}

std::string JoinRelative(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "/" + name;
}

// A remote directory as the walk remembers it: without a trailing "/" (except the root).
std::string VisitedPath(const std::string& path) {
    std::string visited = path;
    while (visited.size() > 1 && visited.back() == '/') visited.pop_back();
    return visited.empty() ? "/" : visited;
}

// True when `path` is `root` or below it (both canonical).
bool IsInside(const fs::path& path, const fs::path& root) {
    auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end();
}

}  // namespace

bool IsSafeListingName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

// Breadth first: a directory child appends its entries at the tail, so they come up later in
// this same walk. What succeeded leaves the list; what failed stays for the next attempt.
int CQueueRun::WorkThroughChildren(QueueItem& item,
                                   int (CQueueRun::*work)(QueueItem&, QueueChild&)) {
    for (auto child = item.children.begin(); child != item.children.end();) {
        const int result = (this->*work)(item, *child);
        if (result == kResultOk) {
            child = item.children.erase(child);
            continue;
        }
        ++child->failures;
        if (IsResultToReturnAtOnce(result)) return result;
        ++child;
    }
    return item.children.empty() ? kResultOk : kResultFailed;
}

int CQueueRun::ExpandRemoteDirectory(QueueItem& item, const std::string& relativePath,
                                     bool* skipped) {
    const std::string dir = RemotePath(item, relativePath);
    if (!CheckDepth(relativePath, dir)) return kResultFailed;
    FileEntryList entries;
    bool visitedBefore = false;
    const int result = ListRemoteDirectory(item, dir, entries, visitedBefore);
    if (skipped != nullptr) *skipped = visitedBefore;
    if (result != kResultOk || visitedBefore) return result;

    std::vector<QueueChild> found;
    for (const FileEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        if (!IsSafeListingName(entry.name)) {
            session.Log("Unsafe file name \"" + entry.name + "\" in " + dir + " skipped.",
                        LOG_WARNING);
            continue;
        }
        found.push_back(QueueChild{.relativePath = JoinRelative(relativePath, entry.name),
                                   .size = static_cast<int64_t>(entry.Size()),
                                   .isDirectory = entry.isDirectory});
    }
    if (!RoomForChildren(item, found.size(), dir)) return kResultFailed;
    item.children.insert(item.children.end(), found.begin(), found.end());
    return kResultOk;
}

// The directory's listing: from the cache unless "AlwaysRefresh", else from the server with
// up to "FileRetry" retries. Failing for good gives 6, so that the item is not retried in
// later cycles. A directory already visited (or above the item's own) is not listed:
// `skipped` is set, with a warning.
int CQueueRun::ListRemoteDirectory(QueueItem& item, const std::string& dir, FileEntryList& entries,
                                   bool& skipped) {
    const AppSettings& settings = session.CommandSettings();
    if (!settings.alwaysRefresh &&
        LoadCachedListing(settings.cacheHomeDirectory, session.hostAddress, dir, entries) == 0) {
        skipped = !Visit(item, dir, dir);
        if (!skipped) item.visitedDirectories.insert(VisitedPath(dir));
        return kResultOk;
    }
    entries.clear();
    for (int tries = 0;; ++tries) {
        int result = EnterRemoteDirectory(dir);
        if (result == kResultOk && !Visit(item, dir, session.currentDirectory)) {
            skipped = true;
            return kResultOk;
        }
        if (result == kResultOk) result = session.controlSocket.ListDir("", "", 0);
        if (result == kResultOk) {
            item.visitedDirectories.insert(VisitedPath(session.currentDirectory));
            // The listing was parsed once when it completed.
            if (session.listingEntries) entries = *session.listingEntries;
            return kResultOk;
        }
        if (IsResultToReturnAtOnce(result) || result == kResultRefused) return result;
        if (tries >= settings.fileRetry) {
            session.Log("Max errors reached, go on to next file", LOG_ERROR);
            return kResultRefused;
        }
        const int waited = session.WaitRetryDelay();
        if (waited != kResultTimedOut) return waited;
        session.Log("Retrying to expand remote directory #" + std::to_string(tries), LOG_STATE);
    }
}

int CQueueRun::EnterRemoteDirectory(const std::string& dir) {
    if (PathsEqual(session.currentDirectory, dir)) return kResultOk;
    return session.controlSocket.ChangeDir(dir, 0);
}

// Whether the directory the server reports as `reported` may be walked: not when the walk
// has been there (a link back) or when it is the item's own directory's ancestor (a link
// up, which would walk the item's tree again from above). The first call names the root.
bool CQueueRun::Visit(QueueItem& item, const std::string& dir, const std::string& reported) {
    const std::string path = VisitedPath(reported);
    if (item.rootDirectory.empty()) {
        item.rootDirectory = path;
        return true;
    }
    const bool ancestor =
        path == "/" ? item.rootDirectory != "/" : item.rootDirectory.starts_with(path + "/");
    if (!ancestor && item.visitedDirectories.count(path) == 0) return true;
    session.Log("Directory " + dir + " leads back to " + reported + ", already walked; skipped.",
                LOG_WARNING);
    return false;
}

int CQueueRun::ExpandLocalDirectory(QueueItem& item, const std::string& relativePath) {
    const std::string dir = LocalPath(item, relativePath);
    if (!CheckDepth(relativePath, dir)) return kResultFailed;
    std::error_code error;
    std::vector<QueueChild> found;
    for (fs::directory_iterator entry(dir, error), end; !error && entry != end;
         entry.increment(error)) {
        QueueChild child{.relativePath =
                             JoinRelative(relativePath, entry->path().filename().string())};
        if (LocalChild(item, *entry, child)) found.push_back(std::move(child));
    }
    if (error) {
        const std::string text = dir + " not accessible! Check privilege!";
        session.Log(text, LOG_ERROR);
        session.Observer().OnNotice(session, text);
        return kResultFailed;
    }
    if (!RoomForChildren(item, found.size(), dir)) return kResultFailed;
    // Enumeration order is the file system's; name order makes runs repeatable.
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    item.children.insert(item.children.end(), found.begin(), found.end());
    return kResultOk;
}

// Fills in what the walk needs to know of a local entry; false (with a warning) for entries
// it leaves alone: links to directories, links out of the uploaded tree, and anything that
// is neither a regular file nor a directory (a FIFO would block the upload for ever).
bool CQueueRun::LocalChild(const QueueItem& item, const fs::directory_entry& entry,
                           QueueChild& child) {
    std::error_code error;
    fs::file_status status = entry.symlink_status(error);
    const std::string shown = entry.path().string();
    if (fs::is_symlink(status)) {
        status = fs::status(entry.path(), error);
        if (error || fs::is_directory(status)) {
            session.Log("Symbolic link " + shown + " not followed.", LOG_WARNING);
            return false;
        }
        const fs::path target = fs::canonical(entry.path(), error);
        const fs::path root = fs::canonical(item.localBase, error);
        if (error || !IsInside(target, root)) {
            session.Log("Symbolic link " + shown + " leads out of " + item.localBase + "; skipped.",
                        LOG_WARNING);
            return false;
        }
    }
    child.isDirectory = fs::is_directory(status);
    if (!child.isDirectory && !fs::is_regular_file(status)) {
        session.Log(shown + " is not a regular file; skipped.", LOG_WARNING);
        return false;
    }
    child.size = child.isDirectory ? 0 : static_cast<int64_t>(fs::file_size(entry.path(), error));
    return true;
}

bool CQueueRun::CheckDepth(const std::string& relativePath, const std::string& shownPath) {
    if (DepthOf(relativePath) < kMaxQueueDepth) return true;
    session.Log("Directory " + shownPath + " is nested more than " +
                    std::to_string(kMaxQueueDepth) + " levels deep; not expanded.",
                LOG_ERROR);
    return false;
}

bool CQueueRun::RoomForChildren(const QueueItem& item, size_t more, const std::string& shownPath) {
    if (item.children.size() + more <= kMaxQueueChildren) return true;
    session.Log("Too many entries (more than " + std::to_string(kMaxQueueChildren) +
                    ") below one queue item; " + shownPath + " not expanded.",
                LOG_ERROR);
    return false;
}

std::string CQueueRun::RemotePath(const QueueItem& item, const std::string& relativePath) const {
    return relativePath.empty() ? item.remoteBase : JoinPath(item.remoteBase, relativePath, '/');
}

std::string CQueueRun::LocalPath(const QueueItem& item, const std::string& relativePath) const {
    return relativePath.empty() ? item.localBase : JoinPath(item.localBase, relativePath, '/');
}

std::string CQueueRun::AbsoluteRemote(const std::string& path) const {
    if (path.starts_with('/')) return path;
    return JoinPath(session.currentDirectory, path, '/');
}

}  // namespace tarnwick
