// tarnwick-cli end to end: the binary as a child process against the scripted server (exact
// dialogues, faults) and a real FTP server (files on its disk).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "cli_fixture.h"
#include "loopback_socket.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- bad usage ----

TEST_F(CliTest, BadUsageExitsWith64AndOneLineOnStderr) {
    const std::string nowhere = "ftp://127.0.0.1:" + std::to_string(RefusingPort());
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", nowhere + "/"},
        {"--frobnicate", "ls", nowhere + "/"},
        {"ls"},
        {"ls", "not a url"},
        {"ls", "http://127.0.0.1/"},
        {"--retries", "many", "ls", nowhere + "/"},
        {"--overwrite", "sometimes", "ls", nowhere + "/"},
        {"rename", nowhere + "/a"},
        {"put", (scratch / "no-such-file").string(), nowhere + "/"},
        {"queue", "frob", "x.que"},
        {"queue", "show", (scratch / "no-such.que").string()},
        {"--regex", "ls", nowhere + "/"},
        {"--site", "s", "sites"},
        {"--site", "no-such-site", "ls", "/"},
        {"search", "--regex", "a("},
    };
    for (const auto& args : cases) {
        const CliResult result = Run(args);
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(result.status, 64) << result.err;
        EXPECT_EQ(Lines(result.err).size(), 1u) << result.err;
        EXPECT_TRUE(result.err.starts_with("tarnwick-cli: ")) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(CliTest, ConnectingGivesUpAfterTheRetries) {
    const std::string url = "ftp://127.0.0.1:" + std::to_string(RefusingPort()) + "/f";
    const CliResult result = Run({"--retries", "1", "--retry-delay", "0", "get", url});
    EXPECT_EQ(result.status, 5) << result.err;
    EXPECT_TRUE(HasLineStartingWith(result.err, "Error:>\t\tMax errors reached, stop."));
    EXPECT_FALSE(fs::exists(scratch / "f"));
}

// ---- scripted dialogues ----

// The scripted server's URL for `path`, with the login ScriptLogin expects.
std::string UrlOf(const ScriptedFtpServer& server, const std::string& path) {
    return "ftp://u:p@127.0.0.1:" + std::to_string(server.Port()) + path;
}

// Log-in into `dir` and, with no local file in the way, straight to RETR f.bin (no listing)
// up to the server's 150, which announces `size`; the caller scripts how the data comes.
ScriptStep ScriptDownloadOfOneFile(ScriptedFtpServer& server, const std::string& dir, size_t size) {
    ScriptLogin(server, dir);
    server.Expect("type i").Reply("200 binary\r\n");
    server.Expect("pasv").Passive();
    return server.Expect("retr f.bin")
        .Reply("150 sending f.bin (" + std::to_string(size) + " bytes)\r\n");
}

TEST_F(CliTest, LsPrintsOneTabSeparatedLinePerEntry) {
    const std::string listing =
        "total 3\r\n"
        "drwxr-xr-x 2 ftp ftp 4096 Jan 02 2020 sub\r\n"
        "-rw-r--r-- 1 ftp ftp 5000000000 Feb 29 2020 big.iso\r\n"
        "lrwxrwxrwx 1 ftp ftp 7 Dec 31 1999 link -> target\r\n"
        "03-15-21  04:05PM       1234 dos.txt\r\n"
        "-rw-r--r-- 1 ftp ftp 1 Mar 01 2020 \x1b[2Jescape\r\n";
    ScriptedFtpServer server;
    ScriptLogin(server, "/pub");
    // One listing: the session starts in the directory, and its start-up listing is the answer.
    server.Expect("pasv").Passive();
    server.Expect("list").Reply("150 here\r\n").SendData(listing).Reply("226 done\r\n");
    server.Expect("quit").Reply("221 bye\r\n");

    const CliResult result = Run({"ls", UrlOf(server, "/pub/")}, {"TZ=UTC"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "d\t4096\t2020-01-02 00:00\tsub\n"
              "-\t5000000000\t2020-02-29 00:00\tbig.iso\n"
              "d\t7\t1999-12-31 00:00\tlink\n"  // a link may be entered
              "-\t1234\t2021-03-15 16:05\tdos.txt\n"
              "-\t1\t2020-03-01 00:00\t?[2Jescape\n");  // no escape reaches a terminal
    EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
}

// The same stalled listing, once with -v and once without: the whole log with the pane's
// prefixes, or its error lines only; a timeout is status 3 and no QUIT is tried after it.
TEST_F(CliTest, VerboseLogHasThePanePrefixesAndErrorsShowWithoutIt) {
    for (const bool verbose : {true, false}) {
        SCOPED_TRACE(verbose ? "-v" : "plain");
        ScriptedFtpServer server;
        ScriptLogin(server, "/pub");
        server.Expect("pasv").Passive("127.0.0.2");  // a warning: not the server's address
        server.Expect("list").Reply("150 here\r\n").SendData("partial", {.stall = true}).Stall();

        std::vector<std::string> args{"--timeout", "1", "ls", UrlOf(server, "/pub")};
        if (verbose) args.insert(args.begin(), "-v");
        const CliResult result = Run(args);
        EXPECT_EQ(result.status, 3) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(HasLineStartingWith(result.err, "Error:>\t\tOperation timed out"));
        for (const char* line : {"State:>\t\tConnecting to 127.0.0.1", "Command:>\tuser u",
                                 "Command:>\tpass *", "Reply:>\t331 password", "Warning:>\t"}) {
            EXPECT_EQ(HasLineStartingWith(result.err, line), verbose) << line;
        }
        EXPECT_EQ(result.err.find("pass p\n"), std::string::npos);
        EXPECT_EQ(std::ranges::count(server.Transcript(), "quit"), 0);
    }
}

// Ctrl-C, SIGTERM and SIGHUP all stop a stalled download the GUI's way (ABOR) and end the
// client with status 2, keeping the part received for a resume.
TEST_F(CliTest, InterruptionsStopATransferAndKeepThePart) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        fs::remove(scratch / "f.bin");
        ScriptedFtpServer server;
        ScriptDownloadOfOneFile(server, "/pub", 100'000).SendData(Pattern(1000), {.stall = true});
        server.Expect("abor").Reply("426 broken\r\n226 aborted\r\n");

        const std::string url = UrlOf(server, "/pub/f.bin");
        CliProcess cli(Args({"--timeout", "20", "get", url, scratch.string()}), scratch,
                       Environment());
        ASSERT_TRUE(cli.Started());
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::exists(scratch / "f.bin") || fs::file_size(scratch / "f.bin") < 1000) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the download never started";
            std::this_thread::sleep_for(20ms);
        }
        cli.Signal(signal);
        const CliResult result = cli.Wait(10s);
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_TRUE(HasLineStartingWith(result.err, "Error:>\t\tInterrupted by user"));
        EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
        EXPECT_EQ(ReadFile(scratch / "f.bin"), Pattern(1000));
    }
}

