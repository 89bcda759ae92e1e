// The directory cache on disk.
#include "listing/directory_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "listing/atomic_file.h"
#include "listing/local_files.h"
#include "listing/paths.h"
#include "listing/text_utils.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

const std::string kListingFile(kListingFileName);

// Where a remote directory lives in the cache: the host's directory and the components of
// the remote path below it.
struct CacheLocation {
    std::string hostDirectory;
    std::vector<std::string> components;

    std::string Directory() const {
        std::string directory = hostDirectory;
        for (const std::string& component : components) directory += "/" + component;
        return directory;
    }
    std::string ListingFile() const { return Directory() + "/" + kListingFile; }
};

bool IsSafeComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// Splits an absolute remote directory into its components; nullopt when it must not be
// cached. A drive prefix ("C:/data") is dropped, and "C:" alone is that drive's root.
std::optional<std::vector<std::string>> RemoteComponents(std::string_view remoteDir) {
    if (remoteDir.size() >= 2 && remoteDir[1] == ':') {
        remoteDir.remove_prefix(2);
        if (remoteDir.empty()) return std::vector<std::string>{};
    }
    if (remoteDir.empty() || remoteDir.front() != '/') return std::nullopt;
    std::vector<std::string> components;
    size_t start = 0;
    while (start < remoteDir.size()) {
        const size_t end = std::min(remoteDir.find('/', start), remoteDir.size());
        const std::string_view component = remoteDir.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;  // leading, trailing and doubled "/"
        if (!IsSafeComponent(component)) return std::nullopt;
        components.emplace_back(component);
    }
    return components;
}

std::optional<CacheLocation> Locate(const std::string& home, const std::string& siteKey,
                                    const std::string& remoteDir) {
    if (home.empty() || !IsValidSiteKey(siteKey)) return std::nullopt;
    std::optional<std::vector<std::string>> components = RemoteComponents(remoteDir);
    if (!components) return std::nullopt;
    return CacheLocation{StripTrailingSeparator(JoinPath(home, siteKey, '/')),
                         std::move(*components)};
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// True if every directory from the host's directory down to the location is a real
// directory, not a symbolic link: pruning below it then stays inside the host's tree.
bool IsReachedWithoutLinks(const CacheLocation& location) {
    std::string directory = location.hostDirectory;
    for (const std::string& component : location.components) {
        directory += "/" + component;
        std::error_code error;
        if (!fs::is_directory(fs::symlink_status(directory, error))) return false;
    }
    return true;
}

// The entries of a directory, read before anything in it is changed.
std::vector<fs::directory_entry> EntriesOf(const std::string& directory) {
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(*it);
    }
    return entries;
}

bool IsRealDirectory(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_directory(error) && !entry.is_symlink(error);
}

// Removes the cached subdirectories whose names the new listing no longer holds.
void PruneVanishedSubdirectories(const CacheLocation& location, const FileEntryList& entries) {
    if (!IsReachedWithoutLinks(location)) return;
    for (const fs::directory_entry& item : EntriesOf(location.Directory())) {
        if (!IsRealDirectory(item)) continue;
        const std::string name = item.path().filename().string();
        const bool listed = std::any_of(entries.begin(), entries.end(), [&](const FileEntry& e) {
            return EqualsIgnoringCase(e.name, name);
        });
        if (!listed) DeleteCacheTree(item.path().string());
    }
}

}  // namespace

bool IsValidSiteKey(std::string_view siteKey) {
    return !siteKey.empty() && siteKey != "." && siteKey != ".." &&
           siteKey.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string CacheDirectoryPath(const std::string& home, const std::string& siteKey,
                               const std::string& remoteDir) {
    const std::optional<CacheLocation> location = Locate(home, siteKey, remoteDir);
    return location ? location->Directory() : std::string();
}

int UpdateDirectoryCache(const CacheConfig& config, const std::string& siteKey,
                         const std::string& remoteDir, std::string_view listing,
                         const ErrorReporter& report, const FileEntryList* entries) {
    if (!config.enabled) return -2;
    const std::optional<CacheLocation> location = Locate(config.home, siteKey, remoteDir);
    if (!location) return -1;
    auto tell = [&report](const std::string& message) {
        if (report) report(message);
    };

    MakeDirectoryPath(location->Directory());
    const std::string listingFile = location->ListingFile();
    // A cached listing can always be fetched again, so it is not worth a sync to the disk.
    const AtomicWriteResult written =
        WriteFileAtomically(listingFile, listing, {.syncToDisk = false});
    if (written == AtomicWriteResult::kCannotCreateTemporary) {
        tell("Can't open file " + listingFile);
        return -1;
    }
    if (written != AtomicWriteResult::kWritten) tell("Error when updating directory cache!");
    if (entries != nullptr) {
        PruneVanishedSubdirectories(*location, *entries);
    } else {
        FileEntryList parsed;
        ParseListingText(parsed, listing);
        PruneVanishedSubdirectories(*location, parsed);
    }
    return written == AtomicWriteResult::kWritten ? 1 : -1;
}

std::string CachedListPath(const std::string& home, const std::string& siteKey,
                           const std::string& remoteDir) {
    const std::optional<CacheLocation> location = Locate(home, siteKey, remoteDir);
    if (!location) return {};
    std::string listingFile = location->ListingFile();
    return IsRegularFile(listingFile) ? listingFile : std::string();
}

int LoadCachedListing(const std::string& home, const std::string& siteKey,
                      const std::string& remoteDir, FileEntryList& list) {
    const std::string listingFile = CachedListPath(home, siteKey, remoteDir);
    if (listingFile.empty()) return -1;
    return LoadListingFile(listingFile, list);
}

bool LookupCachedEntry(const std::string& home, const std::string& siteKey,
                       const std::string& remotePath, FileEntry& entry) {
    const std::string parent = ParentPath(remotePath);
    if (parent.empty()) return false;
    const std::string name = LastComponent(remotePath);
    FileEntryList entries;
    if (LoadCachedListing(home, siteKey, parent, entries) != 0) return false;
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&name](const FileEntry& e) { return e.name == name; });
    if (found == entries.end()) return false;
    entry = *found;
    return true;
}

void DeleteCachedListing(const std::string& home, const std::string& siteKey,
                         const std::string& remoteDir) {
    const std::optional<CacheLocation> location = Locate(home, siteKey, remoteDir);
    if (!location) return;
    std::error_code ignored;
    fs::remove(location->ListingFile(), ignored);
}

bool DeleteCacheTree(const std::string& dir) {
    const std::string directory = StripTrailingSeparator(dir);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(directory, error))) return false;
    for (const fs::directory_entry& item : EntriesOf(directory)) {
        if (IsRealDirectory(item)) {
            DeleteCacheTree(item.path().string());
        } else if (item.path().filename() == kListingFile && item.is_regular_file(error) &&
                   !item.is_symlink(error)) {
            fs::remove(item.path(), error);
        }
    }
    // Fails, keeping the directory, while anything else is still in it.
    return fs::remove(directory, error) && !error;
}

}  // namespace tarnwick
