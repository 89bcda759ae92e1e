// Upload items (a file, or a local tree expanded into children and sent up) and Delete items
// (a remote file, or a remote tree removed leaves first).
#include "listing/directory_cache.h"
#include "listing/paths.h"
#include "queue/queue_run.h"
#include "session/ftp_session.h"

namespace tarnwick {

int CQueueRun::RunUploadItem(QueueItem& item) {
    if (!item.expanded) {
        const int result = StartUploadItem(item);
        if (result != kResultOk) return result;
        item.expanded = true;
    }
    return WorkThroughChildren(item, &CQueueRun::UploadChild);
}

int CQueueRun::StartUploadItem(QueueItem& item) {
    const std::string remoteDir = AbsoluteRemote(item.serverPath);
    switch (item.kind) {
        case QueueItemKind::kFile:
            return UploadFile(item.clientPath, remoteDir, item.failures > 0);
        case QueueItemKind::kDirectory: {
            item.localBase = StripTrailingSeparator(item.clientPath);
            const std::string name = LastComponent(item.localBase);
            if (!IsSafeListingName(name)) {
                session.Log("Can't upload a directory named \"" + name + "\".", LOG_ERROR);
                return kResultRefused;
            }
            item.remoteBase = JoinPath(remoteDir, name, '/');
            const int result = CreateRemoteDirectory(session, item.remoteBase);
            if (result != kResultOk) return result;
            return ExpandLocalDirectory(item, "");
        }
        case QueueItemKind::kDirectoryContents:
            item.localBase = StripTrailingSeparator(item.clientPath);
            item.remoteBase = remoteDir;
            return ExpandLocalDirectory(item, "");
    }
    return kResultRefused;  // a kind no front end makes
}

int CQueueRun::UploadChild(QueueItem& item, QueueChild& child) {
    if (child.isDirectory) {
        const int result = CreateRemoteDirectory(session, RemotePath(item, child.relativePath));
        if (result != kResultOk) return result;
        return ExpandLocalDirectory(item, child.relativePath);
    }
    return UploadFile(LocalPath(item, child.relativePath),
                      RemotePath(item, ParentPath(child.relativePath)), child.failures > 0);
}

// An upload that failed before may have left part of the file on the server. Sending it
// again looks the remote file up in the cached listing of its directory, which the failed
// attempt dropped: list the directory first, so that the part can be resumed rather than
// sent again from the start.
int CQueueRun::UploadFile(const std::string& localPath, const std::string& remoteDir,
                          bool retried) {
    if (retried) {
        const int listed = session.ListDirectoryAfresh(remoteDir);
        if (listed == kResultInterrupted || listed == kResultConnectionClosed) return listed;
    }
    return session.RetryUpload(localPath, remoteDir, 0);
}

// MKD on `on`'s server. A refusal may only mean that the directory is there already without
// being in the cache: then the parent is listed afresh and the directory looked up.
// On a site-to-site partner this runs on the partner's own worker, when it has one.
int CQueueRun::CreateRemoteDirectory(CFtpSession& on, const std::string& path) {
    const auto makeDir = [&path](CControlSocket& control) {
        const int result = control.MakeDir(path, 0);
        if (result != kResultRefused) return result;
        return control.MakeDir(path, kOptFreshCheckBeforeMkd);
    };
    if (&on == &session) return makeDir(session.controlSocket);
    return on.RunForPartner(session, makeDir);
}

int CQueueRun::RunDeleteItem(QueueItem& item) {
    if (!item.expanded) {
        const int result = StartDeleteItem(item);
        if (result != kResultOk) return result;
        item.expanded = true;
    }
    // Last in, first out: a directory's entries come right after it is expanded, and the
    // directory itself comes up again, to be removed, once they are gone.
    while (!item.children.empty()) {
        QueueChild& child = item.children.back();
        bool removed = false;
        const int result = DeleteChild(item, child, removed);
        if (result != kResultOk) {
            ++child.failures;
            return result;
        }
        if (removed) item.children.pop_back();
    }
    return kResultOk;
}

int CQueueRun::StartDeleteItem(QueueItem& item) {
    item.remoteBase = AbsoluteRemote(item.serverPath);
    switch (item.kind) {
        case QueueItemKind::kFile:
            return session.RetryDeleteFile(item.remoteBase, 0);
        case QueueItemKind::kDirectory:
            item.children.push_back(QueueChild{.relativePath = "", .isDirectory = true});
            return kResultOk;
        case QueueItemKind::kDirectoryContents:
            return ExpandRemoteDirectory(item, "");
    }
    return kResultRefused;  // a kind no front end makes
}

// Deletes the child, or expands a directory seen for the first time (`removed` stays false).
int CQueueRun::DeleteChild(QueueItem& item, QueueChild& child, bool& removed) {
    const std::string path = RemotePath(item, child.relativePath);
    if (child.isDirectory && !child.expanded) {
        bool skipped = false;
        const int result = ExpandRemoteDirectory(item, child.relativePath, &skipped);
        if (result == kResultOk) child.expanded = true;
        removed = skipped;  // a link back into the tree: what it leads to is deleted once
        return result;
    }
    const int result =
        child.isDirectory ? session.RetryDeleteDir(path, 0) : session.RetryDeleteFile(path, 0);
    if (result != kResultOk) return result;
    // The parent's cached listing still names what is gone.
    const AppSettings& settings = session.CommandSettings();
    DeleteCachedListing(settings.cacheHomeDirectory, session.hostAddress, ParentPath(path));
    removed = true;
    return kResultOk;
}

}  // namespace tarnwick
