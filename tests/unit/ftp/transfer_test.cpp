// Listings, downloads, uploads and server-to-server transfers against the scripted server:
// exact commands, the bytes that arrive, and every failure ending with the right line.
#include "ftp_fixture.h"
#include "listing/directory_cache.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

const std::string kData = Pattern(300'000);
const std::string kListing =
    "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 new\r\n-rw-r--r-- 1 ftp ftp 3 Jan 01 2020 a.txt\r\n";

// The usual start of a passive download of x.bin.
void DownloadScript(ScriptedFtpServer& srv, PassiveOptions pasv = {}) {
    srv.Expect("type i").Reply("200 binary\r\n");
    srv.Expect("pasv").Passive(pasv);
}

int Download(DialogueContext& c, const std::string& name = "x.bin") {
    c.session.remoteSize = static_cast<int64_t>(kData.size());
    return c.session.controlSocket.RetrieveFile(c.dir.string(), name, 0);
}

int DownloadChecked(DialogueContext& c) {
    int result = Download(c);
    EXPECT_EQ(ReadFile(c.dir / "x.bin"), kData);
    return result;
}

const Dialogue kTransfers[] = {
    {"DownloadPassiveInChunks",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("retr x.bin")
             .Reply("150 sending\r\n")
             .SendData(kData, {.chunkSize = 70'000, .gap = 20ms})
             .Reply("226 done\r\n");
     },
     DownloadChecked,
     kResultOk,
     {"type i", "pasv", "retr x.bin"},
     "File x.bin received successfully."},
    {"PasvAddressElsewhereIsReplacedByThePeer",
     [](auto& srv) {
         DownloadScript(srv, {.announcedAddress = "127.0.0.2"});
         srv.Expect("retr x.bin").Reply("150 sending\r\n").SendData(kData).Reply("226 done\r\n");
     },
     DownloadChecked,
     kResultOk,
     {"type i", "pasv", "retr x.bin"},
     "The server announced data address 127.0.0.2; connecting to 127.0.0.1 instead."},
    {"DownloadActive",
     [](auto& srv) {
         srv.Expect("type i").Reply("200 binary\r\n");
         srv.ExpectPrefix("port ").Active().Reply("200 port ok\r\n");
         srv.Expect("retr x.bin").Reply("150 sending\r\n").SendData(kData).Reply("226 done\r\n");
     },
     DownloadChecked,
     kResultOk,
     {"type i", "port", "retr x.bin"},
     "",
     false},
    {"ResumeDownloadAppendsFromTheLocalSize",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("rest 1000").Reply("350 restarting\r\n");
         srv.Expect("retr x.bin")
             .Reply("150 sending\r\n")
             .SendData(kData.substr(1000))
             .Reply("226 done\r\n");
     },
     [](DialogueContext& c) {
         WriteFile(c.dir / "x.bin", kData.substr(0, 1000));
         c.session.controlSocket.overwriteChoice.fill(kResume);
         return DownloadChecked(c);
     },
     kResultOk,
     {"type i", "pasv", "rest 1000", "retr x.bin"}},
    {"DataConnectionResetFailsTheDownload",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("retr x.bin")
             .Reply("150 sending\r\n")
             .SendData(kData, {.resetAfter = 1000})
             .Reply("426 broken\r\n");
     },
     [](DialogueContext& c) { return Download(c); },
     kResultFailed,
     {"type i", "pasv", "retr x.bin"},
     "Failed to receive x.bin."},
    {"StalledDataTimesOutAndAborts",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("retr x.bin").Reply("150 sending\r\n").SendData("abc", {.stall = true});
         srv.Expect("abor").Reply("426 aborted\r\n226 abort done\r\n");
     },
     [](DialogueContext& c) {
         c.session.SetDefaultTimeout(1);
         return Download(c);
     },
     kResultTimedOut,
     {"type i", "pasv", "retr x.bin", "abor"},
     "Failed to receive x.bin."},
    {"ActiveModeServerNeverConnects",
     [](auto& srv) {
         srv.Expect("type i").Reply("200 binary\r\n");
         srv.ExpectPrefix("port ").Active().Reply("200 port ok\r\n");
         srv.Expect("retr x.bin").Reply("150 sending\r\n");
         srv.Expect("abor").Reply("225 nothing to abort\r\n");
     },
     [](DialogueContext& c) {
         c.session.SetDefaultTimeout(1);
         return Download(c);
     },
     kResultTimedOut,
     {"type i", "port", "retr x.bin", "abor"},
     "Operation timed out",
     false},
    {"RetrRefusedEndsTheDataSideAtOnce",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("retr x.bin").Reply("550 no such file\r\n");
     },
     [](DialogueContext& c) {
         int result = Download(c);
         EXPECT_EQ(c.session.controlSocket.replyCount, 1);
         return result;
     },
     kResultRefused,
     {"type i", "pasv", "retr x.bin"}},
    {"DirectoryInTheWayFailsAndAborts",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("abor").Reply("225 nothing to abort\r\n");
     },
     [](DialogueContext& c) {
         std::filesystem::create_directory(c.dir / "x.bin");
         return Download(c);
     },
     kResultFailed,
     {"type i", "pasv", "abor"},
     "Failed to receive x.bin."},
    {"DiskFullFailsAndAborts",
     [](auto& srv) {
         DownloadScript(srv);
         srv.Expect("retr full").Reply("150 sending\r\n").SendData(kData).Reply("226 done\r\n");
         srv.Expect("abor").Reply("225 nothing to abort\r\n");
     },
     [](DialogueContext& c) {
         c.session.remoteSize = 3;
         int result = c.session.controlSocket.RetrieveFile("/dev", "full", 0);
         EXPECT_FALSE(c.session.dataSocket.IsOpen());
         return result;
     },
     kResultFailed,
     {"type i", "pasv", "retr full", "abor"},
     "Failed to receive full."},
    {"ZeroLengthUploadSendsNothingAndSucceeds",
     [](auto& srv) {
         srv.Expect("type a").Reply("200 ascii\r\n");
         srv.Expect("pasv").Passive();
         srv.Expect("stor /up/empty.txt").Reply("150 go\r\n").ReceiveData().Reply("226 ok\r\n");
     },
     [](DialogueContext& c) {
         WriteFile(c.dir / "empty.txt", "");
         int result = c.session.controlSocket.StoreFile((c.dir / "empty.txt").string(), "/up", 0);
         c.server.WaitDone(5s);
         EXPECT_EQ(c.server.ReceivedData(), Lines{""});
         return result;
     },
     kResultOk,
     {"type a", "pasv", "stor /up/empty.txt"},
     "File empty.txt sent successfully."},
    {"UploadActive",
     [](auto& srv) {
         srv.Expect("type i").Reply("200 binary\r\n");
         srv.ExpectPrefix("port ").Active().Reply("200 port ok\r\n");
         srv.Expect("stor /up/x.bin").Reply("150 go\r\n").ReceiveData().Reply("226 ok\r\n");
     },
     [](DialogueContext& c) {
         WriteFile(c.dir / "x.bin", kData);
         int result = c.session.controlSocket.StoreFile((c.dir / "x.bin").string(), "/up", 0);
         c.server.WaitDone(5s);
         EXPECT_EQ(c.server.ReceivedData(), Lines{kData});
         return result;
     },
     kResultOk,
     {"type i", "port", "stor /up/x.bin"},
     "File x.bin sent successfully.",
     false},
    {"ListingWithBothRepliesInOneChunk",
     [](auto& srv) {
         srv.Expect("pasv").Passive();
         srv.Expect("list").Reply("150 here\r\n226 done\r\n").SendData(kListing);
     },
     [](DialogueContext& c) {
         int result = c.session.controlSocket.ListDir("", "", 0);
         EXPECT_EQ(c.session.listingText, kListing);
         return result;
     },
     kResultOk,
     {"pasv", "list"},
     "Listing Complete"},
    {"ListingRefused",
     [](auto& srv) {
         srv.Expect("pasv").Passive();
         srv.Expect("list -a").Reply("425 no data connection\r\n");
     },
     [](DialogueContext& c) { return c.session.controlSocket.ListDir("", "-a", 0); },
     kResultFailed,
     {"pasv", "list -a"}},
};

