// The directory cache on disk: layout, reading and writing, pruning, refused names, errors.
#include "listing/directory_cache.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Strings = std::vector<std::string>;

constexpr char kSite[] = "ftp.example.com";
constexpr char kListing[] =
    "total 12\n"
    "drwxr-xr-x 2 owner group 4096 Jan 31 12:00 linux\n"
    "drwxr-xr-x 2 owner group 4096 Jan 31 12:00 docs\n"
    "-rw-r--r-- 1 owner group 1234 Jan 05 2001 read me.txt\n"
    "-rw-r--r-- 1 owner group 99 Feb 01 2002 A.txt\n";

class DirectoryCacheTest : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch_;
    const std::string home_ = scratch_ / "cache";
    const std::string host_ = home_ + "/" + kSite;
    Strings messages_;

    int Update(const std::string& remoteDir, std::string_view listing = kListing) {
        return UpdateDirectoryCache({home_, true}, kSite, remoteDir, listing,
                                    [this](const std::string& m) { messages_.push_back(m); });
    }
    std::string Cached(const std::string& remoteDir) {
        return CachedListPath(home_, kSite, remoteDir);
    }
    // One line per cached entry of the directory: name, size, kind, time.
    Strings Load(const std::string& remoteDir) {
        FileEntryList list;
        if (LoadCachedListing(home_, kSite, remoteDir, list) != 0) return {"not cached"};
        return Summary(list);
    }
    static Strings Summary(const FileEntryList& list) {
        Strings lines;
        for (const FileEntry& e : list) {
            lines.push_back(e.name + " " + std::to_string(e.Size()) +
                            (e.isDirectory ? " d " : " - ") + std::to_string(e.modified));
        }
        return lines;
    }
    static Strings Names(const std::string& directory) {
        Strings names;
        for (const auto& item : fs::directory_iterator(directory)) {
            names.push_back(item.path().filename().string());
        }
        return names;
    }
};

TEST_F(DirectoryCacheTest, CrLfListingIsStoredVerbatimAndReadsBackLikeLf) {
    std::string crlf;
    for (char c : std::string(kListing)) c == '\n' ? crlf += "\r\n" : crlf += c;
    ASSERT_EQ(Update("/pub", crlf), 1);
    EXPECT_EQ(ReadFile(host_ + "/pub/files.lis"), crlf);
    EXPECT_EQ(Names(host_ + "/pub"), Strings{"files.lis"});  // no temporary file left
    FileEntryList parsed;
    ParseListingText(parsed, kListing);
    EXPECT_EQ(Load("/pub"), Summary(parsed));
    // A disabled cache writes nothing, but reading is not affected.
    EXPECT_EQ(UpdateDirectoryCache({home_, false}, kSite, "/pub", "x\n"), -2);
    EXPECT_EQ(Load("/pub"), Summary(parsed));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DirectoryCacheTest, LayoutLookupAndDelete) {
    ASSERT_EQ(Update("/"), 1);
    EXPECT_EQ(Cached("//"), host_ + "/files.lis");  // the root is the host's own directory
    ASSERT_EQ(Update("//pub//"), 1);
    EXPECT_EQ(Cached("/pub"), host_ + "/pub/files.lis");
    ASSERT_EQ(Update("C:/data"), 1);  // a drive prefix is dropped, reading as well
    EXPECT_EQ(Cached("C:/data"), host_ + "/data/files.lis");
    EXPECT_EQ(Cached("/never/listed"), "");

    FileEntry entry;
    ASSERT_TRUE(LookupCachedEntry(home_, kSite, "/pub/read me.txt", entry));
    EXPECT_EQ(entry.Size(), 1234u);
    ASSERT_TRUE(LookupCachedEntry(home_, kSite, "/pub/linux/", entry));
    EXPECT_TRUE(entry.isDirectory);
    EXPECT_FALSE(LookupCachedEntry(home_, kSite, "/pub/a.txt", entry));  // case-sensitive
    EXPECT_FALSE(LookupCachedEntry(home_, kSite, "/other/A.txt", entry));
    DeleteCachedListing(home_, kSite, "/pub/");
    EXPECT_EQ(Load("/pub"), Strings{"not cached"});
}

