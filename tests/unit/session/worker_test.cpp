// The worker's course through a session against the scripted server: start-up dialogue,
// reconnects, the offline prompt, refused commands, questions, the server's close and the end
// of the worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

class WorkerTest : public SessionTest {
protected:
    // Scripts two start-ups (the second into `secondDirectory`) and starts the worker.
    void StartWithTwoConnections(const std::string& secondDirectory = "/") {
        ScriptStartup(server);
        server.NextConnection();
        ScriptStartup(server, secondDirectory);
        OpenAndStart();
    }
};

// The session stays online, but its connect must not claim that the directory was entered.
TEST_F(WorkerTest, FailedStartDirectoryFailsTheConnectButStaysOnline) {
    ScriptStartup(server, "/gone", "550 no such directory\r\n");
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    OpenAndStart("/gone", kResultFailed);
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultOk);
    EXPECT_TRUE(server.WaitDone(kWait)) << ::testing::PrintToString(server.Failures());
}

TEST_F(WorkerTest, ConnectWhileConnectedReconnectsIntoTheShownDirectory) {
    StartWithTwoConnections("/pub/shown");
    session->SetShownDirectory("/pub/shown");
    const RequestId request = session->PostCommand(Command(CmdConnect));
    ASSERT_NE(request, 0u);
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk)
        << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.listings.back().directory, "/pub/shown");  // the start-up listing
    EXPECT_EQ(record.CountLog("Session Closed."), 1);
    EXPECT_EQ(record.connectionStates, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(record.commandsFinished.back().request, request);  // the reconnect answers it
}

// Offline, a command is refused after the prompt, and only OK connects. Commands posted in a
// burst are each either refused at once (0) or answered exactly once.
TEST_F(WorkerTest, CommandWhileOfflineAsksAndEveryAcceptedOneIsAnsweredOnce) {
    StartWithTwoConnections();
    EXPECT_EQ(Run(Command(CmdDisconnect)), kResultOk);  // without keep-alive: offline
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait));
    std::vector<RequestId> accepted;
    for (int i = 0; i < 3; ++i) {
        if (RequestId request = session->PostCommand(Command(CmdList))) accepted.push_back(request);
    }
    ASSERT_FALSE(accepted.empty());
    const auto finishes = [&](const ObserverRecord& r, RequestId id) {
        return std::ranges::count_if(r.commandsFinished, [&](auto& f) { return f.request == id; });
    };
    ASSERT_TRUE(observer.WaitUntil(
        [&](const auto& r) {
            return std::ranges::all_of(accepted, [&](RequestId id) { return finishes(r, id); });
        },
        kWait));
    // Each is asked, and answered Cancel.
    ASSERT_TRUE(observer.WaitUntil(
        [&](const auto& r) { return r.questions.size() >= accepted.size(); }, kWait));
    EXPECT_EQ(server.AcceptedConnections(), 1u);

    observer.AnswerQuestion("offline", kAnswerOk);
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultFailed);  // not executed, even after OK
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk);
    EXPECT_TRUE(server.WaitDone(kWait));
    const ObserverRecord record = observer.Snapshot();
    for (RequestId id : accepted) EXPECT_EQ(finishes(record, id), 1) << "request " << id;
    EXPECT_EQ(record.questions.at(0),
              "This site is currently offline.\n Do you wish to get online now?");
}

// A question nobody answers: Stop gives the worker the safe default (Cancel: stay offline)
// and it goes on; closing with a question open returns at once and ends the progress.
TEST_F(WorkerTest, StopAndCloseCancelAnUnansweredQuestion) {
    settings->errorRetry = 0;
    server.Greeting("421 too many users\r\n").Drop();
    OpenAndStart("/", kResultGaveUp);
    observer.HoldQuestions();
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        ASSERT_NE(session->PostCommand(Command(CmdList)), 0u);
        ASSERT_TRUE(
            observer.WaitUntil([&](const auto& r) { return r.heldQuestions.size() == 1; }, kWait));
        const std::shared_ptr<Question> question = observer.Snapshot().heldQuestions[0];
        session->BeginProgress("f.bin", 10, 0, false);
        const auto start = std::chrono::steady_clock::now();
        close ? session->CloseSession() : session->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(question->AskResult(), kAnswerCancel);
        EXPECT_EQ(session->Progress().transferring, !close);
        observer.Clear();
    }
    EXPECT_FALSE(session->HasWorker());
}