INSTANTIATE_TEST_SUITE_P(Transfers, DialogueTest, ::testing::ValuesIn(kTransfers), DialogueName);

TEST_F(FtpTest, ListingIsCachedAndSparesALaterMkd) {
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    server.Expect("pasv").Passive();
    server.Expect("list").Reply("150 here\r\n").SendData(kListing).Reply("226 done\r\n");
    Connect();
    ASSERT_EQ(Control().ListDir("", "", kOptPrintDir), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(Control().MakeDir("new", 0), kResultOk);
    EXPECT_TRUE(Logged("Directory new already exists. No need to create."));
    EXPECT_EQ(Commands(), (Lines{"pwd", "pasv", "list"}));
    const auto listings = observer.Snapshot().listings;
    ASSERT_EQ(listings.size(), 2u);
    EXPECT_FALSE(listings[0].done);
    EXPECT_EQ(listings[1].text, kListing);
}

TEST_F(FtpTest, EveryActiveTransferIsOfferedOnAFreshPort) {
    for (int i = 0; i < 2; ++i) {
        server.ExpectPrefix("port ").Active().Reply("200 port ok\r\n");
        server.Expect("list").Reply("150 here\r\n").SendData(kListing).Reply("226 done\r\n");
    }
    Connect(false);
    ASSERT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    ASSERT_EQ(Control().ListDir("", "", 0), kResultOk) << observer.FormattedLog();
    const Lines commands = Commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_TRUE(commands[0].starts_with("port 127,0,0,1,"));
    EXPECT_NE(commands[0], commands[2]);
}

TEST_F(FtpTest, OverwriteChoiceForAllIsRememberedPerCase) {
    settings->pOverwrite = true;
    settings->defaultOverwriteAction = 2;
    observer.SetOverwriteAnswer({kSkip, true});
    Connect();
    for (const char* name : {"a.bin", "b.bin"}) {
        WriteFile(scratch / name, "local");
        session->remoteSize = 100;  // bigger than the local file, and older (not cached)
        EXPECT_EQ(Control().RetrieveFile(scratch.string(), name, 0), kResultOk);
    }
    EXPECT_TRUE(Commands().empty());  // both skipped, nothing sent
    const ObserverRecord record = observer.Snapshot();
    ASSERT_EQ(record.overwriteQuestions.size(), 1u);
    EXPECT_EQ(record.overwriteQuestions[0].suggested, kOverwrite);
    EXPECT_EQ(record.overwriteQuestions[0].autoAction, kSkip);
    EXPECT_EQ(record.showSession, 1);
}

TEST_F(FtpTest, SiteToSiteLinksTheServersAndStopsWhenTheTargetRefuses) {
    ScriptedFtpServer targetServer;
    targetServer.Greeting("220 target\r\n");
    targetServer.Expect("user tester").Reply("230 in\r\n");
    for (bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "accepted");
        server.Expect("pasv").Passive();
        server.Expect("retr /src/f.bin")
            .Reply("150 sending\r\n")
            .Delay(refuse ? 1s : 100ms)
            .Reply("226 sent\r\n");
        if (refuse) server.Expect("abor").Reply("226 aborted\r\n");
        targetServer.ExpectPrefix("port 127,0,0,1,").Reply("200 ok\r\n");
        targetServer.Expect("stor /dst/f.bin")
            .Reply(refuse ? "553 not allowed\r\n" : "150 receiving\r\n226 stored\r\n");
    }
    Connect();
    session->transferType = 1;
    Control().currentType = 1;
    RecordingObserver targetObserver;
    SiteSetting site;
    site.address = "127.0.0.1";
    site.port = targetServer.Port();
    site.logintype = kLoginNormal;
    site.username = "tester";
    CFtpSession target(site, settings, targetObserver);
    target.controlSocket.currentType = 1;
    ASSERT_EQ(target.ConnectWithRetry(), kResultOk);

    EXPECT_EQ(Control().SiteToSite("/src/f.bin", "/dst", target, 0), kResultOk);
    EXPECT_EQ(Control().SiteToSite("/src/f.bin", "/dst", target, 0), kResultInterrupted);
    EXPECT_FALSE(session->siteToSiteActive);
    EXPECT_TRUE(server.WaitDone(5s));
    EXPECT_EQ(Commands(), (Lines{"pasv", "retr /src/f.bin", "pasv", "retr /src/f.bin", "abor"}));
    EXPECT_EQ(targetServer.Transcript().size(), 5u);
}

}  // namespace
}  // namespace tarnwick::test
