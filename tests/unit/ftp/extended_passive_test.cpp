// Extended commands: the EPSV reply parser, the fallback from refused EPSV/EPRT/MLSD to
// PASV/PORT/LIST once the feature list offered them (scripted server), and listings and
// downloads over IPv6 against a real server on ::1.
#include <gtest/gtest.h>

#include "ftp/replies.h"
#include "ftp_fixture.h"
#include "real_ftp_server.h"

namespace tarnwick::test {
namespace {

TEST(EpsvReplyTest, TakesOnlyAWellFormedPort) {
    struct Case {
        const char* reply;
        int port;  // 0: refused
    };
    for (const Case& c : {
             Case{"229 Entering Extended Passive Mode (|||50123|)\r\n", 50123},
             Case{"229 ok (!!!21!)\r\n", 21},
             Case{"229 ok (|||65535|)\r\n", 65535},
             Case{"229 ok (|!|2121|)\r\n", 0},   // the delimiters differ
             Case{"229 ok (||2121|)\r\n", 0},    // one delimiter short
             Case{"229 ok (|||2121|\r\n", 0},    // no closing parenthesis
             Case{"229 ok (111211)\r\n", 0},     // a digit is no delimiter
             Case{"229 ok (|||0|)\r\n", 0},      // port 0
             Case{"229 ok (|||65536|)\r\n", 0},  // past the last port
             Case{"229 ok (|||21a|)\r\n", 0},
         }) {
        SCOPED_TRACE(c.reply);
        int port = -1;
        EXPECT_EQ(ParseEpsvReply(c.reply, port), c.port != 0);
        EXPECT_EQ(port, c.port);
    }
}

// A refused extended command (EPSV, EPRT, MLSD) falls back to the classic one, and the
// refusal holds for the session: the second listing asks for PASV / PORT / LIST at once.
enum class Extended { kEpsv, kEprt, kMlsd };
class ExtendedFallbackTest : public FtpTest, public ::testing::WithParamInterface<Extended> {};

TEST_P(ExtendedFallbackTest, RefusalFallsBackOnceForTheSession) {
    const bool passive = GetParam() != Extended::kEprt, mlsd = GetParam() == Extended::kMlsd;
    server.Expect("feat").Reply(mlsd ? "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n"
                                     : "211-Features:\r\n epsv\r\n EPRT\r\n211 End\r\n");
    if (mlsd) server.Expect("pasv").Passive();
    server.ExpectPrefix(mlsd      ? "mlsd"
                        : passive ? "epsv"
                                  : "eprt |1|127.0.0.1|")
        .Reply(passive ? "502 no\r\n" : "500 no\r\n");
    for (int listing = 0; listing < 2; ++listing) {
        if (passive) {
            server.Expect("pasv").Passive();
        } else {
            server.ExpectPrefix("port 127,0,0,1,").Active().Reply("200 ok\r\n");
        }
        server.Expect("list").Reply("150 here\r\n").SendData("x\r\n").Reply("226 done\r\n");
    }
    Connect(passive);
    EXPECT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone()) << ::testing::PrintToString(server.Failures());
}

INSTANTIATE_TEST_SUITE_P(Modes, ExtendedFallbackTest,
                         ::testing::Values(Extended::kEpsv, Extended::kEprt, Extended::kMlsd));

// Over IPv6 only the extended commands can open a data connection, in either mode.
TEST_F(FtpTest, RealServerListsAndDownloadsOverIpv6WithExtendedCommands) {
    platform::AsyncSocket probe;
    if (!probe.Create(0, SOCK_STREAM, AF_INET6, "::1")) GTEST_SKIP() << "this machine has no ::1";
    probe.Close();
    RealFtpServer real("::1");
    ASSERT_TRUE(real.Running()) << real.Error();
    const std::string content = Pattern(300000);
    WriteFile((real.Root() / "f.bin").string(), content);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        SiteSetting site = SiteOn(real.Port());
        site.address = "::1";
        site.username = RealFtpServer::kUser;
        site.passive = passive ? 1 : 0;
        observer.Clear();
        ASSERT_EQ(ConnectTo(site).controlSocket.Family(), AF_INET6);
        EXPECT_TRUE(session->serverFeatures.epsv && session->serverFeatures.mlst);
        ASSERT_EQ(Control().ListDir("/", "", 0), kResultOk) << observer.FormattedLog();
        ASSERT_TRUE(session->listingEntries && session->listingEntries->size() == 1);
        EXPECT_EQ(session->listingEntries->front().name, "f.bin");
        const std::string local = scratch / (passive ? "passive" : "active");
        std::filesystem::create_directory(local);
        EXPECT_EQ(Control().RetrieveFile(local, "/f.bin", 0), kResultOk) << observer.FormattedLog();
        EXPECT_TRUE(ReadFile(local + "/f.bin") == content);
        const ObserverRecord record = observer.Snapshot();
        EXPECT_EQ(record.CountLog("epsv"), passive ? 2 : 0) << observer.FormattedLog();
        EXPECT_EQ(record.CountLog("pasv"), 0);
    }
}

}  // namespace
}  // namespace tarnwick::test
