// Connection retries, the retry delay, the per-file retry wrappers and the anti-idle tick.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

// The state lines of a connect attempt series, in order.
std::vector<std::string> RetryLines(const ObserverRecord& record) {
    std::vector<std::string> lines;
    for (const LogRecord& line : record.log) {
        for (const char* kind : {"Creating control", "Waiting to", "Connection retry", "Max err"}) {
            if (line.text.starts_with(kind)) lines.push_back(line.text);
        }
    }
    return lines;
}

class RetryTest : public SessionTest {
protected:
    // Every attempt is refused with 421, and the server hangs up.
    void ScriptRefusals(int attempts) {
        for (int i = 0; i < attempts; ++i) {
            if (i > 0) server.NextConnection();
            server.Greeting("421 too many users\r\n").Drop();
        }
        Open();
    }
};

// The close of a failed connection does not cut the delay short: the attempts are a full
// retry delay apart.
TEST_F(RetryTest, ConnectWaitsTheWholeDelayAndGivesUpWithoutSessionClosed) {
    settings->errorRetry = 2;
    settings->retryDelay = 1;
    ScriptRefusals(3);
    const auto start = std::chrono::steady_clock::now();
    StartAndWaitConnected(kResultGaveUp);

    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    EXPECT_EQ(RetryLines(observer.Snapshot()),
              (std::vector<std::string>{"Creating control socket...", "Waiting to retry...",
                                        "Connection retry #1...", "Creating control socket...",
                                        "Waiting to retry...", "Connection retry #2...",
                                        "Creating control socket...", "Max errors reached, stop."}))
        << observer.FormattedLog();
    EXPECT_FALSE(session->IsBusy());
}

TEST_F(RetryTest, StopWhileWaitingToRetryInterrupts) {
    settings->retryDelay = 60;
    settings->errorRetry = 5;
    ScriptRefusals(1);
    ASSERT_TRUE(session->StartWorker());
    ASSERT_TRUE(observer.WaitForLogLine("Waiting to retry...", kWait));
    EXPECT_TRUE(session->IsBusy());

    session->Stop();
    EXPECT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultInterrupted);
    EXPECT_FALSE(session->IsBusy());
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait));
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.CountLog("Interrupted by user"), 1);
    EXPECT_EQ(record.CountLog("Connection retry #1..."), 0);
}

// A socket that cannot be created (no descriptors left) counts against the limit, so a
// local failure does not retry without end.
TEST_F(RetryTest, SocketCreationFailureIsRetriedWithinTheLimit) {
    settings->errorRetry = 1;
    Open();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int result = session->ConnectWithRetry();  // on this thread, no worker
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(result, kResultGaveUp);
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.CountLog("Unable to create control socket."), 2);
    EXPECT_EQ(record.CountLog("Too many open files."), 2);
    EXPECT_EQ(record.CountLog("Max errors reached, stop."), 1);
}

// The per-file wrappers, driven on the test thread (a session without a worker).
using FileRetryTest = SessionTest;

TEST_F(FileRetryTest, DeleteIsTriedFileRetryPlusOneTimes) {
    struct Case {
        int fileRetry;
        int tries;
    };
    for (const Case c : {Case{-1, 0}, Case{0, 1}, Case{2, 3}}) {
        SCOPED_TRACE("FileRetry " + std::to_string(c.fileRetry));
        ScriptedFtpServer deleteServer;
        ScriptLogin(deleteServer);
        for (int i = 0; i < c.tries; ++i) {
            deleteServer.Expect("dele /f").Reply("450 file busy\r\n");
        }
        RecordingObserver deleteObserver;
        auto deleteSettings = QuickSettings();
        deleteSettings->fileRetry = c.fileRetry;
        CFtpSession deleteSession(SiteOn(deleteServer.Port()), deleteSettings, deleteObserver);
        ASSERT_EQ(deleteSession.ConnectWithRetry(), kResultOk);

        EXPECT_EQ(deleteSession.RetryDeleteFile("/f", 0), kResultFailed);
        EXPECT_TRUE(deleteServer.WaitDone(kWait));
        EXPECT_EQ(deleteServer.Transcript(), Concat({"user tester", "pass secret"},
                                                    std::vector<std::string>(c.tries, "dele /f")));
        const ObserverRecord record = deleteObserver.Snapshot();
        EXPECT_EQ(record.CountLog("Max errors reached, go on to next file"), c.tries > 0 ? 1 : 0);
        EXPECT_EQ(record.CountLog("Waiting to retry..."), std::max(c.tries - 1, 0));
        for (int i = 0; i + 1 < c.tries; ++i) {
            EXPECT_EQ(record.CountLog("Retrying to delete file #" + std::to_string(i)), 1);
        }
    }
}

