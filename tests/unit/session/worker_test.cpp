// The worker's course through a session against the scripted server: start-up dialogue,
// reconnects, the offline prompt, refused commands, questions, keep-alive, the server's close
// and the end of the worker.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>

#include "session_fixture.h"

namespace tarnwick::test {
namespace {

constexpr const char* kOfflineQuestion =
    "This site is currently offline.\n Do you wish to get online now?";

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

TEST_F(WorkerTest, StartupLogsInEntersStartDirectoryAndLists) {
    ScriptStartup(server, "/start");
    OpenAndStart("/start");

    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(server.Transcript(), StartupTranscript("/start"));
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.directories, (std::vector<std::string>{"/", "/start"}));
    ASSERT_EQ(record.listings.size(), 2u);
    EXPECT_EQ(record.listings[1].directory, "/start");
    ASSERT_EQ(record.listings[1].entries.size(), 1u);
    EXPECT_EQ(record.listings[1].entries[0].name, "pub");
    EXPECT_EQ(record.connectionStates, std::vector<bool>{true});
    EXPECT_EQ(record.commandsFinished[0].request, 0u);  // the worker's own connect
    EXPECT_FALSE(session->IsBusy());
}

// The session stays online, but its connect must not claim that the directory was entered.
TEST_F(WorkerTest, FailedStartDirectoryFailsTheConnectButStaysOnline) {
    ScriptLogin(server);
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    server.Expect("cwd /gone").Reply("550 no such directory\r\n");
    server.Expect("pasv").Passive();
    server.Expect("list").Reply("150 listing\r\n").SendData(kListing).Reply("226 done\r\n");
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    Open("/gone");
    StartAndWaitConnected(kResultFailed);
    EXPECT_TRUE(session->connected);
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
    EXPECT_EQ(server.Transcript(1), StartupTranscript("/pub/shown"));
    const ObserverRecord record = observer.Snapshot();
    const int closed = record.FindLog("Session Closed.");
    ASSERT_GE(closed, 0) << observer.FormattedLog();
    EXPECT_EQ(record.CountLog("Session Closed."), 1);
    EXPECT_GT(record.FindLog("Creating control socket...", closed), closed);
    EXPECT_EQ(record.connectionStates, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(record.commandsFinished.back().request, request);  // the reconnect answers it
}

TEST_F(WorkerTest, CommandWhileOfflineAsksAndOnlyOkConnects) {
    StartWithTwoConnections();

    // Disconnect without keep-alive leaves the session offline.
    EXPECT_EQ(Run(Command(CmdDisconnect)), kResultOk);
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait));

    EXPECT_EQ(Run(Command(CmdList)), kResultFailed);  // Cancel (the default answer)
    ASSERT_TRUE(observer.WaitForQuestions(1, kWait));
    EXPECT_EQ(server.AcceptedConnections(), 1u);

    observer.AnswerQuestion("offline", kAnswerOk);
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultFailed);  // not executed, even after OK
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk)
        << observer.FormattedLog();

    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(server.Transcript(1), StartupTranscript());
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.CountLog("Not logged in, can't execute command!"), 2);
    ASSERT_EQ(record.questions.size(), 2u);
    EXPECT_EQ(record.questions[0].text, kOfflineQuestion);
    EXPECT_EQ(record.questions[0].style, kAskOkCancel | kAskQuestion);
    EXPECT_EQ(record.log[record.FindLog("Not logged in, can't execute command!")].kind, LOG_ERROR);
}

// Whatever the worker is doing when commands arrive, every request PostCommand accepted is
// answered exactly once; the others were refused at once (0).
TEST_F(WorkerTest, EveryAcceptedCommandIsAnsweredExactlyOnce) {
    OpenOffline();
    std::vector<RequestId> accepted;
    for (int i = 0; i < 3; ++i) {
        if (RequestId request = session->PostCommand(Command(CmdPrintDir))) {
            accepted.push_back(request);
        }
    }
    ASSERT_FALSE(accepted.empty());
    for (RequestId request : accepted) {
        EXPECT_TRUE(observer.WaitUntil(
            [&](const ObserverRecord& r) {
                return std::count_if(r.commandsFinished.begin(), r.commandsFinished.end(),
                                     [&](const auto& f) { return f.request == request; }) == 1;
            },
            kWait))
            << "request " << request;
    }
}

// A question nobody answers: Stop gives the worker the safe default (Cancel: stay offline)
// and it goes on; closing with a question open returns at once.
TEST_F(WorkerTest, StopAndCloseCancelAnUnansweredQuestion) {
    OpenOffline();
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
        EXPECT_TRUE(question->Answered());
        EXPECT_EQ(question->AskResult(), kAnswerCancel);
        EXPECT_EQ(session->Progress().transferring, !close);  // closing ends the progress
        observer.Clear();
    }
    EXPECT_FALSE(session->HasWorker());
}

