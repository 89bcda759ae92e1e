// Extended commands: the EPSV reply parser, the fallback from refused EPSV/EPRT/MLSD to
// PASV/PORT/LIST once the feature list offered them (scripted server), and against real
// servers exact sizes and times through MLSD, MDTM/SIZE and MFMT, over IPv6, and server to
// server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "ftp/replies.h"
#include "ftp_fixture.h"
#include "real_ftp_server.h"
#include "test_certificate.h"

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

void SetTime(const std::string& path, int64_t seconds) {
    const timeval times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

int64_t TimeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : -2;
}

// A logged-in session on `server`, without a cache, with no worker of its own.
std::unique_ptr<CFtpSession> LoggedIn(const RealFtpServer& server, RecordingObserver& observer,
                                      int tls, bool passive = true) {
    auto settings = std::make_shared<AppSettings>();
    settings->errorRetry = 0;
    settings->enableCache = false;
    SiteSetting site = SiteOn(server.Port());
    site.address = server.Address();
    site.username = RealFtpServer::kUser;
    site.tls = tls;
    site.passive = passive ? 1 : 0;
    site.tlsAcceptUnverified = true;
    auto session = std::make_unique<CFtpSession>(site, settings, observer);
    session->SetDefaultTimeout(10);
    EXPECT_EQ(session->ConnectWithRetry(), kResultOk) << observer.FormattedLog();
    return session;
}

// Against a real server, over IPv6 where the machine has ::1 (there only the extended commands
// can open a data connection), in either mode: exact sizes and times through SIZE and MDTM,
// MLSD and MFMT.
TEST_F(FtpTest, RealServerSizesAndTimesSurviveListingDownloadAndUpload) {
    platform::AsyncSocket probe;
    const bool ipv6 = probe.Create(0, SOCK_STREAM, AF_INET6, "::1");
    probe.Close();
    RealFtpServer real(ipv6 ? "::1" : "127.0.0.1");
    ASSERT_TRUE(real.Running()) << real.Error();
    const std::string small = (real.Root() / "a b;c.txt").string();
    const std::string big = (real.Root() / "big.bin").string();
    WriteFile(small, Pattern(1000));
    SetTime(small, 1234567890);
    const uint64_t bigSize = (uint64_t{5} << 30) + 3;  // sparse
    WriteFile(big, "");
    std::filesystem::resize_file(big, bigSize);
    SetTime(big, 1700000000);

    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        observer.Clear();
        session = LoggedIn(real, observer, kTlsNone, passive);
        ASSERT_EQ(Control().Family(), ipv6 ? AF_INET6 : AF_INET);
        session->transferType = 1;
        const std::filesystem::path local = scratch / (passive ? "passive" : "active");
        std::filesystem::create_directory(local);

        // No listing yet: SIZE and MDTM tell the file's size and time (both needed to set it).
        ASSERT_EQ(Control().RetrieveFile(local.string(), "/a b;c.txt", 0), kResultOk)
            << observer.FormattedLog();
        EXPECT_TRUE(ReadFile(local / "a b;c.txt") == Pattern(1000));
        EXPECT_EQ(TimeOf(local / "a b;c.txt"), 1234567890);

        ASSERT_EQ(Control().ListDir("/", "", 0), kResultOk) << observer.FormattedLog();
        ASSERT_TRUE(session->listingEntries && session->listingEntries->size() == 2);
        // Exact to the second and past 4 GiB: what a LIST line cannot tell.
        const FileEntryList& entries = *session->listingEntries;
        EXPECT_TRUE(entries[0].Size() == 1000 && entries[0].modified == 1234567890);
        EXPECT_TRUE(entries[1].Size() == bigSize && entries[1].modified == 1700000000);
        // The Unix mode, asked for with OPTS MLST, not the bare permission letters.
        EXPECT_EQ(entries[0].attributes.substr(0, 4), "-rw-");
        const ObserverRecord record = observer.Snapshot();
        EXPECT_TRUE(!ipv6 || record.CountLog("epsv") == (passive ? 2 : 0));
        EXPECT_EQ(record.CountLog("pasv"), 0);
    }
    const std::string upload = scratch / "up.txt";
    WriteFile(upload, "uploaded");
    SetTime(upload, 1000000000);
    ASSERT_EQ(Control().StoreFile(upload, "/", 0), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(TimeOf((real.Root() / "up.txt").string()), 1000000000);
}

// Server to server: over IPv6 the target listens through EPSV and the source is sent there
// with EPRT, and connects; between TLS sessions, whose servers could not secure the connection
// between them, the transfer fails at once with the reason instead of hanging until the timeout.
TEST_F(FtpTest, RealServersServerToServerOverIpv6AndRefusedOverTls) {
    platform::AsyncSocket probe;
    if (!probe.Create(0, SOCK_STREAM, AF_INET6, "::1")) GTEST_SKIP() << "this machine has no ::1";
    probe.Close();
    const std::filesystem::path certificate = MakeCertificate(scratch);
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "IPv6");
        RealFtpServer from(tls ? "127.0.0.1" : "::1", tls ? certificate : "");
        RealFtpServer to(tls ? "127.0.0.1" : "::1", tls ? certificate : "");
        ASSERT_TRUE(from.Running() && to.Running()) << from.Error() << to.Error();
        const std::string content = Pattern(100000);
        WriteFile((from.Root() / "f.bin").string(), content);
        std::filesystem::create_directory(to.Root() / "in");
        RecordingObserver sourceLog, targetLog;
        auto source = LoggedIn(from, sourceLog, tls ? kTlsExplicit : kTlsNone);
        auto target = LoggedIn(to, targetLog, tls ? kTlsExplicit : kTlsNone);
        const int result = source->controlSocket.SiteToSite("/f.bin", "/in", *target, 0);
        if (tls) {
            EXPECT_EQ(result, kResultFailed);
            EXPECT_NE(sourceLog.FormattedLog().find("cannot be protected by TLS"),
                      std::string::npos)
                << sourceLog.FormattedLog();
            EXPECT_FALSE(std::filesystem::exists(to.Root() / "in" / "f.bin"));
        } else {
            // pyftpdlib as the target drops a data connection whose bytes arrive before its
            // STOR, which this order (RETR answered first) allows: the link is what is checked.
            (void)result;
            EXPECT_EQ(targetLog.Snapshot().CountLog("epsv"), 1) << targetLog.FormattedLog();
            EXPECT_NE(sourceLog.FormattedLog().find("eprt |2|::1|"), std::string::npos);
            EXPECT_NE(sourceLog.FormattedLog().find("200 Active data connection established"),
                      std::string::npos)
                << sourceLog.FormattedLog();
        }
        source->CloseSession();
        target->CloseSession();
    }
}

}  // namespace
}  // namespace tarnwick::test
