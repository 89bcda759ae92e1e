// The session's waits (results, precedence, log lines), connection retries and the retry
// delay, and the per-file retry wrappers.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <tuple>

#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

constexpr const char* kInterrupted = "Interrupted by user";
constexpr const char* kClosed = "Control connection closed by server.";

// A descriptor that is not open: poll() flags it invalid, and the wait must fail.
struct BrokenWaitable : platform::Waitable {
    int PollFd() const override { return 1 << 20; }
    bool TryWait() override { return false; }
};

TEST(SessionWaits, WaitForSessionAndWaitWithTimerRankStopCloseAndHandle) {
    using Case = std::tuple<bool, bool, bool, int, const char*>;  // stop, closed, handle
    for (const auto& [stop, closed, signalled, expected, log] : {
             Case{false, false, true, kResultOk, nullptr},
             Case{true, false, false, kResultInterrupted, kInterrupted},
             Case{true, false, true, kResultInterrupted, kInterrupted},
             Case{false, true, false, kResultConnectionClosed, kClosed},
             Case{true, true, false, kResultInterrupted, kInterrupted},
             Case{false, true, true, kResultConnectionClosed, kClosed},
         }) {
        for (bool withTimer : {false, true}) {
            SCOPED_TRACE(::testing::Message() << stop << closed << signalled << withTimer);
            RecordingObserver observer;
            CFtpSession session(SiteOn(21), QuickSettings(), observer);
            platform::Event handle{platform::Event::kManualReset};
            if (stop) session.stopEvent.Set();
            if (closed) session.connectionClosedEvent.Set();
            if (signalled) handle.Set();
            EXPECT_EQ(
                withTimer ? session.WaitWithTimer(handle, 5) : session.WaitForSession(&handle, 5),
                expected);
            EXPECT_EQ(observer.LogTexts(),
                      log ? std::vector<std::string>{log} : std::vector<std::string>{});
        }
    }
}

// A retry delay of 0 retries at once (not after the default deadline); a wait given 0
// seconds uses the default deadline; only waits for a real operation log the timeout. A
// failed wait is a failure, never success.
TEST(SessionWaits, DeadlinesTimeOutAndFailedWaitsFail) {
    RecordingObserver observer;
    CFtpSession session(SiteOn(21), QuickSettings(), observer);  // RetryDelay 0
    platform::Event handle;
    BrokenWaitable broken;
    EXPECT_EQ(session.WaitForSession(&broken, 5), kResultFailed);
    EXPECT_EQ(session.WaitWithTimer(broken, 5), kResultFailed);
    EXPECT_EQ(session.WaitRetryDelay(), kResultTimedOut);
    session.SetDefaultTimeout(1);
    EXPECT_EQ(session.WaitForSession(nullptr, 1), kResultTimedOut);  // a pure delay
    EXPECT_EQ(session.WaitForSession(&handle, 0), kResultTimedOut);
    EXPECT_EQ(session.WaitWithTimer(handle, 0), kResultTimedOut);
    session.stopEvent.Set();
    EXPECT_EQ(session.WaitRetryDelay(), kResultInterrupted);
    EXPECT_EQ(observer.LogTexts(),
              (std::vector<std::string>{"Waiting failed.", "Waiting failed.", "Waiting to retry...",
                                        "Operation timed out", "Operation timed out",
                                        "Waiting to retry...", kInterrupted}));
}

using RetryTest = SessionTest;

// Every attempt is refused with 421, and the server hangs up.
void ScriptRefusals(ScriptedFtpServer& server, int attempts) {
    for (int i = 0; i < attempts; ++i) {
        if (i > 0) server.NextConnection();
        server.Greeting("421 too many users\r\n").Drop();
    }
}

// The close of a failed connection does not cut the delay short: the attempts are a full
// retry delay apart.
TEST_F(RetryTest, ConnectWaitsTheWholeDelayAndGivesUpWithoutSessionClosed) {
    settings->retryDelay = 1;
    ScriptRefusals(server, 3);
    const auto start = std::chrono::steady_clock::now();
    OpenAndStart("/", kResultGaveUp);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    const ObserverRecord record = observer.Snapshot();  // giving up: the CLI's test
    EXPECT_EQ(record.CountLog("Creating control socket..."), 3) << observer.FormattedLog();
    EXPECT_EQ(record.CountLog("Session Closed."), 0);
    EXPECT_FALSE(session->IsBusy());
}

