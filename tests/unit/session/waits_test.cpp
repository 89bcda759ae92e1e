// The session's waits (results, precedence, log lines) and how a session is made from a site.
// Driven on the test thread: no worker, no sockets.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace tarnwick::test {
namespace {

struct WaitCase {
    const char* name;
    bool stop;
    bool closed;
    bool handle;
    int expected;
    std::vector<std::string> log;
};

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

const std::vector<WaitCase> kSignalCases = {
    {"handle", false, false, true, kResultOk, {}},
    {"stop", true, false, false, kResultInterrupted, {"Interrupted by user"}},
    {"stop wins over handle", true, false, true, kResultInterrupted, {"Interrupted by user"}},
    {"closed",
     false,
     true,
     false,
     kResultConnectionClosed,
     {"Control connection closed by server."}},
    {"stop wins over closed", true, true, false, kResultInterrupted, {"Interrupted by user"}},
    {"closed wins over handle",
     false,
     true,
     true,
     kResultConnectionClosed,
     {"Control connection closed by server."}},
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
            EXPECT_EQ(observer.LogTexts(), c.log);
            for (const LogRecord& line : observer.Snapshot().log) EXPECT_EQ(line.kind, LOG_ERROR);
            handle.Reset();
        }
    }
}

TEST_F(WaitTest, CloseThatCameWithAStopEndsTheNextWait) {
    Make();
    session->stopEvent.Set();
    session->connectionClosedEvent.Set();
    EXPECT_EQ(session->WaitForSession(&handle, 5), kResultInterrupted);
    EXPECT_EQ(session->WaitForSession(&handle, 5), kResultConnectionClosed);
}

TEST_F(WaitTest, ServerCloseShowsANoticeOnlyWithThePrompt) {
    for (bool prompt : {false, true}) {
        observer.Clear();
        auto settings = QuickSettings();
        settings->pClose = prompt;
        Make(settings);
        session->connectionClosedEvent.Set();
        EXPECT_EQ(session->WaitForSession(nullptr, 5), kResultConnectionClosed);
        EXPECT_EQ(observer.Snapshot().notices.size(), prompt ? 1u : 0u);
    }
}

TEST_F(WaitTest, DeadlinesReportTimeoutAndOnlyRealOperationsLogIt) {
    Make();
    session->SetDefaultTimeout(1);
    EXPECT_EQ(session->WaitForSession(nullptr, 1), kResultTimedOut);  // a pure delay
    EXPECT_TRUE(observer.LogTexts().empty());
    EXPECT_EQ(session->WaitForSession(&handle, 0), kResultTimedOut);  // the default deadline
    EXPECT_EQ(session->WaitWithTimer(handle, 0), kResultTimedOut);
    EXPECT_EQ(observer.LogTexts(),
              (std::vector<std::string>{"Operation timed out", "Operation timed out"}));
}

TEST_F(WaitTest, RetryDelayOfZeroRetriesAtOnceAndStopStillInterrupts) {
    auto settings = QuickSettings();
    settings->retryDelay = 0;
    Make(settings);
    EXPECT_EQ(session->WaitRetryDelay(), kResultTimedOut);
    session->stopEvent.Set();
    EXPECT_EQ(session->WaitRetryDelay(), kResultInterrupted);
    EXPECT_EQ(observer.LogTexts(),
              (std::vector<std::string>{"Waiting to retry...", "Waiting to retry...",
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

TEST(SessionConstruction, LoginDataComesFromTheSiteOrTheAnonymousPassword) {
    struct Case {
        int loginType;
        std::string user;
        std::string password;
    };
    auto settings = QuickSettings();
    settings->anonymousPass = "visitor@example.org";
    for (const Case& c :
         {Case{kLoginAnonymous, "anonymous", "visitor@example.org"},
          Case{kLoginNormal, "tester", "secret"}, Case{kLoginDouble, "tester", "secret"}}) {
        SiteSetting site = SiteOn(2121, "/home");
        site.logintype = c.loginType;
        RecordingObserver observer;
        CFtpSession session(site, settings, observer);
        const ConnectionValues values = session.LastConnectionValues();
        EXPECT_EQ(values.address, "127.0.0.1");
        EXPECT_EQ(values.port, 2121);
        EXPECT_EQ(values.user, c.user);
        EXPECT_EQ(values.password, c.password);
        EXPECT_EQ(session.startDirectory, "/home");
        EXPECT_TRUE(session.passive);
    }
}

}  // namespace
}  // namespace tarnwick::test
