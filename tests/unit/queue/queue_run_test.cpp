// The queue run against the scripted server: its cycles and the stopped state, the stopped
// items question, unsafe listing names, the depth bound and links that loop, the resume after
// a lost connection, and site-to-site items.
#include <gtest/gtest.h>

#include <filesystem>

#include "listing/directory_cache.h"
#include "queue/queue_run.h"
#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::ScratchDirectory;

constexpr const char* kStoppedQuestion = "Do you want to transfer the stopped items again?";

class QueueRunTest : public SessionTest {
protected:
    void SetUp() override { settings->fileRetry = 0; }

    std::shared_ptr<QueueItem> Queue(QueueOperation operation, std::string clientPath,
                                     std::string serverPath, QueueItemKind kind,
                                     int64_t size = kUnknownSize) {
        auto item =
            MakeQueueItem(operation, std::move(clientPath), std::move(serverPath), size, kind);
        session->queue.Add(item);
        return item;
    }

    // A site-to-site item: /f.bin from this session's server to `target` on `partner`.
    std::shared_ptr<QueueItem> QueueSiteToSite(const std::shared_ptr<CFtpSession>& partner,
                                               const std::string& target = "ftp://127.0.0.1/dest") {
        auto item = Queue(QueueOperation::kDownload, target, "/f.bin", QueueItemKind::kFile, 5);
        item->partner = partner;
        return item;
    }

    std::optional<int> RunQueue() { return Run(Command(CmdRunQueue)); }

    ScratchDirectory scratch;
};

// ErrorRetry 2: three passes; the item becomes stopped in the last one, so the run ends as
// stopped rather than out of cycles. A second run asks about the stopped item: No leaves it
// stopped and ends without a word to the server.
TEST_F(QueueRunTest, FailingItemIsStoppedInTheLastCycleAndAskedAboutLater) {
    ScriptStartup(server);
    server.Expect("type i").Reply("200 ok\r\n");
    for (int pass = 0; pass < 3; ++pass) {  // the data connection refused each time
        server.Expect("pasv").Reply("425 no data connection now\r\n");
    }
    OpenAndStart();
    auto item = Queue(QueueOperation::kDownload, scratch.path(), "/f.bin", QueueItemKind::kFile, 5);

    ASSERT_EQ(RunQueue(), kResultFailed) << observer.FormattedLog();
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.CountLog("Retrying to transfer entire queue. Cycle #2..."), 1);
    EXPECT_EQ(record.CountLog("Transfer stopped. Some files remain in queue."), 1);
    EXPECT_FALSE(session->QueueRunPending());

    observer.AnswerQuestion(kStoppedQuestion, kAnswerNo, 1);
    ASSERT_EQ(RunQueue(), kResultOk);
    EXPECT_EQ(observer.Snapshot().questions.size(), 1u);
    EXPECT_EQ(item->State(), QueueState::kStopped);
    EXPECT_TRUE(server.WaitDone(kWait));
}

