// Download and CacheDir items: a file, or a remote tree expanded into children and brought
// down (or, site-to-site, over to the partner's server; or, for CacheDir, only listed).
#include "listing/local_files.h"
#include "listing/paths.h"
#include "listing/url.h"
#include "queue/queue_run.h"
#include "session/ftp_session.h"

namespace tarnwick {

int CQueueRun::RunDownloadItem(QueueItem& item, int listFlag) {
    const bool cacheOnly = listFlag == kListFlagCacheDir;
    if (!item.expanded) {
        const int result = StartDownloadItem(item, cacheOnly);
        if (result != kResultOk) return result;
        item.expanded = true;
    }
    downloadChildCacheOnly = cacheOnly;
    return WorkThroughChildren(item, &CQueueRun::DownloadChild);
}

// The first execution: a file item is transferred; a directory item gets its target
// directory (kind 1) and its first level of children.
int CQueueRun::StartDownloadItem(QueueItem& item, bool cacheOnly) {
    item.remoteBase = AbsoluteRemote(item.serverPath);
    // Site-to-site, the target is a directory on the partner's server named by the URL.
    const std::string targetDir =
        borrowedPartner != nullptr ? UrlPath(item.clientPath) : item.clientPath;
    switch (item.kind) {
        case QueueItemKind::kFile:
            if (cacheOnly) return kResultOk;
            return TransferRemoteFile(item, item.remoteBase, targetDir, item.Size());
        case QueueItemKind::kDirectory: {
            const std::string name = LastComponent(StripTrailingSeparator(item.remoteBase));
            if (!IsSafeListingName(name)) {
                session.Log("Can't make a local directory named \"" + name + "\".", LOG_ERROR);
                return kResultRefused;
            }
            item.localBase = JoinPath(targetDir, name, '/');
            if (!cacheOnly) {
                const int result = CreateTargetDirectory(item, "");
                if (result != kResultOk) return result;
            }
            return ExpandRemoteDirectory(item, "");
        }
        case QueueItemKind::kDirectoryContents:
            item.localBase = targetDir;
            return ExpandRemoteDirectory(item, "");
    }
    return kResultRefused;  // a kind no front end makes
}

int CQueueRun::DownloadChild(QueueItem& item, QueueChild& child) {
    if (child.isDirectory) {
        if (!downloadChildCacheOnly) {
            const int result = CreateTargetDirectory(item, child.relativePath);
            if (result != kResultOk) return result;
        }
        return ExpandRemoteDirectory(item, child.relativePath);
    }
    if (downloadChildCacheOnly) return kResultOk;  // listed is all a CacheDir walk wants
    return TransferRemoteFile(item, RemotePath(item, child.relativePath),
                              LocalPath(item, ParentPath(child.relativePath)), child.size);
}

int CQueueRun::TransferRemoteFile(QueueItem&, const std::string& remotePath,
                                  const std::string& targetDir, int64_t size) {
    if (borrowedPartner != nullptr) {
        return session.RetrySiteToSite(remotePath, targetDir, *borrowedPartner, 0);
    }
    session.remoteSize = size;  // -1 lets the download look the size up
    return session.RetryDownload(targetDir, remotePath, 0);
}

int CQueueRun::CreateTargetDirectory(QueueItem& item, const std::string& relativePath) {
    const std::string path = LocalPath(item, relativePath);
    if (borrowedPartner != nullptr) return CreateRemoteDirectory(*borrowedPartner, path);
    if (MakeDirectoryPath(path)) return kResultOk;
    session.Log("Unable to create local directory " + path + ".", LOG_ERROR);
    return kResultFailed;
}

}  // namespace tarnwick
