// Listings, downloads and uploads against the scripted server:
// exact commands, the bytes that arrive, and every failure ending with the right line.
#include <fcntl.h>
#include <sys/stat.h>

#include "ftp_fixture.h"
#include "listing/directory_cache.h"
#include "loopback_socket.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

const std::string kData = Pattern(300'000);
const std::string kListing =
    "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 new\r\n-rw-r--r-- 1 ftp ftp 3 Jan 01 2020 a.txt\r\n";

// TYPE I and PASV, as every binary transfer in passive mode starts.
void TypeAndPasv(ScriptedFtpServer& srv, const std::string& pasv = "127.0.0.1") {
    srv.Expect("type i").Reply("200 binary\r\n");
    srv.Expect("pasv").Passive(pasv);
}

// `command` answered by 150, `data` over the data connection, then `final`.
void Transfer(ScriptedFtpServer& srv, const std::string& command, const std::string& data,
              DataOptions options = {}, const std::string& final = "226 done\r\n") {
    srv.Expect(command).Reply("150 go\r\n").SendData(data, options).Reply(final);
}

int Download(DialogueContext& c) {
    c.session.remoteSize = static_cast<int64_t>(kData.size());
    return c.ctl.RetrieveFile(c.dir.string(), "x.bin", 0);
}

// A download that must leave exactly `bytes` in the local file.
std::function<int(DialogueContext&)> DownloadYields(const std::string& bytes) {
    return [bytes](DialogueContext& c) {
        int result = Download(c);
        EXPECT_EQ(ReadFile(c.dir / "x.bin"), bytes);
        return result;
    };
}

// Uploads a local file `name` holding `content` to /up; the server must receive exactly it.
std::function<int(DialogueContext&)> Upload(const std::string& content, const std::string& name) {
    return [content, name](DialogueContext& c) {
        WriteFile(c.dir / name, content);
        int result = c.ctl.StoreFile((c.dir / name).string(), "/up", 0);
        c.server.WaitDone(5s);
        EXPECT_EQ(c.server.ReceivedData(), result == kResultOk ? Lines{content} : Lines{});
        return result;
    };
}

// `run` with a default deadline of `seconds`.
std::function<int(DialogueContext&)> Within(int seconds, std::function<int(DialogueContext&)> run) {
    return [seconds, run](DialogueContext& c) {
        c.session.SetDefaultTimeout(seconds);
        return run(c);
    };
}

// A 227 reply naming a loopback port that refuses connections.
std::string RefusingPasvReply() {
    const uint16_t port = RefusingPort();
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ")\r\n";
}

const Lines kRetr{"type i", "pasv", "retr x.bin"};

// A download that fails before its data: an existing local file comes out of it as it was,
// time included, and none is created.
std::function<int(DialogueContext&)> LocalFileAlone(bool existing) {
    return [existing](DialogueContext& c) {
        const std::filesystem::path path = c.dir / "x.bin";
        if (existing) WriteFile(path, "old copy");
        std::error_code none;
        const auto before = std::filesystem::last_write_time(path, none);
        int result = Download(c);
        EXPECT_EQ(std::filesystem::exists(path), existing);
        EXPECT_EQ(ReadFile(path), existing ? "old copy" : "");
        EXPECT_EQ(std::filesystem::last_write_time(path, none), before);
        return result;
    };
}

// Resume asked for over a local file of `size` bytes (the remote one has kData.size()).
std::function<int(DialogueContext&)> ResumeOver(size_t size) {
    return [size](DialogueContext& c) {
        WriteFile(c.dir / "x.bin", Pattern(size));
        c.ctl.overwriteChoice.fill(kResume);
        int result = Download(c);
        EXPECT_EQ(ReadFile(c.dir / "x.bin"), size == kData.size() ? Pattern(size) : kData);
        return result;
    };
}

// clang-format off
const Dialogue kTransfers[] = {
    {"PasvAddressElsewhereIsReplacedByThePeer",
     [](auto& srv) { TypeAndPasv(srv, "127.0.0.2"); Transfer(srv, "retr x.bin", kData); },
     DownloadYields(kData), kResultOk, kRetr,
     "The server announced data address 127.0.0.2; connecting to 127.0.0.1 instead."},
    {"ResumeAppendsFromTheLocalSize",
     [](auto& srv) { TypeAndPasv(srv); srv.Expect("rest 1000").Reply("350 ok\r\n"); Transfer(srv, "retr x.bin", kData.substr(1000)); },
     ResumeOver(1000), kResultOk, {"type i", "pasv", "rest 1000", "retr x.bin"}},
    {"ResumeOfACompleteFileSendsNothing", Replies({}), ResumeOver(kData.size()), kResultOk, {},
     "File x.bin is complete, nothing to transfer."},
    {"ResumeOfABiggerFileDownloadsAfresh",
     [](auto& srv) { TypeAndPasv(srv); Transfer(srv, "retr x.bin", kData); },
     ResumeOver(kData.size() + 10), kResultOk, kRetr},
    {"DataBeforeThePreliminaryReplyIsKept",
     [](auto& srv) { TypeAndPasv(srv); srv.Expect("retr x.bin").SendData(kData).Reply("150 go\r\n226 done\r\n"); },
     DownloadYields(kData), kResultOk, kRetr},
    {"DataOfALostConnectionIsKeptForResuming",
     [](auto& srv) { TypeAndPasv(srv); srv.Expect("retr x.bin").SendData(kData.substr(0, 1000)).Drop(); },
     DownloadYields(kData.substr(0, 1000)), kResultConnectionClosed, kRetr},
    {"DataConnectionResetFailsTheDownload",
     [](auto& srv) { TypeAndPasv(srv); Transfer(srv, "retr x.bin", kData, {.resetAfter = 1000}, "426 broken\r\n"); },
     Download, kResultFailed, kRetr, "Failed to receive x.bin."},
    {"StalledDataTimesOutAndAborts",
     [](auto& srv) { TypeAndPasv(srv); Transfer(srv, "retr x.bin", "abc", {.stall = true}, ""); srv.Expect("abor").Reply("426 x\r\n226 y\r\n"); },
     Within(1, Download), kResultTimedOut, {"type i", "pasv", "retr x.bin", "abor"}, "Failed to receive x.bin."},
    {"DataConnectionRefusedFailsAtOnceNotAtTheDeadline",
     [](auto& srv) { srv.Expect("type i").Reply("200 binary\r\n"); srv.Expect("pasv").Reply(RefusingPasvReply()); srv.Expect("retr x.bin").Reply("150 go\r\n"); },
     Within(30, [](DialogueContext& c) {
         const auto start = std::chrono::steady_clock::now();
         int result = Download(c);
         EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
         return result;
     }), kResultFailed, kRetr, "Connection refused."},
    {"RefusedRetrEndsAtOnceAndKeepsTheLocalFile",
     [](auto& srv) { TypeAndPasv(srv); srv.Expect("retr x.bin").Reply("550 no such file\r\n"); },
     LocalFileAlone(true), kResultRefused, kRetr},
    {"RetrWithoutDataConnectionCreatesNoFile",
     [](auto& srv) { TypeAndPasv(srv); srv.Expect("retr x.bin").Reply("425 no data\r\n"); },
     LocalFileAlone(false), kResultFailed, kRetr},
    {"DiskFullFailsAndAborts",
     [](auto& srv) { TypeAndPasv(srv); Transfer(srv, "retr full", kData); srv.Expect("abor").Reply("225 nothing to abort\r\n"); },
     [](DialogueContext& c) { c.session.remoteSize = 3; return c.ctl.RetrieveFile("/dev", "full", 0); },
     kResultFailed, {"type i", "pasv", "retr full", "abor"}, "Failed to receive full."},
    {"UnsafeRemoteNameIsRefused", Replies({}),
     [](DialogueContext& c) { return c.ctl.RetrieveFile(c.dir.string(), "/pub/..", 0); }, kResultRefused, {}},
    {"ZeroLengthUploadSendsNothingAndSucceeds",
     [](auto& srv) { Replies({{"type a", "200 ascii\r\n"}})(srv); srv.Expect("pasv").Passive(); srv.Expect("stor /up/empty.txt").Reply("150 go\r\n").ReceiveData().Reply("226 ok\r\n"); },
     Upload("", "empty.txt"), kResultOk, {"type a", "pasv", "stor /up/empty.txt"}, "File empty.txt sent successfully."},
    {"UploadWaitsForTheDataConnectionNoLongerThanTheDeadline",
     [](auto& srv) {
         srv.Expect("type i").Reply("200 binary\r\n");
         srv.ExpectPrefix("port ").Active().Reply("200 port ok\r\n");
         Replies({{"stor /up/x.bin", "150 go\r\n"}, {"abor", "225 nothing to abort\r\n"}})(srv);
     },
     Within(1, Upload("abc", "x.bin")), kResultTimedOut, {"type i", "port", "stor /up/x.bin", "abor"},
     "Failed to send file x.bin.", false},
    {"BrokenListingIsNeitherCompleteNorCached",
     [](auto& srv) { srv.Expect("pasv").Passive(); Transfer(srv, "list", kListing, {.resetAfter = 10}); },
     [](DialogueContext& c) {
         c.session.currentDirectory = "/";
         int result = c.ctl.ListDir("", "", 0);
         EXPECT_EQ(CachedListPath(c.session.CommandSettings().cacheHomeDirectory, "127.0.0.1", "/"), "");
         return result;
     }, kResultFailed, {"pasv", "list"}, "Failed to receive file list."},
    {"EveryActiveTransferIsOfferedOnAFreshPort",
     [](auto& srv) { for (int i = 0; i < 2; ++i) { srv.ExpectPrefix("port 127,0,0,1,").Active().Reply("200 ok\r\n"); Transfer(srv, "list", ""); } },
     [](DialogueContext& c) {
         int result = c.ctl.ListDir("", "", 0) + c.ctl.ListDir("", "", 0);
         EXPECT_NE(c.server.Transcript()[2], c.server.Transcript()[4]);
         return result;
     }, kResultOk, {"port", "list", "port", "list"}, "", false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Transfers, DialogueTest, ::testing::ValuesIn(kTransfers), DialogueName);

TEST_F(FtpTest, ListingServesLaterMkdAndDownloads) {
    settings->defaultOverwriteAction = kAuto;
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    server.Expect("pasv").Passive();
    Transfer(server, "list", kListing);
    server.Expect("mkd a.txt").Reply("550 a file is in the way\r\n");
    server.Expect("type a").Reply("200 ascii\r\n");
    for (int i = 0; i < 2; ++i) {
        server.Expect("pasv").Passive();
        Transfer(server, "retr a.txt", "abc");
    }
    Connect();
    ASSERT_EQ(Control().ListDir("", "", kOptPrintDir), kResultOk) << observer.FormattedLog();
    const auto listings = observer.Snapshot().listings;
    ASSERT_EQ(listings.size(), 2u);
    ASSERT_EQ(listings[1].entries.size(), 2u);
    const int64_t listed = listings[1].entries[1].modified;
    EXPECT_EQ(Control().MakeDir("new", 0), kResultOk);
    EXPECT_TRUE(Logged("Directory new already exists. No need to create."));
    // A listed file of the name is no directory: MKD goes out.
    EXPECT_EQ(Control().MakeDir("a.txt", 0), kResultRefused);
    // Size and time of the download come from the listed entry.
    ASSERT_EQ(Control().RetrieveFile(scratch.string(), "a.txt", 0), kResultOk);
    EXPECT_EQ(session->fileSize, 3u);
    struct stat info {};
    ASSERT_EQ(stat((scratch / "a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, listed);

    // Not cached any more: the entry still comes from the last listing, kept parsed. A local
    // file older than it is downloaded afresh (without its time the sizes would resume it).
    DeleteCachedListing(settings->cacheHomeDirectory, "127.0.0.1", "/");
    session->listingText.clear();
    WriteFile(scratch / "a.txt", "a");
    const timespec older[2] = {{listed - 86400, 0}, {listed - 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "a.txt").c_str(), older, 0), 0);
    session->remoteSize = 3;
    EXPECT_EQ(Control().RetrieveFile(scratch.string(), "a.txt", 0), kResultOk);
    EXPECT_EQ(ReadFile(scratch / "a.txt"), "abc");
    EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
}

TEST_F(FtpTest, EveryTransferIsReportedStartedAndFinishedOnce) {
    TypeAndPasv(server);
    server
        .Expect("retr /pub/x.bin")  // no local file nor listing: the size comes from here
        .Reply("150 Opening data connection for x.bin (300000 bytes)\r\n")
        .SendData(kData, {.chunkSize = 70'000, .gap = 20ms})
        .Reply("226 done\r\n");
    server.Expect("pasv").Passive();
    server.Expect("stor /up/x.bin").Reply("150 go\r\n").ReceiveData().Reply("226 ok\r\n");
    Connect();
    session->currentItemId = 7;
    EXPECT_EQ(Control().RetrieveFile(scratch.string(), "/pub/x.bin", 0), kResultOk);
    EXPECT_EQ(Control().StoreFile((scratch / "x.bin").string(), "/up", 0), kResultOk);
    EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
    EXPECT_EQ(server.ReceivedData(), Lines{kData});

    // Started and finished in turn: direction, remote and local path, size, result, bytes.
    using Report = std::tuple<bool, int, std::string, std::string, int64_t, int, uint64_t>;
    std::vector<Report> reports;
    for (const auto& [finished, info, result, moved] : observer.Snapshot().transfers) {
        EXPECT_EQ(info.itemId, 7u);
        reports.emplace_back(finished, static_cast<int>(info.direction), info.remotePath,
                             info.localPath, info.size, result, moved);
    }
    const std::string local = (scratch / "x.bin").string();
    EXPECT_EQ(reports, (std::vector<Report>{{false, 0, "/pub/x.bin", local, -1, 0, 0},
                                            {true, 0, "/pub/x.bin", local, 300'000, 0, 300'000},
                                            {false, 1, "/up/x.bin", local, 300'000, 0, 0},
                                            {true, 1, "/up/x.bin", local, 300'000, 0, 300'000}}));
    EXPECT_FALSE(session->Progress().transferring);
}

TEST_F(FtpTest, OverwriteChoiceForAllIsRememberedPerCase) {
    settings->pOverwrite = true;
    observer.SetOverwriteAnswer({kSkip, true});
    Connect();
    for (const char* name : {"a.bin", "b.bin"}) {
        WriteFile(scratch / name, "local");
        session->remoteSize = 100;  // bigger than the local file (not cached)
        EXPECT_EQ(Control().RetrieveFile(scratch.string(), name, 0), kResultOk);
    }
    EXPECT_TRUE(Commands().empty());  // both skipped, nothing sent
    const ObserverRecord record = observer.Snapshot();
    // Suggested: the default action. Not cached, the remote time is unknown, so the sizes
    // decide as for equal times.
    ASSERT_EQ(record.overwriteQuestions.size(), 1u);
    EXPECT_EQ(std::tie(record.overwriteQuestions[0].suggested,
                       record.overwriteQuestions[0].autoAction, record.showSession),
              std::make_tuple(kOverwrite, kResume, 1));
}

}  // namespace
}  // namespace tarnwick::test