// Names a server lists that would lead out of the target are skipped with a warning; the
// rest of the tree still arrives and the item succeeds.
TEST_F(QueueRunTest, UnsafeListingNamesAreSkippedAndTheRestArrives) {
    const std::string listing = Line("..", true) + Line(".", true) + Line("../evil") +
                                Line("..\\evil") + Line("sub", true) + Line("ok.txt");
    ScriptStartup(server);
    ScriptEnterAndList(server, "/d", listing);
    ScriptEnterAndList(server, "/d/sub", Line("../../evil2") + Line("deep.txt"));
    server.Expect("type a").Reply("200 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("retr /d/ok.txt").Reply("150 go\r\n").SendData("top").Reply("226 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("retr deep.txt").Reply("150 go\r\n").SendData("deep").Reply("226 ok\r\n");
    OpenAndStart();
    const std::string target = scratch / "target";
    fs::create_directories(target);
    Queue(QueueOperation::kDownload, target, "/d", QueueItemKind::kDirectory);

    ASSERT_EQ(RunQueue(), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(ReadFile(target + "/d/ok.txt"), "top");
    EXPECT_EQ(ReadFile(target + "/d/sub/deep.txt"), "deep");
    EXPECT_EQ(observer.LogTexts(LOG_WARNING),
              (std::vector<std::string>{"Unsafe file name \"../evil\" in /d skipped.",
                                        "Unsafe file name \"..\\evil\" in /d skipped.",
                                        "Unsafe file name \"../../evil2\" in /d/sub skipped."}));
    const auto entries = std::distance(fs::recursive_directory_iterator(scratch.path()), {});
    EXPECT_EQ(entries, 5);  // target, d, d/ok.txt, d/sub, d/sub/deep.txt: nothing else
}

// A server that nests directories without end cannot drive the walk deeper than the bound:
// the branch fails with an error line, the item stops.
TEST_F(QueueRunTest, ServerControlledDepthIsBounded) {
    settings->errorRetry = 0;
    ScriptStartup(server);
    std::string dir = "/x";
    for (size_t level = 0; level < kMaxQueueDepth; ++level) {
        ScriptEnterAndList(server, dir, Line("x", true));
        dir += "/x";
    }
    OpenAndStart();
    auto item = Queue(QueueOperation::kCacheDir, "", "/x", QueueItemKind::kDirectory);

    ASSERT_EQ(RunQueue(), kResultFailed) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(observer.Snapshot().CountLog("Directory " + dir +
                                           " is nested more than 64 levels deep; not expanded."),
              1);
    EXPECT_EQ(item->State(), QueueState::kStopped);
}

// A CacheDir item lists its whole tree into the directory cache and downloads nothing. Links
// that lead back into the tree or above it (by the path PWD reports) are entered once and
// not listed: two of them in one directory made the walk exponential.
TEST_F(QueueRunTest, CacheDirListsTheTreeIntoTheCacheOnlyAndEndsOnLoops) {
    settings->enableCache = true;
    settings->cacheHomeDirectory = scratch / "cache";
    ScriptStartup(server);
    ScriptEnterAndList(server, "/c",
                       Line("self", true) + Line("up", true) + Line("sub", true) + Line("f.txt"));
    for (const auto& [link, reported] : {std::pair{"/c/self", "/c"}, std::pair{"/c/up", "/"}}) {
        server.Expect(std::string("cwd ") + link).Reply("250 ok\r\n");
        server.Expect("pwd").Reply(std::string("257 \"") + reported + "\"\r\n");
    }
    ScriptEnterAndList(server, "/c/sub", Line("g.txt") + Line("back", true));
    server.Expect("cwd /c/sub/back").Reply("250 ok\r\n");
    server.Expect("pwd").Reply("257 \"/c\"\r\n");
    OpenAndStart();
    Queue(QueueOperation::kCacheDir, "", "/c", QueueItemKind::kDirectory);

    ASSERT_EQ(RunQueue(), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(observer.LogTexts(LOG_WARNING).size(), 3u);
    EXPECT_FALSE(CachedListPath(settings->cacheHomeDirectory, "127.0.0.1", "/c/sub").empty());
}

// A connection lost in the middle of a file ends the run; the worker reconnects, runs the
// queue again and resumes the file with REST at the offset reached: nothing is sent twice.
TEST_F(QueueRunTest, LostConnectionMidFileResumesAfterTheReconnect) {
    settings->pOverwrite = false;  // the automatic rule: same time, smaller local file
    ScriptStartup(server);
    server.Expect("type i").Reply("200 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("retr f.bin")
        .Reply("150 go\r\n")
        .SendData("hello", DataOptions{.stall = true})
        .Delay(std::chrono::milliseconds(300))
        .Drop();
    server.NextConnection();
    ScriptStartup(server);
    server.Expect("type i").Reply("200 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("rest 5").Reply("350 restarting\r\n");
    server.Expect("retr f.bin").Reply("150 go\r\n").SendData("world").Reply("226 done\r\n");
    OpenAndStart();
    auto item =
        Queue(QueueOperation::kDownload, scratch.path(), "/f.bin", QueueItemKind::kFile, 10);
    ASSERT_TRUE(session->PostCommand(Command(CmdRunQueue)));

    ASSERT_TRUE(observer.WaitForLogLine("All queue file transferred successfully.", kWait))
        << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(ReadFile(scratch / "f.bin"), "helloworld");
    // Each run names the item by id, and the item is the session's current one meanwhile.
    const auto started = observer.Snapshot().itemsStarted;
    ASSERT_FALSE(started.empty());
    for (const auto& call : started)
        EXPECT_EQ(std::pair(call.itemId, call.currentItemId), std::pair(item->id, item->id));
    EXPECT_TRUE(started.back().done);
    EXPECT_EQ(session->currentItemId, 0u);
}

// A site-to-site item with a partner that runs a worker of its own (each session's sockets
// are used on its own thread), or one without (borrowed: logged in from this worker and
// given back closed). The target listens and the source connects, so that a refused RETR is
// known before STOR could truncate the target file: then no STOR is sent at all. Stop on the
// target of a running transfer stops its source, which ends both halves with ABOR: the item
// becomes stopped and the run ends for good (no resume after a reconnect, though retries are
// allowed). The partner is given back not busy in every case.
TEST_F(QueueRunTest, SiteToSiteItemMovesTheFileBetweenTheServers) {
    enum class Fate { kMoved, kRefused, kStopped };
    struct Case {
        bool partnerOnline;
        Fate fate;
    };
    for (const Case c : {Case{true, Fate::kMoved}, Case{true, Fate::kRefused},
                         Case{false, Fate::kMoved}, Case{true, Fate::kStopped}}) {
        SCOPED_TRACE(::testing::Message() << c.partnerOnline << static_cast<int>(c.fate));
        settings->errorRetry = c.fate == Fate::kStopped ? 2 : 0;
        ScriptedFtpServer source;
        ScriptedFtpServer target;
        c.partnerOnline ? ScriptStartup(target) : ScriptLogin(target);
        target.Expect("type i").Reply("200 ok\r\n");
        target.Expect("pasv").Passive();
        ScriptStartup(source);
        source.Expect("type i").Reply("200 ok\r\n");
        source.ExpectPrefix("port 127,0,0,1,").Active().Reply("200 port ok\r\n");
        ScriptStep retr = source.Expect("retr f.bin");
        if (c.fate == Fate::kRefused) {
            retr.Reply("550 no such file\r\n");
        } else if (c.fate == Fate::kMoved) {
            retr.Reply("150 go\r\n").SendData("hello").Reply("226 sent\r\n");
            target.Expect("stor /dest/f.bin").Reply("150 go\r\n").ReceiveData().Reply("226 ok\r\n");
        } else {
            retr.Reply("150 go\r\n").SendData("part", DataOptions{.stall = true});
            source.ExpectPrefix("abor").Reply("226 aborted\r\n");
            target.Expect("stor /dest/f.bin").Reply("150 go\r\n");
            target.ExpectPrefix("abor").Reply("226 aborted\r\n");
        }
        RecordingObserver partnerObserver;
        auto partner =
            std::make_shared<CFtpSession>(SiteOn(target.Port()), settings, partnerObserver);
        if (c.partnerOnline) {
            ASSERT_TRUE(partner->StartWorker());
            ASSERT_EQ(partnerObserver.WaitForCommandFinished(CmdConnect, kWait), kResultOk);
        }
        session = std::make_unique<CFtpSession>(SiteOn(source.Port()), settings, observer);
        ASSERT_TRUE(session->StartWorker());
        ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk);
        auto item = QueueSiteToSite(partner, "ftp://127.0.0.1/dest");

        if (c.fate == Fate::kStopped) {
            ASSERT_TRUE(session->PostCommand(Command(CmdRunQueue)));
            ASSERT_TRUE(partnerObserver.WaitForLogLine("stor /dest/f.bin", kWait))
                << observer.FormattedLog() << partnerObserver.FormattedLog();
            partner->Stop();
            EXPECT_EQ(observer.WaitForCommandFinished(CmdRunQueue, kWait), kResultInterrupted);
            EXPECT_EQ(item->State(), QueueState::kStopped);
        } else {
            EXPECT_EQ(RunQueue(), c.fate == Fate::kRefused ? kResultRefused : kResultOk);
            EXPECT_EQ(partner->loggedIn, c.partnerOnline);  // a borrowed partner comes back closed
        }
        EXPECT_FALSE(session->QueueRunPending());
        EXPECT_TRUE(source.WaitDone(kWait) && target.WaitDone(kWait))
            << observer.FormattedLog() << partnerObserver.FormattedLog();
        EXPECT_EQ(target.ReceivedData(), c.fate == Fate::kMoved ? std::vector<std::string>{"hello"}
                                                                : std::vector<std::string>{});
        EXPECT_FALSE(partner->IsBusy());
        EXPECT_EQ(partner->partnerB.load(), nullptr);  // nothing left pointing at this session
        session.reset();
        partner->CloseSession();
        observer.Clear();
    }
}

// A partner closed since the item was made (the item does not keep it alive) stops the item;
// a partner busy with something else ends the run at once, the item queued for the next run.
TEST_F(QueueRunTest, SiteToSiteItemWithAClosedOrBusyPartner) {
    ScriptStartup(server);
    OpenAndStart();
    auto closed = std::make_shared<CFtpSession>(SiteOn(server.Port()), settings, observer);
    auto closedItem = QueueSiteToSite(closed, "ftp://127.0.0.1/other");
    closed.reset();
    ASSERT_EQ(RunQueue(), kResultRefused) << observer.FormattedLog();
    EXPECT_EQ(closedItem->State(), QueueState::kStopped);
    EXPECT_EQ(observer.Snapshot().CountLog(
                  "The partner session of a site-to-site item is closed; item stopped."),
              1);

    session->queue.Clear();
    auto busy = std::make_shared<CFtpSession>(SiteOn(server.Port()), settings, observer);
    ASSERT_TRUE(busy->TryMarkBusy());
    auto busyItem = QueueSiteToSite(busy);
    ASSERT_EQ(RunQueue(), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(busyItem->State(), QueueState::kQueued);
    EXPECT_FALSE(session->QueueRunPending());
    EXPECT_TRUE(server.WaitDone(kWait));  // and nothing was sent after the start-up
}

}  // namespace
}  // namespace tarnwick::test
