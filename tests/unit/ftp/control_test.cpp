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
    const Lines both{"user tester", "pass secret"};
    for (const LoginCase& c : {
             LoginCase{"220 hi\r\n", "230 in\r\n", "", kResultOk, {"user tester"}},
             LoginCase{"220 hi\r\n", "530 no\r\n", "230 in\r\n", kResultOk, both},
             LoginCase{"220 hi\r\n", "331 pw\r\n", "202 not needed\r\n", kResultOk, both},
             LoginCase{"220 hi\r\n", "331 pw\r\n", "530 wrong\r\n", kResultFailed, both},
             LoginCase{"220 hi\r\n", "500 what\r\n", "", kResultFailed, {"user tester"}},
             LoginCase{"120 soon\r\n220 now\r\n", "230 in\r\n", "", kResultOk, {"user tester"}},
             LoginCase{"421 busy\r\n", "", "", kResultFailed, {}},
         }) {
        SCOPED_TRACE(c.welcome + c.userReply + c.passReply);
        ScriptedFtpServer server;
        server.Greeting(c.welcome);
        if (!c.userReply.empty()) server.Expect("user tester").Reply(c.userReply);
        if (!c.passReply.empty()) server.Expect("pass secret").Reply(c.passReply);
        RecordingObserver observer;
        CFtpSession session(LoopbackSite(server.Port()), std::make_shared<AppSettings>(), observer);
        session.SetDefaultTimeout(5);
        ASSERT_TRUE(session.controlSocket.Create());
        EXPECT_EQ(session.controlSocket.ConnectAndLogin(), c.result) << observer.FormattedLog();
        EXPECT_EQ(server.Transcript(), c.transcript);
        EXPECT_EQ(session.loggedIn, c.result == kResultOk);
        if (c.result == kResultOk) {
            EXPECT_EQ(observer.Snapshot().loginMessages,
                      Lines{c.welcome + c.userReply + c.passReply});
        }
        if (!c.passReply.empty()) {
            EXPECT_EQ(observer.Snapshot().CountLog("pass ******"), 1);
        }
    }
}

TEST_F(FtpTest, TextWhileIdleIsOnlyLoggedAndLeavesTheNextReplyAlone) {
    server.Expect("noop").Reply("200 ok\r\n").Delay(100ms).Reply("211 surprise\r\n");
    server.Expect("pwd").Reply("257 \"/home\"\r\n");
    Connect();
    ASSERT_EQ(Control().SendCommand("noop", true), kResultOk);
    session->WaitForSession(nullptr, 1);  // a pause that handles the socket's notifications
    EXPECT_EQ(Control().PrintDir(), kResultOk);
    EXPECT_EQ(session->currentDirectory, "/home");
    const ObserverRecord record = observer.Snapshot();
    const int unexpected = record.FindLog("Unexpected response received.");
    ASSERT_GE(unexpected, 0) << observer.FormattedLog();
    EXPECT_EQ(record.log[unexpected + 1].text, "211 surprise\r\n");
}

int Send(CFtpSession& s, const std::string& line) {
    return s.controlSocket.SendCommand(line, true);
}

