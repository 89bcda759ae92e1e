// The offline search walk over the directory cache.
#include "search/offline_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <memory>

#include "listing/directory_cache.h"
#include "listing/listing_parser.h"
#include "listing/url.h"

namespace tarnwick {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// lstat, so that a symbolic link is seen as what it is and never followed.
bool HasType(const std::string& path, mode_t type) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

bool IsRealDirectory(const std::string& path) {
    return HasType(path, S_IFDIR);
}

// The cache home with exactly one "/" at its end ("/" stays "/").
std::string WithTrailingSlash(std::string_view home) {
    while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
    std::string result(home);
    if (result.back() != '/') result += '/';
    return result;
}

// The names of the real subdirectories of `dir` (no symbolic links, not "." or ".."),
// sorted. readdir's type saves a stat per entry where the file system provides it.
std::vector<std::string> SubdirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    const DirHandle handle(opendir(dir.c_str()));
    if (!handle) return names;
    while (const dirent* entry = readdir(handle.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        const bool isDirectory = entry->d_type == DT_UNKNOWN
                                     ? IsRealDirectory(dir + "/" + entry->d_name)
                                     : entry->d_type == DT_DIR;
        if (isDirectory) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One site's walk. Directories are kept as local paths; since each begins with the cache
// home and "/", the part after that prefix is the path the result URLs are made of.
class SiteWalk {
public:
    SiteWalk(const CPatternEngine& engine, const OfflineSearchCallbacks& callbacks,
             std::size_t& resultCount)
        : engine_(engine), callbacks_(callbacks), resultCount_(resultCount) {}

    // Returns false when the search was cancelled.
    bool Run(const std::string& homeWithSeparator, const std::string& site) {
        relativeStart_ = homeWithSeparator.size();
        std::deque<std::string> pending;
        const std::string siteDirectory = homeWithSeparator + site;
        if (IsRealDirectory(siteDirectory)) pending.push_back(siteDirectory);
        while (!pending.empty()) {
            if (callbacks_.stopRequested && callbacks_.stopRequested()) return false;
            const std::string directory = std::move(pending.front());
            pending.pop_front();
            SearchListing(directory);
            for (const std::string& name : SubdirectoryNames(directory)) {
                pending.push_back(directory + "/" + name);
            }
        }
        return true;
    }

private:
    void SearchListing(const std::string& directory) {
        if (callbacks_.searchingDirectory) callbacks_.searchingDirectory(directory);
        const std::string listingFile = directory + "/" + std::string(kListingFileName);
        // A link could lead out of the cache, and a FIFO would block the open for good.
        if (!HasType(listingFile, S_IFREG)) return;
        entries_.clear();
        if (LoadListingFile(listingFile, entries_) != 0) return;
        for (const FileEntry& entry : entries_) {
            if (engine_.MatchWhole(entry.name)) AddResult(directory, entry.name);
        }
    }

    void AddResult(const std::string& directory, const std::string& name) {
        ++resultCount_;
        if (!callbacks_.resultFound) return;
        // The relative directory is the site (the host) and then the remote directory.
        const std::string_view relative = std::string_view(directory).substr(relativeStart_);
        const size_t slash = relative.find('/');
        std::string path(slash == std::string_view::npos ? "" : relative.substr(slash));
        path.append("/").append(name);
        callbacks_.resultFound(MakeFtpUrl(relative.substr(0, slash), path));
    }

    const CPatternEngine& engine_;
    const OfflineSearchCallbacks& callbacks_;
    std::size_t& resultCount_;
    std::size_t relativeStart_ = 0;
    FileEntryList entries_;  // reused from directory to directory
};

}  // namespace

std::string SearchingStatusText(std::string_view directory) {
    std::string text = "Searching ";
    text.append(directory).append("...");
    return text;
}

std::vector<std::string> CachedSites(const std::string& cacheHome) {
    if (cacheHome.empty()) return {};
    return SubdirectoryNames(cacheHome);
}

std::string WildcardToPattern(std::string_view wildcard) {
    std::string pattern;
    pattern.reserve(wildcard.size() * 2);
    for (const char c : wildcard) {
        if (c == '.') {
            pattern += "\\.";
        } else if (c == '?') {
            pattern += '.';
        } else if (c == '*') {
            pattern += ".*";
        } else {
            pattern += c;
        }
    }
    return pattern;
}

OfflineSearchResult RunOfflineSearch(const OfflineSearchRequest& request,
                                     const OfflineSearchCallbacks& callbacks) {
    OfflineSearchResult result;
    CPatternEngine engine;
    const std::string pattern =
        request.useRegularExpression ? request.text : WildcardToPattern(request.text);
    result.compile = engine.Compile(pattern);
    if (result.compile.status != kPatternCompiled) {
        result.outcome = SearchOutcome::kPatternError;
        return result;
    }
    if (request.cacheHome.empty()) return result;
    const std::string home = WithTrailingSlash(request.cacheHome);
    SiteWalk walk(engine, callbacks, result.resultCount);
    for (const std::string& site : request.sites) {
        if (!IsValidSiteKey(site)) continue;
        if (!walk.Run(home, site)) {
            result.outcome = SearchOutcome::kCancelled;
            break;
        }
    }
    return result;
}

}  // namespace tarnwick
