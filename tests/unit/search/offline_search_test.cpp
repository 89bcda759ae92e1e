// The offline search over a cache tree: which names match, in which order, stopping, and
// never leaving the cache home.
#include "search/offline_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "scratch_directory.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string File(const std::string& name) {
    return "-rw-r--r--   1 ftp ftp  1234 Jan  5 10:00 " + name + "\n";
}

struct SearchRun {
    OfflineSearchResult result;
    Strings urls;
    Strings directories;  // as reported before each was searched
};

// A cache home inside a scratch directory, so that tests can also put things beside it.
class OfflineSearchTest : public ::testing::Test {
protected:
    std::string home() const { return scratch_ / "cache"; }

    // Writes `listing` as the files.lis of `directory` (relative to the cache home).
    void Cache(const std::string& directory, const std::string& listing) const {
        fs::create_directories(home() + "/" + directory);
        testing::WriteFile(home() + "/" + directory + "/files.lis", listing);
    }

    // Searches the cache home (or `cacheHome`); with stopAt > 0 the stopAt-th question
    // whether to stop is answered yes.
    SearchRun Search(const std::string& text, const Strings& sites, bool regex = false,
                     int stopAt = 0, std::string cacheHome = "") const {
        SearchRun run;
        int questions = 0;
        OfflineSearchCallbacks callbacks;
        callbacks.searchingDirectory = [&run](const std::string& d) {
            run.directories.push_back(d);
        };
        callbacks.resultFound = [&run](const std::string& url) { run.urls.push_back(url); };
        callbacks.stopRequested = [&questions, stopAt] { return ++questions == stopAt; };
        if (cacheHome.empty()) cacheHome = home();
        run.result = RunOfflineSearch({cacheHome, sites, text, regex}, callbacks);
        EXPECT_EQ(run.result.resultCount, run.urls.size());
        return run;
    }

    testing::ScratchDirectory scratch_;
};

TEST_F(OfflineSearchTest, MatchesWholeNamesAsTheListingFileReaderGivesThem) {
    Cache("h", "total 12\n" + File(".") + File("a.txt") + File("a.txt.bak") + File("atxt") +
                   File("b.TXT") + File("notes for  release.txt") +
                   "lrwxrwxrwx 1 u g 11 Jan 05 2001 www.txt -> public.txt\n"
                   "01-31-02  09:05PM                 1234 dos file.txt\r\n"
                   "totally.txt is skipped\n\n" +
                   File("after the empty line.txt"));
    EXPECT_EQ(Search("*.txt", {"h"}).urls,
              (Strings{"ftp://h/a.txt", "ftp://h/notes%20for%20%20release.txt", "ftp://h/www.txt",
                       "ftp://h/dos%20file.txt"}));
    EXPECT_EQ(Search("?", {"h"}).urls, (Strings{"ftp://h/."}));  // dot entries are kept
    EXPECT_EQ(Search("(a|b)\\.(txt|TXT)", {"h"}, true).urls,
              (Strings{"ftp://h/a.txt", "ftp://h/b.TXT"}));
    // The wildcard's parentheses stay as they are, so "(ab*" does not compile.
    const SearchRun bad = Search("(ab*", {"h"});
    EXPECT_EQ(bad.result.outcome, SearchOutcome::kPatternError);
    EXPECT_EQ(bad.result.compile.position, 5u);  // in "(ab.*"
    EXPECT_TRUE(bad.directories.empty() && bad.urls.empty());
}

// Sites in the order given, each level by level; a directory without a listing of its own is
// still walked, and a trailing separator on the cache home changes no URL. Stop is honoured
// between directories and ends all sites.
TEST_F(OfflineSearchTest, WalksEverySiteLevelByLevelUntilStopped) {
    Cache("h/b/no-listing/sub", File("x"));
    Cache("h/a", File("x"));
    Cache("h", File("x"));
    Cache("g", File("x"));
    const Strings expected{"ftp://h/x", "ftp://h/a/x", "ftp://h/b/no-listing/sub/x", "ftp://g/x"};
    EXPECT_EQ(Search("x", {"h", "g"}).urls, expected);
    EXPECT_EQ(Search("x", {"h", "g"}, false, 0, home() + "/").urls, expected);
    const SearchRun run = Search("x", {"h", "g"}, false, 2);
    EXPECT_EQ(run.result.outcome, SearchOutcome::kCancelled);
    EXPECT_EQ(run.urls, (Strings{"ftp://h/x"}));
    EXPECT_TRUE(Search("x", {"h", "g"}, false, 1).urls.empty());
}

TEST_F(OfflineSearchTest, NeverLeavesTheCacheHome) {
    const std::string outside = scratch_ / "outside";
    fs::create_directories(outside);
    testing::WriteFile(outside + "/files.lis", File("secret"));
    Cache("h", File("visible"));
    fs::create_directory_symlink(outside, home() + "/h/link");
    fs::create_directories(home() + "/j");
    fs::create_symlink(outside + "/files.lis", home() + "/j/files.lis");
    fs::create_directory_symlink(outside, home() + "/linked-site");
    EXPECT_EQ(Search("*", {"h", "j", "linked-site"}).urls, (Strings{"ftp://h/visible"}));
    // Names that are no site key would lead out of the cache home.
    EXPECT_TRUE(Search("*", {"..", "../outside", ""}).directories.empty());
}

TEST_F(OfflineSearchTest, ListingThatIsAPipeIsSkippedNotWaitedFor) {
    fs::create_directories(home() + "/h");
    const std::string fifo = home() + "/h/files.lis";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto search = std::async(std::launch::async, [this] { return Search("*", {"h"}); });
    if (search.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the search waits for a writer on the pipe";
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases the reader
        if (writer >= 0) close(writer);
    }
    EXPECT_EQ(search.get().result.outcome, SearchOutcome::kCompleted);
}

}  // namespace
}  // namespace tarnwick