// A worker stuck in a front end's callback does not hold up the closing thread beyond the
// bound; it keeps the shared session alive until it ends, and then destroys it.
TEST_F(WorkerTest, StopWorkerOfASharedSessionIsBounded) {
    struct StuckObserver : RecordingObserver {
        std::promise<void> stuck, release;
        std::shared_future<void> released = release.get_future().share();
        void OnLog(CFtpSession& s, const LogRecord& line) override {
            if (line.text == "Creating control socket...") {
                stuck.set_value();
                released.wait_for(30s);
            }
            RecordingObserver::OnLog(s, line);
        }
    } stuckObserver;
    auto shared = std::make_shared<CFtpSession>(SiteOn(server.Port()), settings, stuckObserver);
    const std::weak_ptr<CFtpSession> weak = shared;
    ASSERT_TRUE(shared->StartWorker());
    ASSERT_EQ(stuckObserver.stuck.get_future().wait_for(kWait), std::future_status::ready);

    const auto start = std::chrono::steady_clock::now();
    shared->CloseSession();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(CFtpSession::kShutdownSeconds) - 100ms);
    EXPECT_LT(elapsed, std::chrono::seconds(CFtpSession::kShutdownSeconds) + 2s);
    EXPECT_FALSE(shared->StartWorker());  // not while the old worker still runs
    shared.reset();
    EXPECT_FALSE(weak.expired());  // the worker owns it now
    stuckObserver.release.set_value();
    for (int i = 0; i < 1000 && !weak.expired(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(weak.expired());
}

// A connect refused for good (here AUTH TLS) is not retried by keep-alive: each try would
// end the same way, and for an untrusted certificate ask the user again and again.
TEST_F(WorkerTest, RefusedTlsIsNotReconnectedByKeepAlive) {
    settings->keepAlive = true;
    server.Greeting("220 scripted server ready\r\n");
    server.Expect("auth TLS").Reply("534 no TLS here\r\n");
    session = std::make_unique<CFtpSession>(
        [this] {
            SiteSetting site = SiteOn(server.Port());
            site.tls = kTlsExplicit;
            return site;
        }(),
        settings, observer);
    ASSERT_TRUE(session->StartWorker());
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultRefused)
        << observer.FormattedLog();
    std::this_thread::sleep_for(300ms);  // a reconnect would come at once (no retry delay)
    EXPECT_EQ(observer.Snapshot().CountLog("Connecting to 127.0.0.1 ..."), 1)
        << observer.FormattedLog();
}

// Closing while a start-up step waits: the interrupted step must not leave the worker
// waiting in the command loop for a command that will never come (it was left to end on its
// own after the bound, and then reported to a front end already gone).
TEST_F(WorkerTest, CloseDuringTheStartUpStepsEndsTheWorkerAtOnce) {
    ScriptLogin(server);
    server.Expect("pwd").Stall();
    Open();
    ASSERT_TRUE(session->StartWorker());
    ASSERT_TRUE(observer.WaitForLogLine("pwd", kWait)) << observer.FormattedLog();
    const auto start = std::chrono::steady_clock::now();
    session->CloseSession();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << observer.FormattedLog();
    EXPECT_FALSE(session->HasWorker());
}

// With keep-alive a session the server closed reconnects at once (a connect of the worker's
// own, request 0); one the user interrupted never does. A close during the start-up steps
// has been consumed by the step that saw it: that session ends there.
TEST_F(WorkerTest, ServerCloseReconnectsWithKeepAliveButAnInterruptionNever) {
    settings->keepAlive = settings->pClose = true;
    ScriptStartup(server);
    server.Expect("pwd").Drop();
    server.NextConnection();
    ScriptStartup(server);
    OpenAndStart();
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultConnectionClosed) << observer.FormattedLog();
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk);
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(observer.Snapshot().commandsFinished.back().request, 0u);

    session->Disconnect();
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait, 2));
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultFailed);  // offline: the prompt, Cancel
    EXPECT_EQ(observer.Snapshot().notices,
              std::vector<std::string>{"Control connection closed by server."});
    EXPECT_EQ(server.AcceptedConnections(), 2u);
}

// Each command reaches the protocol operation with its own arguments (download and upload
// take the local side from secondArg, the remote side from firstArg). A command posted while
// the worker is busy is refused, not queued: no PWD comes between RNFR and RNTO.
TEST_F(WorkerTest, CommandsReachTheServerWithTheirArguments) {
    testing::ScratchDirectory local;
    testing::WriteFile(local / "up.txt", "uploaded text");
    ScriptStartup(server);
    server.Expect("rnfr old").Delay(std::chrono::milliseconds(700)).Reply("350 go on\r\n");
    server.Expect("rnto new").Reply("250 renamed\r\n");
    ScriptBinaryRetr(server, "/pub/f.bin", "hello");
    server.Expect("type a").Reply("200 ascii\r\n");
    server.Expect("pasv").Passive();
    server.Expect("stor /pub/up.txt").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");
    OpenAndStart();

    SessionCommand rename = Command(CmdRename, "old");
    rename.secondName = "new";
    ASSERT_TRUE(session->PostCommand(rename));
    ASSERT_TRUE(observer.WaitForLogLine("rnfr old", kWait));
    EXPECT_FALSE(session->PostCommand(Command(CmdPrintDir)));
    EXPECT_EQ(observer.WaitForCommandFinished(CmdRename, kWait), kResultOk);
    SessionCommand download = Command(CmdDownload, "/pub/f.bin");
    download.secondArg = local.path();
    download.remoteSize = 5;
    EXPECT_EQ(Run(download), kResultOk) << observer.FormattedLog();
    SessionCommand upload = Command(CmdUpload, "/pub");
    upload.secondArg = local / "up.txt";
    EXPECT_EQ(Run(upload), kResultOk);

    EXPECT_TRUE(server.WaitDone(kWait)) << ::testing::PrintToString(server.Failures());
    EXPECT_EQ(server.ReceivedData(), std::vector<std::string>{"uploaded text"});
    EXPECT_EQ(testing::ReadFile(local / "f.bin"), "hello");
}

}  // namespace
}  // namespace tarnwick::test
