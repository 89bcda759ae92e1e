// The commands that go through the session's transfer queue: whole directories and queue
// files. See command_runner.h.
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

// The worse of two exit statuses: an interruption first, else the higher result code.
int Worse(int a, int b) {
    if (a == kResultInterrupted || b == kResultInterrupted) return kResultInterrupted;
    return std::max(a, b);
}

}  // namespace

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

int CommandRunner::PutDirectories(const std::vector<fs::path>& directories,
                                  const std::string& remoteDir) {
    ItemList items;
    for (const fs::path& directory : directories) {
        const std::string local = StripTrailingSeparator(directory.string());
        items.push_back(MakeQueueItem(QueueOperation::kUpload, local, remoteDir, kUnknownSize,
                                      DirectoryKind(local)));
    }
    return RunItems(items, FilesToMove(items), "put");
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
    const int result = session_->RunQueue();
    RemoveEmptyFailedDownloads(newTargets, queue.Snapshot());
    return result == kResultOk ? result : Failed(result, what);
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
        const SiteSetting site = SiteForQueueHost(host, options_, context_.sites);
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