// The failed attempt left part of the file on the server and dropped the cached listing: the
// retry lists the directory again, finds the part and sends only the rest.
TEST_F(FileRetryTest, RetriedUploadListsItsDirectoryAndResumes) {
    testing::ScratchDirectory scratch;
    settings->fileRetry = 1;
    settings->enableCache = true;
    settings->cacheHomeDirectory = scratch / "cache";
    const std::string local = scratch / "f.bin";
    testing::WriteFile(local, "0123456789");
    // Older than the part on the server (2020): the remote file is resumed, not replaced.
    const std::chrono::sys_seconds year2015{std::chrono::sys_days{std::chrono::year{2015} / 1 / 1}};
    std::filesystem::last_write_time(local, std::chrono::file_clock::from_sys(year2015));
    ScriptLogin(server);
    server.Expect("type i").Reply("200 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("stor /up/f.bin").Reply("451 write error\r\n");
    server.Expect("cwd /up").Reply("250 ok\r\n");
    server.Expect("pwd").Reply("257 \"/up\"\r\n");
    server.Expect("pasv").Passive();
    server.Expect("list")
        .Reply("150 listing\r\n")
        .SendData("-rw-r--r-- 1 ftp ftp 4 Jan 01 2020 f.bin\r\n")
        .Reply("226 done\r\n");
    server.Expect("pasv").Passive();
    server.Expect("rest 4").Reply("350 restarting\r\n");
    server.Expect("stor f.bin").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");
    Open();
    ASSERT_EQ(session->ConnectWithRetry(), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(session->RetryUpload(local, "/up", 0), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait)) << observer.FormattedLog();
    EXPECT_EQ(server.ReceivedData(), std::vector<std::string>{"456789"});
}

// A delete that finds the connection closed reconnects and is tried again, inside the
// command (busy stays set). The new connection starts in the server's default type: the type
// of the last connection is set again before the next binary transfer.
TEST_F(FileRetryTest, DeleteReconnectsAndTheNewConnectionSetsTheTypeAgain) {
    testing::ScratchDirectory scratch;
    ScriptLogin(server);
    ScriptBinaryRetr(server, "/f.bin", "data");
    server.Expect("dele /f").Drop();
    server.NextConnection();
    ScriptLogin(server);
    server.Expect("dele /f").Reply("250 deleted\r\n");
    ScriptBinaryRetr(server, "/f.bin", "data");
    Open();
    session->connectionClosedEvent.Set();  // a stale notice must not end the new connection
    ASSERT_EQ(session->ConnectWithRetry(), kResultOk) << observer.FormattedLog();
    ASSERT_TRUE(session->TryMarkBusy());  // as the command running the wrappers would be
    session->remoteSize = 4;
    EXPECT_EQ(session->RetryDownload(scratch / "first", "/f.bin", 0), kResultOk);
    EXPECT_EQ(session->RetryDeleteFile("/f", 0), kResultOk) << observer.FormattedLog();
    session->remoteSize = 4;
    EXPECT_EQ(session->RetryDownload(scratch / "second", "/f.bin", 0), kResultOk);
    EXPECT_TRUE(server.WaitDone(kWait)) << observer.FormattedLog();
    EXPECT_EQ(observer.Snapshot().CountLog("Retrying to delete file #0"), 1);
    EXPECT_TRUE(session->IsBusy());
}

// Finds a seed for which the session's rand() draw picks anti-idle command `k`.
unsigned SeedForAntiIdle(int k) {
    for (unsigned seed = 1; seed < 10'000; ++seed) {
        std::srand(seed);
        if ((std::rand() & 0x7fff) / 8192 == k) return seed;
    }
    return 0;
}

TEST(AntiIdle, TickSendsTheDrawnCommandAfterTheInterval) {
    auto settings = QuickSettings();
    settings->keepAlive = true;
    settings->antiIdleCommandInterval = 2;
    const std::vector<std::string> lines[] = {{"cwd ."}, {"pasv", "list"}, {"pwd"}, {"rest 0"}};
    const char* replies[] = {"250 ok\r\n", "", "257 \"/\"\r\n", "350 ok\r\n"};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("command " + std::to_string(k));
        ScriptedFtpServer server;
        ScriptStartup(server);
        if (k == 1) {
            server.Expect("pasv").Passive();
            server.Expect("list").Reply("150 listing\r\n").SendData(kListing).Reply("226 ok\r\n");
        } else {
            server.Expect(lines[k][0]).Reply(replies[k]);
        }
        RecordingObserver observer;
        CFtpSession session(SiteOn(server.Port()), settings, observer);
        ASSERT_TRUE(session.StartWorker());
        ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk);
        const unsigned seed = SeedForAntiIdle(k);
        ASSERT_NE(seed, 0u);
        std::srand(seed);
        // The tick that makes the count equal the interval sends; the worker restarts the
        // count when it starts waiting, which may cost one more tick here.
        bool sent = false;
        for (int tick = 0; tick < 6 && !sent; ++tick) {
            session.IdleTick();
            sent = server.WaitDone(std::chrono::milliseconds(300));
        }
        EXPECT_TRUE(sent) << observer.FormattedLog();
        EXPECT_EQ(server.Transcript(), Concat(StartupTranscript(), lines[k]));
    }
}

}  // namespace
}  // namespace tarnwick::test
