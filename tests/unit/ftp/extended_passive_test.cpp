// Extended data connections: the EPSV reply parser, the FEAT feature list, the fallback from
// refused EPSV/EPRT to PASV/PORT (scripted server), and listings and downloads over IPv6
// against a real server on ::1.
#include <gtest/gtest.h>

#include "ftp/replies.h"
#include "ftp/server_features.h"
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
    EXPECT_EQ(MakeEprtCommand("::1", 2121), "eprt |2|::1|2121|");
}

TEST(FeatReplyTest, ListsTheFeaturesOfA211ReplyOnly) {
    const ServerFeatures listed = ParseFeatReply(
        "211-Features supported:\r\n EPRT\r\n epsv\r\n MDTM\r\n MLST type*;Size*;modify*;perm;\r\n"
        " REST STREAM\r\n SIZE\r\n UTF8\r\n211 End FEAT.\r\n");
    EXPECT_TRUE(listed.listed && listed.eprt && listed.epsv && listed.mdtm && listed.size &&
                listed.utf8 && listed.restStream && listed.mlst);
    EXPECT_FALSE(listed.mfmt);
    EXPECT_EQ(listed.mlstFacts, (std::vector<std::string>{"type", "size", "modify", "perm"}));
    EXPECT_FALSE(ParseFeatReply("502 Command not implemented.\r\n").listed);
}

// A refused extended command falls back to the classic one, and the refusal holds for the
// session: the second listing asks for PASV / PORT at once.
class ExtendedFallbackTest : public FtpTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExtendedFallbackTest, RefusalFallsBackOnceForTheSession) {
    const bool passive = GetParam();
    server.Expect("feat").Reply("211-Features:\r\n EPSV\r\n EPRT\r\n211 End\r\n");
    server.ExpectPrefix(passive ? "epsv" : "eprt |1|127.0.0.1|")
        .Reply(passive ? "502 no\r\n" : "500 no\r\n");
    for (int listing = 0; listing < 2; ++listing) {
        if (passive) {
            server.Expect("pasv").Passive();
        } else {
            server.ExpectPrefix("port 127,0,0,1,").Active().Reply("200 ok\r\n");
        }
        server.Expect("list").Reply("150 here\r\n").SendData("x\r\n").Reply("226 done\r\n");
    }
    CFtpSession& s = Connect(passive);
    EXPECT_TRUE(s.serverFeatures.epsv && s.serverFeatures.eprt);
    EXPECT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    EXPECT_TRUE(server.WaitDone()) << ::testing::PrintToString(server.Failures());
    const std::string classic = passive ? "pasv" : "port";
    Lines shape;
    for (const std::string& line : Commands()) shape.push_back(line.substr(0, 4));
    EXPECT_EQ(shape, (Lines{"feat", passive ? "epsv" : "eprt", classic, "list", classic, "list"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ExtendedFallbackTest, ::testing::Bool());

// Over IPv6 only the extended commands can open a data connection, in either mode.
TEST(Ipv6RealServerTest, ListsAndDownloadsOverExtendedCommands) {
    platform::AsyncSocket probe;
    if (!probe.Create(0, SOCK_STREAM, AF_INET6, "::1")) GTEST_SKIP() << "this machine has no ::1";
    probe.Close();
    RealFtpServer real("::1");
    ASSERT_TRUE(real.Running()) << real.Error();
    const std::string content = Pattern(300000);
    WriteFile((real.Root() / "f.bin").string(), content);
    testing::ScratchDirectory scratch;
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto settings = std::make_shared<AppSettings>();
        settings->errorRetry = 0;
        settings->cacheHomeDirectory = scratch / "cache";
        SiteSetting site = SiteOn(real.Port());
        site.address = "::1";
        site.username = RealFtpServer::kUser;
        site.passive = passive ? 1 : 0;
        RecordingObserver observer;
        CFtpSession session(site, settings, observer);
        session.SetDefaultTimeout(10);
        ASSERT_EQ(session.ConnectWithRetry(), kResultOk) << observer.FormattedLog();
        EXPECT_EQ(session.controlSocket.Family(), AF_INET6);
        EXPECT_TRUE(session.serverFeatures.epsv && session.serverFeatures.mlst);
        ASSERT_EQ(session.controlSocket.ListDir("/", "", 0), kResultOk) << observer.FormattedLog();
        ASSERT_TRUE(session.listingEntries && session.listingEntries->size() == 1);
        EXPECT_EQ(session.listingEntries->front().name, "f.bin");
        const std::string local = scratch / (passive ? "passive" : "active");
        std::filesystem::create_directory(local);
        EXPECT_EQ(session.controlSocket.RetrieveFile(local, "/f.bin", 0), kResultOk)
            << observer.FormattedLog();
        EXPECT_TRUE(ReadFile(local + "/f.bin") == content);
        const ObserverRecord record = observer.Snapshot();
        EXPECT_EQ(record.CountLog("epsv"), passive ? 2 : 0) << observer.FormattedLog();
        EXPECT_EQ(record.CountLog("pasv"), 0);
    }
}

}  // namespace
}  // namespace tarnwick::test