TEST_F(DirectoryCacheTest, PruningRemovesOnlyVanishedCacheTrees) {
    const std::string pub = host_ + "/pub";
    for (const char* dir : {"linux", "Docs", "gone/deeper", "held/sub"}) {
        ASSERT_TRUE(MakeDirectoryPath(pub + "/" + dir));
        WriteFile(pub + "/" + dir + "/files.lis", "x\n");
    }
    WriteFile(pub + "/held/notes.txt", "not ours");
    const std::string outside = scratch_ / "outside";
    ASSERT_TRUE(MakeDirectoryPath(outside + "/unlisted"));
    WriteFile(outside + "/unlisted/files.lis", "x\n");
    fs::create_directory_symlink(outside, pub + "/linked");
    fs::create_directory_symlink(outside, host_ + "/alias");

    ASSERT_EQ(Update("/pub"), 1);
    EXPECT_TRUE(FileExists(pub + "/linux/files.lis"));
    EXPECT_TRUE(FileExists(pub + "/Docs/files.lis"));  // listed as "docs": case is ignored
    EXPECT_FALSE(FileExists(pub + "/gone"));
    EXPECT_TRUE(FileExists(pub + "/held/notes.txt"));  // a foreign file keeps its directory
    EXPECT_FALSE(FileExists(pub + "/held/files.lis"));
    EXPECT_FALSE(FileExists(pub + "/held/sub"));
    EXPECT_TRUE(fs::is_symlink(pub + "/linked"));  // links are not followed
    // Nor is a listed directory that is a link: its pruning would leave the host's tree.
    ASSERT_EQ(Update("/alias"), 1);
    EXPECT_TRUE(FileExists(outside + "/unlisted/files.lis"));
    EXPECT_FALSE(DeleteCacheTree(pub + "/linked/"));
    EXPECT_TRUE(FileExists(outside + "/unlisted/files.lis"));
}

TEST_F(DirectoryCacheTest, RefusesNamesThatWouldLeaveTheTree) {
    ASSERT_TRUE(MakeDirectoryPath(home_));
    WriteFile(home_ + "/files.lis", "precious\n");
    WriteFile(scratch_ / "files.lis", "precious\n");
    for (const char* site : {"", ".", "..", "a/b", "../x"}) {
        EXPECT_EQ(UpdateDirectoryCache({home_, true}, site, "/pub", kListing), -1) << site;
        EXPECT_EQ(CachedListPath(home_, site, "/"), "") << site;
        DeleteCachedListing(home_, site, "/");
    }
    for (const char* dir : {"", "pub", "/..", "/pub/../..", "/./x", "/a\\b", "C:data"}) {
        EXPECT_EQ(Update(dir), -1) << dir;
        EXPECT_EQ(Cached(dir), "") << dir;
        DeleteCachedListing(home_, kSite, dir);
    }
    EXPECT_EQ(Update(std::string("/pub\0x", 6)), -1);
    EXPECT_EQ(UpdateDirectoryCache({"", true}, kSite, "/pub", kListing), -1);

    EXPECT_EQ(ReadFile(scratch_ / "files.lis"), "precious\n");
    EXPECT_EQ(ReadFile(home_ + "/files.lis"), "precious\n");
    EXPECT_EQ(Names(home_), Strings{"files.lis"});
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DirectoryCacheTest, FailuresAreReported) {
    ASSERT_TRUE(MakeDirectoryPath(home_));
    WriteFile(host_, "a file where the host's directory belongs");
    EXPECT_EQ(Update("/pub"), -1);
    EXPECT_EQ(messages_, Strings{"Can't open file " + host_ + "/pub/files.lis"});

    // A listing file that cannot be replaced: reported, and pruning still runs.
    fs::remove(host_);
    ASSERT_TRUE(MakeDirectoryPath(host_ + "/files.lis/keep"));
    WriteFile(host_ + "/files.lis/keep/other", "x");
    ASSERT_TRUE(MakeDirectoryPath(host_ + "/gone"));
    messages_.clear();
    EXPECT_EQ(Update("/"), -1);
    EXPECT_EQ(messages_, Strings{"Error when updating directory cache!"});
    EXPECT_FALSE(FileExists(host_ + "/gone"));
}

}  // namespace
}  // namespace tarnwick
