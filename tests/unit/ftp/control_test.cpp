// Dialogues of the control connection: login, reply assembly and the single-reply commands,
// each checked against the exact lines the client sent.
#include "ftp_fixture.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

struct LoginCase {
    std::string welcome, userReply, passReply;  // passReply empty: no PASS expected
    int result;
    Lines transcript;
};

TEST(Login, FollowsTheWelcomeUserAndPassCodes) {
    const Lines both{"user tester", "pass secret"}, user{"user tester"};
    // clang-format off
    for (const LoginCase& c : {
             LoginCase{"220 hi\r\n", "230 in\r\n", "", kResultOk, user},
             LoginCase{"220 hi\r\n", "530 no\r\n", "230 in\r\n", kResultOk, both},
             LoginCase{"220 hi\r\n", "331 pw\r\n", "202 not needed\r\n", kResultOk, both},
             LoginCase{"220 hi\r\n", "331 pw\r\n", "530 wrong\r\n", kResultFailed, both},
             LoginCase{"220 hi\r\n", "500 what\r\n", "", kResultFailed, user},
             LoginCase{"120 soon\r\n220 now\r\n", "230 in\r\n", "", kResultOk, user},
             LoginCase{"421 busy\r\n", "", "", kResultFailed, {}}}) {
        // clang-format on
        SCOPED_TRACE(c.welcome + c.userReply + c.passReply);
        ScriptedFtpServer server;
        server.Greeting(c.welcome);
        if (!c.userReply.empty()) server.Expect("user tester").Reply(c.userReply);
        if (!c.passReply.empty()) server.Expect("pass secret").Reply(c.passReply);
        RecordingObserver observer;
        CFtpSession session(SiteOn(server.Port()), std::make_shared<AppSettings>(), observer);
        session.SetDefaultTimeout(5);
        ASSERT_TRUE(session.controlSocket.Create());
        EXPECT_EQ(session.controlSocket.ConnectAndLogin(), c.result) << observer.FormattedLog();
        EXPECT_EQ(server.Transcript(), c.transcript);
        const ObserverRecord record = observer.Snapshot();
        const Lines messages{c.welcome + c.userReply + c.passReply};
        EXPECT_EQ(record.loginMessages, c.result == kResultOk ? messages : Lines{});
        EXPECT_EQ(record.CountLog("pass ******"), c.passReply.empty() ? 0 : 1);
    }
}

int Send(CFtpSession& s, const std::string& line) {
    return s.controlSocket.SendCommand(line, true);
}

// clang-format off
const Dialogue kDialogues[] = {
    {"BrokenTransferThenAborAnswer",
     [](auto& srv) { srv.Expect("abor").Reply("426 broken\r\n").Delay(100ms).Reply("226 aborted\r\n"); },
     [](DialogueContext& c) { return c.ctl.Abort(); }, kResultOk, {"abor"}},
    {"LineBreakRefused", Replies({}),
     [](DialogueContext& c) { return Send(c.session, "dele a\r\nrmd /") + c.ctl.ChangeDir("a\nb", 0); },
     2 * kResultFailed, {}, "Command refused: it contains a line break."},
    // The connection is given up: the session's next wait learns it. A megabyte in 1 KiB log
    // lines is slow under TSan, hence the long deadline.
    {"NeverEndingReplyIsBounded", [](auto& srv) { srv.Expect("stat").Flood("211-more\r\n"); },
     [](DialogueContext& c) {
         c.session.SetDefaultTimeout(60);
         int result = Send(c.session, "stat");
         EXPECT_LE(c.ctl.replyText.size(), kMaxReplyBytes);
         EXPECT_EQ(c.session.WaitForSession(nullptr, 1), kResultConnectionClosed);
         return result;
     }, kResultFailed, {"stat"}, "Reply too long (more than 1048576 bytes), closing the control connection."},
    {"ServerCloses", [](auto& srv) { srv.Expect("noop").Drop(); },
     [](DialogueContext& c) { int result = Send(c.session, "noop"); EXPECT_FALSE(c.session.loggedIn); return result; },
     kResultConnectionClosed, {"noop"}, "Control Connection Closed"},
    {"ServerResets", [](auto& srv) { srv.Expect("noop").Reset(); }, [](DialogueContext& c) { return Send(c.session, "noop"); },
     kResultConnectionClosed, {"noop"}, "Control connection reset by server."},
    {"ChangeDirTrimsSkipsTheCurrentOneAndListsWhenAsked",
     [](auto& srv) {
         Replies({{"cwd .", "250 ok\r\n"}, {"cwd /tmp", "250 ok\r\n"}, {"pwd", "257 \"/tmp\" is current\r\n"}})(srv);
         srv.Expect("pasv").Passive(); srv.Expect("list").Reply("150 here\r\n226 done\r\n").SendData("");
     },
     [](DialogueContext& c) {
         c.session.currentDirectory = "/pub";
         int result = c.ctl.ChangeDir("   ", 0) + c.ctl.ChangeDir(" ", kOptForceCwd) + c.ctl.ChangeDir("  /tmp  ", 0);
         EXPECT_EQ(c.session.currentDirectory, "/tmp");
         return result + c.ctl.ChangeDir("/tmp/", kOptListAfter);
     }, kResultOk, {"cwd .", "cwd /tmp", "pwd", "pasv", "list"}, "Listing Complete"},
    {"RestartAcceptedRefusedOrFailed",
     Replies({{"rest 5000000000", "350 ok\r\n"}, {"rest 0", "502 not implemented\r\n"}, {"rest 7", "450 busy\r\n"}}),
     [](DialogueContext& c) {
         int accepted = -1, refused = -1, failed = -1;
         int result = c.ctl.Restart(5'000'000'000ULL, &accepted) + c.ctl.Restart(0, &refused) + c.ctl.Restart(7, &failed);
         EXPECT_EQ(std::tie(accepted, refused, failed), std::make_tuple(1, 0, -1));
         return result;
     }, kResultFailed, {"rest 5000000000", "rest 0", "rest 7"}, "This site can't resume broken downloads."},
    // The pause handles the socket's notifications, so the 211 arrives while idle.
    {"TextWhileIdleIsOnlyLoggedAndLeavesTheNextReplyAlone",
     [](auto& srv) { srv.Expect("noop").Reply("200 ok\r\n").Delay(100ms).Reply("211 surprise\r\n"); srv.Expect("pwd").Reply("257 \"/home\"\r\n"); },
     [](DialogueContext& c) {
         EXPECT_EQ(Send(c.session, "noop"), kResultOk);
         c.session.WaitForSession(nullptr, 1);
         int result = c.ctl.PrintDir();
         EXPECT_EQ(c.session.currentDirectory, "/home");
         return result;
     }, kResultOk, {"noop", "pwd"}, "Unexpected response received."},
    {"RemoveDirLeavesItFirst", Replies({{"cwd /pub", "250 ok\r\n"}, {"pwd", "257 \"/pub\"\r\n"}, {"rmd /pub/old", "250 removed\r\n"}}),
     [](DialogueContext& c) { return c.ctl.RemoveDir("/pub/old", 0); }, kResultOk, {"cwd /pub", "pwd", "rmd /pub/old"}},
};
// clang-format on

TEST_P(DialogueTest, SendsExactlyTheseCommands) {
    RunDialogue();
}

INSTANTIATE_TEST_SUITE_P(Control, DialogueTest, ::testing::ValuesIn(kDialogues), DialogueName);

}  // namespace
}  // namespace tarnwick::test