TEST_F(RetryTest, StopWhileWaitingToRetryInterrupts) {
    settings->retryDelay = 60;
    ScriptRefusals(server, 1);
    ASSERT_TRUE(Open().StartWorker());
    ASSERT_TRUE(observer.WaitForLogLine("Waiting to retry...", kWait));
    session->Stop();
    EXPECT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultInterrupted);
    EXPECT_FALSE(session->IsBusy());
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait));
    EXPECT_EQ(observer.Snapshot().CountLog("Connection retry #1..."), 0);
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
    EXPECT_EQ(observer.Snapshot().CountLog("Unable to create control socket."), 2);
}

// The per-file wrappers are driven on the test thread (a session without a worker). A delete
// is tried FileRetry + 1 times.
TEST_F(RetryTest, DeleteIsTriedFileRetryPlusOneTimes) {
    for (const auto& [fileRetry, tries] : {std::pair{-1, 0}, {0, 1}, {2, 3}}) {
        SCOPED_TRACE("FileRetry " + std::to_string(fileRetry));
        ScriptedFtpServer deleteServer;
        ScriptLogin(deleteServer);
        for (int i = 0; i < tries; ++i) deleteServer.Expect("dele /f").Reply("450 busy\r\n");
        settings->fileRetry = fileRetry;
        CFtpSession deleteSession(SiteOn(deleteServer.Port()), settings, observer);
        ASSERT_EQ(deleteSession.ConnectWithRetry(), kResultOk);
        EXPECT_EQ(deleteSession.RetryDeleteFile("/f", 0), kResultFailed);
        EXPECT_TRUE(deleteServer.WaitDone(kWait));  // no DELE more or fewer than scripted
    }
}

// The failed attempt left part of the file on the server and dropped the cached listing: the
// retry lists the directory again, finds the part and sends only the rest.
TEST_F(RetryTest, RetriedUploadListsItsDirectoryAndResumes) {
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
    ScriptEnterAndList(server, "/up", Line("f.bin", false, 4));
    server.Expect("pasv").Passive();
    server.Expect("rest 4").Reply("350 restarting\r\n");
    server.Expect("stor f.bin").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");
    ASSERT_EQ(Open().ConnectWithRetry(), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(session->RetryUpload(local, "/up", 0), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(server.ReceivedData(), std::vector<std::string>{"456789"});
}

// A delete that finds the connection closed reconnects and is tried again, inside the
// command (busy stays set). The new connection starts in the server's default type: the type
// of the last connection is set again before the next binary transfer.
TEST_F(RetryTest, DeleteReconnectsAndTheNewConnectionSetsTheTypeAgain) {
    testing::ScratchDirectory scratch;
    ScriptLogin(server);
    ScriptBinaryRetr(server, "/f.bin", "data");
    server.Expect("dele /f").Drop();
    server.NextConnection();
    ScriptLogin(server);
    server.Expect("dele /f").Reply("250 deleted\r\n");
    ScriptBinaryRetr(server, "/f.bin", "data");
    Open().connectionClosedEvent.Set();  // a stale notice must not end the new connection
    ASSERT_EQ(session->ConnectWithRetry(), kResultOk) << observer.FormattedLog();
    ASSERT_TRUE(session->TryMarkBusy());  // as the command running the wrappers would be
    session->remoteSize = 4;
    EXPECT_EQ(session->RetryDownload(scratch / "first", "/f.bin", 0), kResultOk);
    EXPECT_EQ(session->RetryDeleteFile("/f", 0), kResultOk) << observer.FormattedLog();
    session->remoteSize = 4;
    EXPECT_EQ(session->RetryDownload(scratch / "second", "/f.bin", 0), kResultOk);
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_TRUE(session->IsBusy());
}

}  // namespace
}  // namespace tarnwick::test
