// The session's waits (results, precedence, log lines) and how a session is made from a site.
// Driven on the test thread: no worker, no sockets.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace tarnwick::test {
namespace {

struct WaitCase {
    const char* name;
    bool stop, closed, handle;  // what is signalled before the wait
    int expected;
    const char* log;  // the one line logged, or nullptr
};

constexpr const char* kInterrupted = "Interrupted by user";
constexpr const char* kClosed = "Control connection closed by server.";

class WaitTest : public ::testing::Test {
protected:
    CFtpSession& Make(std::shared_ptr<AppSettings> settings = QuickSettings()) {
        session = std::make_unique<CFtpSession>(SiteOn(21), settings, observer);
        return *session;
    }
    void Signal(const WaitCase& c) {
        if (c.stop) session->stopEvent.Set();
        if (c.closed) session->connectionClosedEvent.Set();
        if (c.handle) handle.Set();
    }

    RecordingObserver observer;
    platform::Event handle{platform::Event::kManualReset};
    std::unique_ptr<CFtpSession> session;
};

const WaitCase kSignalCases[] = {
    {"handle", false, false, true, kResultOk, nullptr},
    {"stop", true, false, false, kResultInterrupted, kInterrupted},
    {"stop wins over handle", true, false, true, kResultInterrupted, kInterrupted},
    {"closed", false, true, false, kResultConnectionClosed, kClosed},
    {"stop wins over closed", true, true, false, kResultInterrupted, kInterrupted},
    {"closed wins over handle", false, true, true, kResultConnectionClosed, kClosed},
};

TEST_F(WaitTest, WaitForSessionAndWaitWithTimerRankStopCloseAndHandle) {
    for (const WaitCase& c : kSignalCases) {
        for (bool withTimer : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (withTimer ? " (timer)" : ""));
            observer.Clear();
            Make();
            Signal(c);
            const int result =
                withTimer ? session->WaitWithTimer(handle, 5) : session->WaitForSession(&handle, 5);
            EXPECT_EQ(result, c.expected);
            EXPECT_EQ(observer.LogTexts(),
                      c.log ? std::vector<std::string>{c.log} : std::vector<std::string>{});
            handle.Reset();
        }
    }
}

// A descriptor that is not open: poll() flags it invalid, and the wait fails.
struct BrokenWaitable : platform::Waitable {
    int PollFd() const override { return 1 << 20; }
    bool TryWait() override { return false; }
};

TEST_F(WaitTest, FailedWaitIsAFailureNeverSuccess) {
    Make();
    BrokenWaitable broken;
    EXPECT_EQ(session->WaitForSession(&broken, 5), kResultFailed);
    EXPECT_EQ(session->WaitWithTimer(broken, 5), kResultFailed);
    EXPECT_EQ(observer.LogTexts(),
              (std::vector<std::string>{"Waiting failed.", "Waiting failed."}));
}

// A retry delay of 0 retries at once (not after the default deadline); a wait given 0
// seconds uses the default deadline; only waits for a real operation log the timeout.
TEST_F(WaitTest, DeadlinesReportTimeoutAndOnlyRealOperationsLogIt) {
    Make();  // RetryDelay 0
    EXPECT_EQ(session->WaitRetryDelay(), kResultTimedOut);
    session->SetDefaultTimeout(1);
    EXPECT_EQ(session->WaitForSession(nullptr, 1), kResultTimedOut);  // a pure delay
    EXPECT_EQ(session->WaitForSession(&handle, 0), kResultTimedOut);
    EXPECT_EQ(session->WaitWithTimer(handle, 0), kResultTimedOut);
    session->stopEvent.Set();
    EXPECT_EQ(session->WaitRetryDelay(), kResultInterrupted);
    EXPECT_EQ(observer.LogTexts(),
              (std::vector<std::string>{"Waiting to retry...", "Operation timed out",
                                        "Operation timed out", "Waiting to retry...",
                                        "Interrupted by user"}));
}

TEST(SessionStop, StopsTheSourceOfASiteToSiteTransferFromEitherSide) {
    RecordingObserver observer;
    CFtpSession source(SiteOn(21), QuickSettings(), observer);
    CFtpSession target(SiteOn(21), QuickSettings(), observer);
    source.partnerA = &target;
    target.partnerB = &source;
    for (CFtpSession* pressed : {&target, &source}) {
        source.siteToSiteActive = true;
        target.siteToSiteActive = true;
        ASSERT_TRUE(pressed->TryMarkBusy());
        pressed->Stop();
        EXPECT_TRUE(source.stopEvent.TryWait());
        EXPECT_FALSE(target.stopEvent.TryWait());
        EXPECT_FALSE(pressed->siteToSiteActive);
    }
}

TEST(SessionConstruction, AnonymousSitesLogInWithTheAnonymousPasswordAndQueueChangesAreReported) {
    auto settings = QuickSettings();
    settings->anonymousPass = "visitor@example.org";
    RecordingObserver observer;
    for (int loginType : {kLoginAnonymous, kLoginNormal}) {
        SiteSetting site = SiteOn(2121);
        site.logintype = loginType;
        const ConnectionValues values =
            CFtpSession(site, settings, observer).LastConnectionValues();
        const bool anonymous = loginType == kLoginAnonymous;
        EXPECT_EQ(values.user, anonymous ? "anonymous" : "tester");
        EXPECT_EQ(values.password, anonymous ? "visitor@example.org" : "secret");
        EXPECT_EQ(values.port, 2121);
    }
    CFtpSession session(SiteOn(21), settings, observer);
    session.queue.Append(std::make_shared<QueueItem>());
    EXPECT_EQ(observer.Snapshot().queueChanges.size(), 1u);
}

}  // namespace
}  // namespace tarnwick::test
