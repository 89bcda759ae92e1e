// The offline search: finds entries by name in the listings of the directory cache, without
// any connection. Each chosen site's cache tree is walked breadth first; every entry of every
// "files.lis" (files, directories, links, and the "." and ".." a listing may hold) whose name
// matches the pattern as a whole becomes a result "ftp://" host "/" path "/" name (as
// MakeFtpUrl writes it, so ParseUrl gives the path back).
//
// The walk stays inside the cache home: symbolic links (to directories, as a site, or as a
// "files.lis") are never followed, and a site name that is not a valid cache site key
// ("", ".", "..", or holding "/") is not searched.
//
// Order: sites in the order given; within a site, directories breadth first, and the
// subdirectories of one directory by name (byte order), so that the same cache always gives
// the same results in the same order, whatever order the file system enumerates in.
//
// Threads: every function runs on the calling thread and calls its callbacks there; nothing
// is shared between calls. The walk may run on a thread of its own, in which case the
// callbacks must marshal their data, and `stopRequested` typically reads an atomic flag.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "search/pattern_engine.h"

namespace tarnwick {

// Texts of the search window's status line.
inline constexpr std::string_view kSearchCompletedText = "Searching completed successfully!";
inline constexpr std::string_view kSearchCancelledText = "Searching cancelled by user!";

// "Searching " + directory + "...": the status text while `directory` is searched.
std::string SearchingStatusText(std::string_view directory);

// The site directories under the cache home, sorted by name: directories only (no symbolic
// links), "." and ".." excluded. Empty when the cache home is missing or unreadable.
std::vector<std::string> CachedSites(const std::string& cacheHome);

// Turns a wildcard into a pattern of the pattern engine: "." becomes "\.", then "?" becomes
// ".", then "*" becomes ".*". Nothing else is escaped, so "[", "(", "|" and the like keep
// their meaning in the pattern engine.
std::string WildcardToPattern(std::string_view wildcard);

struct OfflineSearchRequest {
    std::string cacheHome;
    std::vector<std::string> sites;  // site directory names under the cache home, in search order
    std::string text;                // a wildcard, or a pattern when useRegularExpression is set
    bool useRegularExpression = false;
};

// Called on the searching thread; any of them may be empty.
struct OfflineSearchCallbacks {
    // Before a directory's listing is searched, with the directory's local path.
    std::function<void(const std::string& directory)> searchingDirectory;
    // For each result as it is found.
    std::function<void(const std::string& url)> resultFound;
    // Asked before each directory; true ends the search as cancelled. A front end that runs
    // the search on its own event thread can dispatch its pending events here.
    std::function<bool()> stopRequested;
};

enum class SearchOutcome {
    kCompleted,     // every chosen site was searched
    kCancelled,     // stopRequested answered true
    kPatternError,  // the pattern did not compile; nothing was searched
};

struct OfflineSearchResult {
    SearchOutcome outcome = SearchOutcome::kCompleted;
    PatternCompileResult compile;  // the compile error (message, position) on kPatternError
    std::size_t resultCount = 0;
};

// Compiles the request's pattern and searches the chosen sites. A pattern that does not
// compile searches nothing and calls no callback: its error is returned instead.
OfflineSearchResult RunOfflineSearch(const OfflineSearchRequest& request,
                                     const OfflineSearchCallbacks& callbacks);

}  // namespace tarnwick
