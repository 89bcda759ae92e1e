// The directory cache on disk: layout, reading and writing, pruning, refused names, errors;
// and the trimming of the history files.
#include "listing/directory_cache.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "listing/history_file.h"
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
    // The number of entries cached for the directory; -1 when it is not cached.
    int Load(const std::string& remoteDir) {
        FileEntryList list;
        return LoadCachedListing(home_, kSite, remoteDir, list) == 0 ? int(list.size()) : -1;
    }
    // Every path under `directory` (links not followed), relative and sorted.
    static Strings Tree(const std::string& directory) {
        Strings paths;
        for (const auto& item : fs::recursive_directory_iterator(directory))
            paths.push_back(item.path().lexically_relative(directory).string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

// A listing is stored as it came (its line ends are the listing reader's business).
TEST_F(DirectoryCacheTest, ListingIsStoredVerbatimAndADisabledCacheWritesNothing) {
    const std::string crlf =
        "-rw-r--r-- 1 u g 1 Jan 05 2001 a\r\n-rw-r--r-- 1 u g 1 Jan 05 2001 b\r\n";
    ASSERT_EQ(Update("/pub", crlf), 1);
    EXPECT_EQ(ReadFile(host_ + "/pub/files.lis"), crlf);
    EXPECT_EQ(Tree(host_ + "/pub"), Strings{"files.lis"});  // no temporary file left
    EXPECT_EQ(UpdateDirectoryCache({home_, false}, kSite, "/pub", "x\n"), -2);
    EXPECT_EQ(Load("/pub"), 2);  // reading is not affected
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DirectoryCacheTest, LayoutLookupAndDelete) {
    // The root is the host's own directory; a drive prefix is dropped, reading as well.
    ASSERT_EQ(Update("/") + Update("//pub//") + Update("C:/data"), 3);
    EXPECT_EQ(Cached("//"), host_ + "/files.lis");
    EXPECT_EQ(Cached("/pub"), host_ + "/pub/files.lis");
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
    EXPECT_EQ(Load("/pub"), -1);
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

    // "Docs" is listed as "docs": case is ignored; a foreign file keeps its directory; links
    // are not followed.
    ASSERT_EQ(Update("/pub"), 1);
    EXPECT_EQ(Tree(pub), (Strings{"Docs", "Docs/files.lis", "files.lis", "held", "held/notes.txt",
                                  "linked", "linux", "linux/files.lis"}));
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
    EXPECT_EQ(Tree(home_), Strings{"files.lis"});
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

// A history of `size` bytes in numbered lines of the given lengths, in turn; trimmed, it
// keeps the lines that begin within its last 8,000 bytes, each whole.
TEST(HistoryFileTest, TrimsOnlyPastTenThousandBytesToWholeLines) {
    // 10,000 bytes are left alone; at 25,000 the cut falls on a line start; lines over 255
    // bytes stay whole.
    const std::pair<size_t, std::vector<size_t>> cases[] = {
        {10000, {37, 52, 11}}, {10001, {37, 52, 11}}, {25000, {20}}, {12345, {600, 700}}};
    for (const auto& [size, lengths] : cases) {
        std::string text, kept;
        for (size_t i = 0; text.size() < size; ++i) {
            std::string line = std::to_string(i) + " ";
            line.resize(lengths[i % lengths.size()] - 1, 'a');
            if (text.size() >= size - 8000) kept += line + "\n";
            text += line + "\n";
        }
        kept.resize(kept.size() - (text.size() - size));  // the last line is cut short
        text.resize(size);
        testing::ScratchDirectory scratch;
        WriteFile(scratch / "urlhis.txt", text);
        const auto trim = TrimHistoryFile(scratch.path() + "/", "urlhis.txt");
        EXPECT_EQ(trim.status,
                  size > 10000 ? HistoryTrimStatus::kTrimmed : HistoryTrimStatus::kLeftAlone);
        EXPECT_EQ(ReadFile(scratch / "urlhis.txt"), size > 10000 ? kept : text) << size;
        EXPECT_FALSE(FileExists(scratch / "~tmphis.txt"));
    }
}

}  // namespace
}  // namespace tarnwick
