#include "panes/pane_rules.h"

#include <fnmatch.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "listing/paths.h"
#include "listing/url.h"

namespace tarnwick::gui {

namespace fs = std::filesystem;

LocalPathSplit SplitLocalPath(const std::string& text) {
    LocalPathSplit split;
    const size_t slash = text.find_last_of('/');
    const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    if (last.find_first_of("*?") == std::string::npos) {
        split.directory = text;
        return split;
    }
    split.pattern = last;
    split.directory = slash == std::string::npos ? std::string{} : text.substr(0, slash);
    if (split.directory.empty() && slash == 0) split.directory = "/";
    return split;
}

namespace {
int64_t SecondsOf(const fs::file_time_type& time) {
    const auto system = std::chrono::file_clock::to_sys(time);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}
}  // namespace

bool ListLocalDirectory(const std::string& directory, const std::string& pattern,
                        FileEntryList& entries) {
    std::error_code error;
    fs::directory_iterator it(directory, fs::directory_options::skip_permission_denied, error);
    if (error) return false;
    for (const fs::directory_entry& item : it) {
        const std::string name = item.path().filename().string();
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        FileEntry entry;
        entry.name = name;
        std::error_code ignored;
        entry.isDirectory = item.is_directory(ignored);
        if (!entry.isDirectory) {
            const uintmax_t size = item.file_size(ignored);
            if (!ignored) entry.SetSize(size);
        }
        const fs::file_time_type time = item.last_write_time(ignored);
        entry.modified = ignored ? -1 : SecondsOf(time);
        entries.push_back(std::move(entry));
    }
    return true;
}

AddressAction ClassifyAddress(const std::string& text) {
    UrlParts parts;
    if (!ParseUrl(text, parts)) {
        UrlParts guessed;
        if (ParseUrl("ftp://" + text, guessed) && !guessed.server.empty() && !text.empty() &&
            text.front() != '/' && text.front() != '.' && text.front() != '~')
            return {AddressKind::kFtpUrl, "ftp://" + text};
        return {AddressKind::kPath, text};
    }
    switch (parts.service) {
        case kServiceFtp:
            return {AddressKind::kFtpUrl, text};
        case kServiceFile:
            return {AddressKind::kLocalUrl, parts.path};
        default:
            return {AddressKind::kUnsupported, text};
    }
}

std::vector<std::shared_ptr<QueueItem>> MakeTransferItems(
    bool download, const std::vector<TransferSource>& sources, const std::string& destination,
    const std::string& dropDirectory) {
    const std::string& target = dropDirectory.empty() ? destination : dropDirectory;
    std::vector<std::shared_ptr<QueueItem>> items;
    items.reserve(sources.size());
    for (const TransferSource& source : sources) {
        const QueueItemKind kind =
            source.isDirectory ? QueueItemKind::kDirectory : QueueItemKind::kFile;
        const int64_t size = source.isDirectory ? kUnknownSize : source.size;
        items.push_back(
            download ? MakeQueueItem(QueueOperation::kDownload, target, source.path, size, kind)
                     : MakeQueueItem(QueueOperation::kUpload, source.path, target, size, kind));
    }
    return items;
}

}  // namespace tarnwick::gui