// clang-format off
const Dialogue kDialogues[] = {
    {"BrokenTransferThenAborAnswer",
     [](auto& srv) { srv.Expect("abor").ReplyInChunks({"426 broken\r\n", "226 aborted\r\n"}); },
     [](DialogueContext& c) { return c.ctl.Abort(); }, kResultOk, {"abor"}},
    {"LineBreakRefused", Replies({}),
     [](DialogueContext& c) { return Send(c.session, "dele a\r\nrmd /") + c.ctl.ChangeDir("a\nb", 0); },
     2 * kResultFailed, {}, "Command refused: it contains a line break."},
    {"NeverEndingReplyIsBounded", [](auto& srv) { srv.Expect("stat").Flood("211-more\r\n"); },
     [](DialogueContext& c) {
         c.session.SetDefaultTimeout(60);  // a megabyte in 1 KiB log lines: slow under TSan
         int result = Send(c.session, "stat");
         EXPECT_LE(c.ctl.replyText.size(), kMaxReplyBytes);
         // The connection was given up: the session's next wait learns it.
         EXPECT_EQ(c.session.WaitForSession(nullptr, 1), kResultConnectionClosed);
         return result;
     }, kResultFailed, {"stat"},
     "Reply too long (more than 1048576 bytes), closing the control connection."},
    {"ServerCloses", [](auto& srv) { srv.Expect("noop").Drop(); },
     [](DialogueContext& c) {
         int result = Send(c.session, "noop");
         EXPECT_FALSE(c.session.loggedIn);
         return result;
     }, kResultConnectionClosed, {"noop"}, "Control Connection Closed"},
    {"ServerResets", [](auto& srv) { srv.Expect("noop").Reset(); },
     [](DialogueContext& c) { return Send(c.session, "noop"); },
     kResultConnectionClosed, {"noop"}, "Control connection reset by server."},
    {"ChangeDirToCurrentSendsNothingButListsWhenAsked",
     [](auto& srv) { srv.Expect("pasv").Passive(); srv.Expect("list").Reply("150 here\r\n226 done\r\n").SendData(""); },
     [](DialogueContext& c) {
         c.session.currentDirectory = "/pub";
         return c.ctl.ChangeDir("   ", 0) + c.ctl.ChangeDir("/pub/", kOptListAfter);
     }, kResultOk, {"pasv", "list"}, "Listing Complete"},
    {"ChangeDirForcedSendsDotWithoutPwd", Replies({{"cwd .", "250 ok\r\n"}}),
     [](DialogueContext& c) { return c.ctl.ChangeDir(" ", kOptForceCwd); }, kResultOk, {"cwd ."}},
    {"ChangeDirTrimsAndReportsTheNewDirectory",
     Replies({{"cwd /pub", "250 ok\r\n"}, {"pwd", "257 \"/pub\" is current\r\n"}}),
     [](DialogueContext& c) {
         int result = c.ctl.ChangeDir("  /pub  ", 0);
         EXPECT_EQ(c.session.currentDirectory, "/pub");
         return result;
     }, kResultOk, {"cwd /pub", "pwd"}},
    {"RestartAcceptedRefusedOrFailed",
     Replies({{"rest 5000000000", "350 ok\r\n"}, {"rest 0", "502 not implemented\r\n"},
              {"rest 7", "450 busy\r\n"}}),
     [](DialogueContext& c) {
         int supported = -1;
         EXPECT_EQ(c.ctl.Restart(5'000'000'000ULL, &supported), kResultOk);
         EXPECT_EQ(supported, 1);
         EXPECT_EQ(c.ctl.Restart(0, &supported), kResultOk);
         EXPECT_EQ(supported, 0);
         supported = -1;
         int result = c.ctl.Restart(7, &supported);
         EXPECT_EQ(supported, -1);
         return result;
     }, kResultFailed, {"rest 5000000000", "rest 0", "rest 7"},
     "This site can't resume broken downloads."},
    {"MakeDirRefusedForGood", Replies({{"mkd new", "550 exists\r\n"}}),
     [](DialogueContext& c) { return c.ctl.MakeDir("new", 0); }, kResultRefused, {"mkd new"}},
    {"RemoveDirLeavesItFirst",
     Replies({{"cwd /pub", "250 ok\r\n"}, {"pwd", "257 \"/pub\"\r\n"},
              {"rmd /pub/old", "250 removed\r\n"}}),
     [](DialogueContext& c) { return c.ctl.RemoveDir("/pub/old", 0); }, kResultOk,
     {"cwd /pub", "pwd", "rmd /pub/old"}},
};
// clang-format on

TEST_P(DialogueTest, SendsExactlyTheseCommands) {
    RunDialogue();
}

INSTANTIATE_TEST_SUITE_P(Control, DialogueTest, ::testing::ValuesIn(kDialogues), DialogueName);

}  // namespace
}  // namespace tarnwick::test