// A single file gets the per-file retries of a queue run: the transfer breaks at 40 %, and the
// retry resumes from the bytes kept. (The data connection ends in order: a reset would let the
// client's system drop bytes it had not read yet, and with nothing kept there is nothing to
// resume.)
TEST_F(CliTest, ABrokenDownloadIsRetried) {
    const std::string data = Pattern(100'000);
    ScriptedFtpServer server;
    ScriptDownloadOfOneFile(server, "/pub", data.size())
        .SendData(data.substr(0, 40'000))
        .Reply("426 broken\r\n");
    // The size the first answer announced settles the resume: no listing.
    server.Expect("pasv").Passive();
    server.Expect("rest 40000").Reply("350 restarting\r\n");
    server.Expect("retr f.bin")
        .Reply("150 sending\r\n")
        .SendData(data.substr(40'000))
        .Reply("226 done\r\n");
    server.Expect("quit").Reply("221 bye\r\n");

    const CliResult result = Run({"--overwrite", "resume", "--retries", "2", "--retry-delay", "1",
                                  "get", UrlOf(server, "/pub/f.bin"), scratch.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
    EXPECT_TRUE(ReadFile(scratch / "f.bin") == data);
}

// ---- a real server's disk ----

TEST_P(CliRealServerTest, OverwriteOptionAnswersForAnExistingFile) {
    const std::string data = Pattern(300'000);
    WriteFile(real.Root() / "f.bin", data);
    const fs::path local = scratch / "f.bin";
    const std::string url = Url("/f.bin");
    // A partial file whose bytes differ from the server's: a resume keeps them.
    const std::string partial(100'000, 'A');
    WriteFile(local, partial);

    EXPECT_EQ(RunMode({"--overwrite", "skip", "get", url, scratch.string()}).status, 0);
    EXPECT_EQ(ReadFile(local), partial);
    EXPECT_EQ(RunMode({"--overwrite", "resume", "get", url, scratch.string()}).status, 0);
    EXPECT_EQ(ReadFile(local), partial + data.substr(100'000));
    WriteFile(local, "something else entirely");
    EXPECT_EQ(RunMode({"--overwrite", "overwrite", "get", url, scratch.string()}).status, 0);
    EXPECT_EQ(ReadFile(local), data);
}

TEST_P(CliRealServerTest, RemoteCommandsChangeTheServersDiskOrFailWithItsWord) {
    WriteFile(real.Root() / "old.txt", "text");
    WriteFile(scratch / "up.txt", "data");
    const fs::path& root = real.Root();

    EXPECT_EQ(RunMode({"mkdir", Url("/made/")}).status, 0);
    EXPECT_TRUE(fs::is_directory(root / "made"));
    EXPECT_EQ(RunMode({"rename", Url("/old.txt"), "new.txt"}).status, 0);
    EXPECT_FALSE(fs::exists(root / "old.txt"));
    EXPECT_EQ(ReadFile(root / "new.txt"), "text");
    EXPECT_EQ(RunMode({"rename", Url("/new.txt"), "/made/moved.txt"}).status, 0);
    EXPECT_TRUE(fs::exists(root / "made" / "moved.txt"));
    EXPECT_EQ(RunMode({"rm", Url("/made/moved.txt")}).status, 0);
    EXPECT_FALSE(fs::exists(root / "made" / "moved.txt"));
    CliResult result = RunMode({"rmdir", Url("/made")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(root / "made"));

    // Refused and missing files fail with the server's word. Anonymous users may only read.
    result = RunMode({"put", (scratch / "up.txt").string(), Url("/", true)});
    EXPECT_EQ(result.status, 6) << result.err;
    EXPECT_NE(result.err.find("550"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "up.txt"));
    result = RunMode({"ls", Url("/no/such/dir/")});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Modes, CliRealServerTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

}  // namespace
}  // namespace tarnwick::test
