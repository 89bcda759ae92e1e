// The list of open sessions: finding a session for a host, queue files over the list
// (import binding sections to sessions, save, autosave) and closing everything at shutdown.
#include "app/open_sessions.h"

#include <gtest/gtest.h>

#include <thread>

#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

using tarnwick::testing::ScratchDirectory;
using tarnwick::testing::WriteFile;

// What the front end hears of sessions entering and leaving the list.
class ListRecorder : public OpenSessionsListener {
public:
    void OnSessionOpened(const std::shared_ptr<CFtpSession>& session) override {
        events.push_back("+" + session->HostAddress());
    }
    void OnSessionClosed(SessionId id) override { events.push_back("-" + std::to_string(id)); }
    std::vector<std::string> events;
};

class OpenSessionsTest : public ::testing::Test {
protected:
    void SetUp() override { sessions.SetListener(&listener); }

    std::shared_ptr<CFtpSession> AddSession(const std::string& host) {
        SiteSetting site;
        site.address = host;
        auto session = std::make_shared<CFtpSession>(site, settings, observer);
        sessions.Add(session);
        return session;
    }

    static void QueueDownload(CFtpSession& session, const std::string& serverPath) {
        session.queue.Add(MakeQueueItem(QueueOperation::kDownload, "/local", serverPath, 10));
    }

    static std::vector<std::string> ServerPaths(const CFtpSession& session) {
        std::vector<std::string> paths;
        for (const auto& item : session.queue.Snapshot()) paths.push_back(item->serverPath);
        return paths;
    }

    ScratchDirectory scratch;
    RecordingObserver observer;
    std::shared_ptr<AppSettings> settings = QuickSettings();
    ListRecorder listener;
    OpenSessions sessions;  // last: closes its sessions before the observer goes
};

// Sections go to an open session for their host, else to a new one made from the site list;
// the last section's session becomes the only selected one; a file that cannot be read adds
// nothing.
TEST_F(OpenSessionsTest, ImportBindsSectionsToSessionsForTheirHosts) {
    auto open = AddSession("a.example");
    sessions.SelectOnly(*open);
    SiteSetting site;
    site.address = "b.example";
    site.port = 2121;
    site.logintype = kLoginNormal;
    site.username = "bob";
    site.password = "pw";
    const std::string file = scratch / "q.que";
    WriteFile(file,
              "[a.example]\n0\t/a1\t0\t/l\t0\t1\n\n"
              "[b.example]\n0\t/b1\t0\t/l\t0\t1\n0\t/b2\t0\t/l\t0\t1\n\n"
              "[]\n0\t/lost\t0\t/l\t0\t1\n\n"
              "[a.example]\n0\t/a2\t0\t/l\t0\t1\n\n");

    QueueImportResult result =
        sessions.ImportQueues(file, {site}, "anon@example.com", settings, observer);
    ASSERT_EQ(result.result, 0) << result.error;
    ASSERT_EQ(result.openedSessions.size(), 1u);
    const auto& made = result.openedSessions[0];
    EXPECT_EQ(made->port, 2121);
    EXPECT_EQ(made->user, "bob");
    EXPECT_EQ(sessions.Sessions(), (std::vector<std::shared_ptr<CFtpSession>>{open, made}));
    EXPECT_EQ(ServerPaths(*open), (std::vector<std::string>{"/a1", "/a2"}));
    EXPECT_EQ(ServerPaths(*made), (std::vector<std::string>{"/b1", "/b2"}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"+a.example", "+b.example"}));
    EXPECT_EQ(sessions.Selected(), (std::vector<std::shared_ptr<CFtpSession>>{open}));
    EXPECT_EQ(result.warnings.size(), 1u);  // the section without host

    const std::string missing = scratch / "none.que";
    result = sessions.ImportQueues(missing, {site}, "anon@example.com", settings, observer);
    EXPECT_EQ(result.result, -1);
    EXPECT_EQ(result.error, "Can't open" + missing);
    EXPECT_EQ(sessions.Size(), 2u);
}

