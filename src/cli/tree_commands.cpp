// The commands that go through the session's transfer queue: every transfer, whole-tree
// deletes, cache walks and queue files. See command_runner.h.
#include <algorithm>
#include <map>
#include <system_error>

#include "command_runner.h"
#include "listing/directory_cache.h"
#include "listing/paths.h"
#include "queue/queue_file.h"

namespace tarnwick::cli {

namespace fs = std::filesystem;

namespace {

using ItemList = std::vector<std::shared_ptr<QueueItem>>;

// A directory item, or its contents only for a root, which has no name to create.
QueueItemKind DirectoryKind(std::string_view path) {
    return IsRootPath(path) ? QueueItemKind::kDirectoryContents : QueueItemKind::kDirectory;
}

// The regular files below a local directory, as the upload walk finds them (symbolic links
// to directories are not followed).
uint64_t CountLocalFiles(const fs::path& directory) {
    uint64_t count = 0;
    std::error_code code;
    for (fs::recursive_directory_iterator it(directory, code), end; !code && it != end;
         it.increment(code)) {
        if (it->is_regular_file(code)) ++count;
    }
    return count;
}

// The files a queue run will move, when that is known beforehand: remote trees are known
// only once they are listed.
std::optional<uint64_t> FilesToMove(const ItemList& items) {
    uint64_t total = 0;
    for (const auto& item : items) {
        const bool upload = item->operation == QueueOperation::kUpload;
        if (item->operation != QueueOperation::kDownload && !upload) continue;
        if (item->kind == QueueItemKind::kFile) {
            ++total;
        } else if (upload) {
            total += CountLocalFiles(item->clientPath);
        } else {
            return std::nullopt;
        }
    }
    return total;
}

// The local files that the file downloads among `items` will create (those not there yet).
std::vector<std::pair<const QueueItem*, fs::path>> NewDownloadTargets(const ItemList& items) {
    std::vector<std::pair<const QueueItem*, fs::path>> targets;
    for (const auto& item : items) {
        if (item->operation != QueueOperation::kDownload || item->kind != QueueItemKind::kFile) {
            continue;
        }
        const fs::path local = fs::path(item->clientPath) / LastComponent(item->serverPath);
        std::error_code code;
        if (!fs::exists(fs::symlink_status(local, code))) targets.emplace_back(item.get(), local);
    }
    return targets;
}

// A refused download leaves the empty file it opened for the data: it must not pass for a
// downloaded empty file. Partial data is kept for a later resume.
void RemoveEmptyFailedDownloads(const std::vector<std::pair<const QueueItem*, fs::path>>& targets,
                                const TransferQueue::ItemList& remaining) {
    for (const auto& [item, local] : targets) {
        const bool failed =
            std::ranges::any_of(remaining, [item](const auto& left) { return left.get() == item; });
        std::error_code code;
        if (failed && fs::is_regular_file(local, code) && fs::file_size(local, code) == 0) {
            fs::remove(local, code);
        }
    }
}

// An item as the user named it: the local side of an upload, else the remote side.
std::string ItemName(const QueueItem& item) {
    return Printable(item.operation == QueueOperation::kUpload ? item.clientPath : item.serverPath);
}

}  // namespace

// A single file goes through the queue like a tree, so that it gets the same retries.
int CommandRunner::GetFile(const fs::path& localDir) {
    const std::string& path = target_.path;
    if (!NamesEntry(path)) return Usage("get: the URL names no file");
    if (int result = Open(ParentPath(path), false); result != kResultOk) return result;
    const ItemList items{MakeQueueItem(QueueOperation::kDownload, localDir.string(), path)};
    return RunItems(items, 1, "get " + path);
}

// Files and directories go through the queue together, in the order given.
int CommandRunner::Put() {
    const std::vector<std::string> paths(options_.arguments.begin(), options_.arguments.end() - 1);
    const std::string remoteDir = StripTrailingSeparator(target_.path);
    ItemList items;
    for (const std::string& path : paths) {
        std::error_code code;
        const fs::path local = fs::absolute(path, code).lexically_normal();
        if (code || !fs::exists(local, code)) return Usage("put: no such file: " + path);
        if (fs::is_directory(local, code)) {
            const std::string directory = StripTrailingSeparator(local.string());
            items.push_back(MakeQueueItem(QueueOperation::kUpload, directory, remoteDir,
                                          kUnknownSize, DirectoryKind(directory)));
        } else if (fs::is_regular_file(local, code)) {
            items.push_back(MakeQueueItem(QueueOperation::kUpload, local.string(), remoteDir,
                                          static_cast<int64_t>(fs::file_size(local, code))));
        } else {
            return Usage("put: neither a regular file nor a directory: " + path);
        }
    }
    if (int result = Open(remoteDir); result != kResultOk) return result;
    return RunItems(items, FilesToMove(items), "put");
}

int CommandRunner::GetDirectory(const fs::path& localDir) {
    const std::string remoteDir = StripTrailingSeparator(target_.path);
    std::error_code code;
    fs::create_directories(localDir, code);
    if (code) return Usage("get: cannot make the directory " + localDir.string());
    ForgetCachedTree(remoteDir);
    if (int result = Open(remoteDir); result != kResultOk) return result;
    const ItemList items{MakeQueueItem(QueueOperation::kDownload, localDir.string(), remoteDir,
                                       kUnknownSize, DirectoryKind(remoteDir))};
    return RunItems(items, std::nullopt, "get " + remoteDir + "/");
}

int CommandRunner::DeleteDirectory() {
    const std::string dir = StripTrailingSeparator(target_.path);
    if (!NamesEntry(dir)) return Usage("rm: will not delete the root directory");
    ForgetCachedTree(dir);
    if (int result = Open(ParentPath(dir)); result != kResultOk) return result;
    const ItemList items{
        MakeQueueItem(QueueOperation::kDelete, "", dir, kUnknownSize, QueueItemKind::kDirectory)};
    return RunItems(items, 0, "rm " + dir + "/");
}

int CommandRunner::CacheDirectory() {
    const std::string dir = StripTrailingSeparator(target_.path);
    ForgetCachedTree(dir);
    if (int result = Open(dir); result != kResultOk) return result;
    const ItemList items{MakeQueueItem(QueueOperation::kCacheDir, "", dir, kUnknownSize,
                                       QueueItemKind::kDirectoryContents)};
    return RunItems(items, 0, "cache " + dir);
}

int CommandRunner::RunItems(const ItemList& items, std::optional<uint64_t> totalFiles,
                            const std::string& what) {
    const auto newTargets = NewDownloadTargets(items);
    TransferQueue& queue = session_->Session().queue;
    for (const auto& item : items) queue.Append(item);
    observer_.ResetTally();
    if (meter_) meter_->StartQueue(totalFiles);
    int result = session_->RunQueue();
    const TransferQueue::ItemList remaining = queue.Snapshot();
    RemoveEmptyFailedDownloads(newTargets, remaining);
    for (const auto& item : remaining) {
        const int itemResult = ItemResult(*item, result);
        result = Worse(result, itemResult);
        if (!options_.quiet) {
            console_.WriteLine("tarnwick-cli: not done: " + ItemName(*item) + ": " +
                               ResultText(itemResult));
        }
    }
    return result == kResultOk ? result : Failed(result, what);
}

// What became of an item the run left in the queue: the result of its last failed transfer
// when one failed; else a refusal for an item stopped before its last cycle without an
// interruption (the run stops only those at once); else the run's own result, or a failure.
int CommandRunner::ItemResult(const QueueItem& item, int runResult) const {
    if (const int failed = observer_.FailedTransferResult(item.id); failed != kResultOk) {
        return failed;
    }
    const bool interrupted = runResult == kResultInterrupted || session_->Interrupted();
    const bool lastCycleReached = item.failures > context_.settings.errorRetry;
    if (item.State() == QueueState::kStopped && !interrupted && !lastCycleReached) {
        return kResultRefused;
    }
    return runResult != kResultOk ? runResult : kResultFailed;
}

void CommandRunner::ForgetCachedTree(const std::string& remoteDir) const {
    const std::string dir =
        CacheDirectoryPath(context_.settings.cacheHomeDirectory, target_.site.address, remoteDir);
    if (!dir.empty()) DeleteCacheTree(dir);
}

int CommandRunner::RunQueueFile(const std::string& path) {
    const QueueFileContents contents = ReadQueueFile(path);
    if (!contents.opened) return Usage("Can't open " + path);
    for (const std::string& warning : contents.warnings) {
        console_.WriteLine("tarnwick-cli: " + path + ": " + warning);
    }
    // Sections naming the same host feed one session, as an import into open sessions does.
    std::vector<std::string> hosts;
    std::map<std::string, ItemList> itemsOf;
    for (const QueueSection& section : contents.sections) {
        if (section.items.empty()) continue;
        ItemList& items = itemsOf[section.hostAddress];
        if (items.empty()) hosts.push_back(section.hostAddress);
        items.insert(items.end(), section.items.begin(), section.items.end());
    }
    int worst = kResultOk;
    for (const std::string& host : hosts) {
        RemoteTarget target;
        target.site = SiteForQueueHost(host, options_, context_.sites, &target.openLogin);
        CompleteLoginOf(target);
        const SiteSetting& site = target.site;
        int result = Open(site, site.defremotedir);
        if (result == kResultOk) {
            const ItemList& items = itemsOf[host];
            result = RunItems(items, FilesToMove(items), "queue " + host);
        }
        CloseSession();
        worst = Worse(worst, result);
        if (result == kResultInterrupted) break;
    }
    return worst;
}

}  // namespace tarnwick::cli
