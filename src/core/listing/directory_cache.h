// The directory cache on disk: every remote listing a session receives is kept as the file
// "files.lis" in a tree that mirrors the server's tree:
//
//   <cache home>/<site key>/<remote path components>/files.lis
//
// The site key is the site's host address as entered; the root "/" maps to the site key's
// own directory, "/pub/" and "/pub" to the same one, and a drive prefix ("C:/data") is
// dropped. The file holds the LIST or MLSD data as received (an MLSD
// listing from its first fact line on: the parser tells the two apart by the first line). Readers
// use the listing parser.
//
// Names come from the server and from the site list, so they are checked before they become
// part of a local path: a site key that is empty, ".", ".." or contains "/" is refused, and
// so is a remote directory that is not absolute or has a component that is "." or ".." or
// contains "\" (empty components, as in "//", are skipped). Refused names are never cached:
// writes fail without touching the disk, and readers see "not cached".
//
// Threads: any thread may call any function. There is no lock: each listing file is
// replaced whole (written to a temporary file and renamed), so a reader sees the old or the
// new listing, never a mix. Two sessions to one host share one tree.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "listing/listing_parser.h"

namespace tarnwick {

inline constexpr std::string_view kListingFileName = "files.lis";

// The cache settings ("CacheHomeDirectory", "EnableCache") as the caller read them.
struct CacheConfig {
    std::string home;
    bool enabled = true;  // when false nothing is written; reading is not affected
};

// Shows a message to the user (a message box in the GUI); called on the calling thread.
using ErrorReporter = std::function<void(const std::string& message)>;

// The cache directory of a remote directory, without trailing "/"; empty if the home, the
// site key or the remote directory is refused (see above).
std::string CacheDirectoryPath(const std::string& home, const std::string& siteKey,
                               const std::string& remoteDir);

// True if the site key can name a cache directory.
bool IsValidSiteKey(std::string_view siteKey);

// Stores a listing and prunes the cached subdirectories that the listing no longer names
// (compared ignoring case; a subdirectory holding files other than "files.lis", or reached
// through a symbolic link, is never removed). Returns 1 when written, -2 when the cache is
// disabled (nothing happens), -1 when the listing was not stored: a refused name (nothing
// reported), a file that cannot be created ("Can't open file " + path reported, no
// pruning) or a write error ("Error when updating directory cache!" reported, the previous
// listing file kept, pruning still done). `entries`, when given, is the listing already
// parsed (ParseListingText), so that it is not parsed again for the pruning.
int UpdateDirectoryCache(const CacheConfig& config, const std::string& siteKey,
                         const std::string& remoteDir, std::string_view listing,
                         const ErrorReporter& report = {}, const FileEntryList* entries = nullptr);

// The path of the directory's listing file if it exists, else empty.
std::string CachedListPath(const std::string& home, const std::string& siteKey,
                           const std::string& remoteDir);

// Appends the cached entries of the directory ("." and ".." included) to `list`. Returns 0,
// or -1 if the directory is not cached or its file cannot be read.
int LoadCachedListing(const std::string& home, const std::string& siteKey,
                      const std::string& remoteDir, FileEntryList& list);

// Finds a file by its full remote path in its parent directory's cached listing (exact,
// case-sensitive name) and copies the first matching entry out. False if there is none.
bool LookupCachedEntry(const std::string& home, const std::string& siteKey,
                       const std::string& remotePath, FileEntry& entry);

// Removes the directory's listing file, if any, so that its next visit lists it again.
void DeleteCachedListing(const std::string& home, const std::string& siteKey,
                         const std::string& remoteDir);

// Deletes a cached subtree: every regular file "files.lis" in it and every directory left
// empty. Anything else (other files, symbolic links, which are never followed) stays, and so
// do the directories holding it and their ancestors; the rest of the tree is still deleted.
// Returns true if `dir` itself is gone; false, deleting nothing, if `dir` is not a directory
// or is a symbolic link.
bool DeleteCacheTree(const std::string& dir);

}  // namespace tarnwick