TEST_F(OpenSessionsTest, SaveWritesOneSectionPerSessionWithItems) {
    auto a = AddSession("a.example");
    auto empty = AddSession("empty.example");
    auto b = AddSession("b.example");
    QueueDownload(*a, "/a");
    QueueDownload(*b, "/b");
    const std::string file = scratch / "q.que";
    sessions.SelectOnly(*b);
    for (const bool selected : {false, true}) {
        ASSERT_EQ(sessions.SaveQueues(file, selected).write, AtomicWriteResult::kWritten);
        std::string hosts;
        for (const auto& section : ReadQueueFile(file).sections) hosts += section.hostAddress + " ";
        EXPECT_EQ(hosts, selected ? "b.example " : "a.example b.example ");
    }
}

TEST_F(OpenSessionsTest, AutosaveFollowsSaveQueueAndIsImportedAtStart) {
    QueueDownload(*AddSession("a.example"), "/a");
    const std::string home = scratch.path();
    ASSERT_TRUE(AutosaveQueues(sessions, *settings, home));

    OpenSessions restarted;
    const QueueImportResult result = ImportAutosavedQueues(restarted, home, {}, settings, observer);
    ASSERT_EQ(result.result, 0);
    ASSERT_EQ(restarted.Size(), 1u);
    EXPECT_EQ(ServerPaths(*restarted.Sessions()[0]), std::vector<std::string>{"/a"});

    auto off = std::make_shared<AppSettings>(*settings);
    off->saveQueue = false;
    ASSERT_TRUE(AutosaveQueues(sessions, *off, home));
    EXPECT_FALSE(std::filesystem::exists(scratch / "autosave.que"));
    EXPECT_EQ(ImportAutosavedQueues(restarted, home, {}, settings, observer).importedItems, 0u);
}

// Sessions close from the head of the list; before a transferring one the user is asked.
// Cancel keeps it and everything after it open (and transferring); OK closes the rest.
TEST_F(OpenSessionsTest, CloseAllAsksBeforeATransferAndCancelKeepsTheRest) {
    ScriptedFtpServer server;
    ScriptStartup(server);
    server.Expect("type i").Reply("200 ok\r\n");
    server.Expect("pasv").Passive();
    server.Expect("retr big.bin")
        .Reply("150 sending\r\n")
        .SendData("partial", DataOptions{.stall = true});
    auto idle = AddSession("idle.example");
    auto busy = std::make_shared<CFtpSession>(SiteOn(server.Port()), settings, observer);
    sessions.Add(busy);
    auto last = AddSession("last.example");
    busy->queue.Add(MakeQueueItem(QueueOperation::kDownload, scratch.path(), "/big.bin", 100));
    ASSERT_TRUE(busy->StartQueue());
    for (int i = 0; i < 1000 && !busy->transferInProgress; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(busy->transferInProgress) << observer.FormattedLog();
    listener.events.clear();

    std::vector<std::string> questions;
    bool ok = false;
    const auto answer = [&](CFtpSession&, const std::string& text) {
        questions.push_back(text);
        return ok;
    };
    EXPECT_FALSE(sessions.CloseAllSessions(answer));
    EXPECT_EQ(questions,
              std::vector<std::string>{"Are you sure to abort file transfer on site 127.0.0.1?"});
    EXPECT_EQ(sessions.Sessions(), (std::vector<std::shared_ptr<CFtpSession>>{busy, last}));
    EXPECT_TRUE(busy->transferInProgress);
    EXPECT_EQ(listener.events, std::vector<std::string>{"-" + std::to_string(idle->Id())});

    ok = true;
    EXPECT_TRUE(sessions.CloseAllSessions(answer));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_TRUE(sessions.Empty());
    EXPECT_FALSE(busy->HasWorker());
    EXPECT_EQ(idle.use_count(), 1);  // the list let go of it
}

}  // namespace
}  // namespace tarnwick::test