// A worker stuck in a front end's callback does not hold up the closing thread beyond the
// bound; it keeps the shared session alive until it ends, and then destroys it.
TEST_F(WorkerTest, StopWorkerOfASharedSessionIsBounded) {
    struct StuckObserver : RecordingObserver {
        std::promise<void> stuck, releaser;
        std::shared_future<void> release = releaser.get_future().share();
        void OnLog(CFtpSession& s, const LogRecord& line) override {
            if (line.text == "Creating control socket...") {
                stuck.set_value();
                release.wait_for(30s);
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
    stuckObserver.releaser.set_value();
    const auto limit = std::chrono::steady_clock::now() + kWait;
    while (!weak.expired() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(weak.expired());
}

// With keep-alive a session that ended reconnects at once, unless the user interrupted it.
TEST_F(WorkerTest, KeepAliveReconnectsAfterDisconnectButNeverAfterAnInterruption) {
    settings->keepAlive = true;
    StartWithTwoConnections();

    EXPECT_EQ(Run(Command(CmdDisconnect)), kResultOk);
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk)
        << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    EXPECT_EQ(server.Transcript(1), StartupTranscript());

    session->Disconnect();  // closeRequested + stop: "Interrupted by user"
    ASSERT_TRUE(observer.WaitForLogCount("Session Closed.", 2, kWait));
    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultFailed);  // offline: the prompt, Cancel
    EXPECT_TRUE(observer.WaitForQuestions(1, kWait));
    EXPECT_EQ(server.AcceptedConnections(), 2u);
    EXPECT_EQ(observer.Snapshot().CountLog("Interrupted by user"), 1);
}

TEST_F(WorkerTest, ServerCloseEndsTheSessionAndKeepAliveReconnects) {
    settings->keepAlive = true;
    settings->pClose = true;
    ScriptStartup(server);
    server.Expect("pwd").Drop();
    server.NextConnection();
    ScriptStartup(server);
    OpenAndStart();

    EXPECT_EQ(Run(Command(CmdPrintDir)), kResultConnectionClosed) << observer.FormattedLog();
    ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), kResultOk)
        << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone(kWait));
    const ObserverRecord record = observer.Snapshot();
    EXPECT_EQ(record.notices, std::vector<std::string>{"Control connection closed by server."});
    EXPECT_EQ(record.CountLog("Control connection closed by server."), 1);
    EXPECT_EQ(record.CountLog("Session Closed."), 1);
}

// A close during the start-up steps has been consumed by the step that saw it: the session
// must end there, not sit in its command loop on a dead connection.
TEST_F(WorkerTest, ServerCloseDuringStartupEndsTheSession) {
    ScriptLogin(server);
    server.Expect("pwd").Drop();
    Open();
    StartAndWaitConnected(kResultConnectionClosed);
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait)) << observer.FormattedLog();
    EXPECT_FALSE(session->connected);
}

// Each command reaches the protocol operation with its own arguments (download and upload
// take the local side from secondArg, the remote side from firstArg). A command posted while
// the worker is busy is dropped, not queued: no PWD comes between RNTO and CDUP.
TEST_F(WorkerTest, CommandsReachTheServerWithTheirArguments) {
    const std::filesystem::path local = std::filesystem::path(TestCacheHome()) / "commands";
    std::filesystem::remove_all(local);
    std::filesystem::create_directories(local);
    { std::ofstream(local / "up.txt") << "uploaded text"; }

    ScriptStartup(server);
    server.Expect("rnfr old").Delay(std::chrono::milliseconds(700)).Reply("350 go on\r\n");
    server.Expect("rnto new").Reply("250 renamed\r\n");
    server.Expect("cdup").Reply("200 ok\r\n");
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    server.Expect("dele /old.txt").Reply("250 deleted\r\n");
    server.Expect("mkd /new").Reply("257 created\r\n");
    ScriptBinaryRetr(server, "/pub/f.bin", "hello");
    server.Expect("type a").Reply("200 ascii\r\n");
    server.Expect("pasv").Passive();
    server.Expect("stor /pub/up.txt").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");
    server.Expect("quit").Reply("221 bye\r\n");
    OpenAndStart();

    SessionCommand rename = Command(CmdRename, "old");
    rename.secondName = "new";
    ASSERT_TRUE(session->PostCommand(rename));
    ASSERT_TRUE(observer.WaitForLogLine("rnfr old", kWait));
    EXPECT_TRUE(session->IsBusy());
    EXPECT_FALSE(session->PostCommand(Command(CmdPrintDir)));
    EXPECT_EQ(observer.WaitForCommandFinished(CmdRename, kWait), kResultOk);
    EXPECT_EQ(Run(Command(CmdParentDir)), kResultOk);
    EXPECT_EQ(Run(Command(CmdDeleteFile, "/old.txt")), kResultOk);
    EXPECT_EQ(Run(Command(CmdMakeDir, "/new")), kResultOk);
    SessionCommand download = Command(CmdDownload, "/pub/f.bin");
    download.secondArg = local.string();
    download.remoteSize = 5;
    EXPECT_EQ(Run(download), kResultOk) << observer.FormattedLog();
    SessionCommand upload = Command(CmdUpload, "/pub");
    upload.secondArg = (local / "up.txt").string();
    EXPECT_EQ(Run(upload), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(Run(Command(99)), kResultFailed);
    EXPECT_EQ(observer.Snapshot().notices, std::vector<std::string>{"Unimplemented command!"});
    EXPECT_EQ(Run(Command(CmdQuit)), kResultOk);
    ASSERT_TRUE(observer.WaitForLogLine("Session Closed.", kWait));

    EXPECT_TRUE(server.WaitDone(kWait)) << ::testing::PrintToString(server.Failures());
    EXPECT_EQ(server.ReceivedData(), std::vector<std::string>{"uploaded text"});
    std::ifstream downloaded(local / "f.bin");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(downloaded), {}), "hello");
    EXPECT_FALSE(session->connected);
}

}  // namespace
}  // namespace tarnwick::test
