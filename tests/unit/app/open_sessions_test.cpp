// The list of open sessions: finding a session for a host, queue files over the list
// (import binding sections to sessions, save, autosave) and closing everything at shutdown.
#include "app/open_sessions.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(made->user + ":" + std::to_string(made->port), "bob:2121");
    EXPECT_EQ(sessions.Sessions(), (std::vector<std::shared_ptr<CFtpSession>>{open, made}));
    EXPECT_EQ(ServerPaths(*open), (std::vector<std::string>{"/a1", "/a2"}));
    EXPECT_EQ(ServerPaths(*made), (std::vector<std::string>{"/b1", "/b2"}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"+a.example", "+b.example"}));
    EXPECT_EQ(sessions.Selected(), (std::vector<std::shared_ptr<CFtpSession>>{open}));
    EXPECT_EQ(result.warnings.size(), 1u);  // the section without host

    result = sessions.ImportQueues(scratch / "none.que", {site}, "anon", settings, observer);
    EXPECT_EQ(result.result, -1);
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

// What the autosave writes is what the next start imports.
TEST_F(OpenSessionsTest, AutosaveIsImportedAtStart) {
    QueueDownload(*AddSession("a.example"), "/a");
    ASSERT_TRUE(AutosaveQueues(sessions, *settings, scratch.path()));
    OpenSessions restarted;
    ASSERT_EQ(ImportAutosavedQueues(restarted, scratch.path(), {}, settings, observer).result, 0);
    ASSERT_EQ(restarted.Size(), 1u);
    EXPECT_EQ(ServerPaths(*restarted.Sessions()[0]), std::vector<std::string>{"/a"});
}

// Sessions close from the head of the list; before a busy one the user is asked. Cancel
// keeps it and everything after it open (and busy); OK closes the rest.
TEST_F(OpenSessionsTest, CloseAllAsksBeforeATransferAndCancelKeepsTheRest) {
    auto idle = AddSession("idle.example");
    auto busy = AddSession("127.0.0.1");
    auto last = AddSession("last.example");
    ASSERT_TRUE(busy->TryMarkBusy());  // as while it transfers
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
    EXPECT_TRUE(busy->IsBusy());
    EXPECT_EQ(listener.events, std::vector<std::string>{"-" + std::to_string(idle->Id())});

    ok = true;
    EXPECT_TRUE(sessions.CloseAllSessions(answer));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_TRUE(sessions.Empty());
    EXPECT_EQ(idle.use_count(), 1);  // the list let go of it
}

}  // namespace
}  // namespace tarnwick::test
