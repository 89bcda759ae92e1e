// tarnwick-cli with the graphical client's data: the site file of the program home (sites,
// --site, credentials by host address), the settings file, and queue show.
#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "queue/queue_file.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using CliSitesTest = CliTest;

TEST_F(CliSitesTest, SitesListsTheSiteFileButNoPassword) {
    SiteSetting mirror = Site("Mirror", "ftp.example.org", 2121, "bob", "hunter2", kLoginNormal);
    mirror.passive = 1;
    SiteSetting odd = Site("odd\x1b[2J", "10.0.0.1", 21, "anonymous", "", kLoginAnonymous);
    WriteSites({mirror, odd});

    const CliResult result = Run({"sites"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "Mirror\tftp.example.org\t2121\tbob\tnormal\tpassive\n"
              "odd?[2J\t10.0.0.1\t21\tanonymous\tanonymous\tactive\n");
    EXPECT_EQ(result.out.find("hunter2"), std::string::npos);
    EXPECT_EQ(result.err, "");
}

// Whose login the server sees, for each way of naming the credentials; the anonymous
// password comes from the graphical client's settings file, which the client never writes.
TEST_F(CliSitesTest, CredentialsComeFromTheUrlTheOptionsTheSiteFileOrAnonymous) {
    WriteSettings("AnonymousPass=cli@example.org\n");
    const std::string settings = ReadFile(SettingsFile());

    struct Case {
        std::string name;
        bool siteForHost;               // site.dat names the server's address
        std::vector<std::string> args;  // "URL" becomes the server's URL, "PORT" its port
        std::string user;
        std::string password;
    };
    const std::vector<Case> cases = {
        {"site of the host", true, {"ls", "ftp://127.0.0.1:PORT/pub/"}, "u", "p"},
        {"site by name (any case), relative path",
         true,
         {"--site", "LOCAL", "ls", "pub"},
         "u",
         "p"},
        {"the site's password for its user", true, {"ls", "ftp://u@127.0.0.1:PORT/pub"}, "u", "p"},
        {"URL before site", true, {"ls", "ftp://x:y@127.0.0.1:PORT/pub"}, "x", "y"},
        {"options before site",
         true,
         {"--user", "x", "--password", "y", "ls", "ftp://127.0.0.1:PORT/pub"},
         "x",
         "y"},
        {"another user has no password", true, {"ls", "ftp://x@127.0.0.1:PORT/pub"}, "x", ""},
        {"anonymous", false, {"ls", "ftp://127.0.0.1:PORT/pub"}, "anonymous", "cli@example.org"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server;
        const std::string port = std::to_string(server.Port());
        std::vector<SiteSetting> sites{Site("other", "127.0.0.2", 21, "z", "zz", kLoginNormal)};
        if (c.siteForHost) {
            SiteSetting local = Site("local", "127.0.0.1", server.Port(), "u", "p", kLoginNormal);
            local.defremotedir = "/";
            local.passive = 1;
            sites.push_back(local);
        }
        WriteSites(sites);
        ScriptLogin(server, "/pub", c.user, c.password);
        server.Expect("pasv").Passive();
        server.Expect("list").Reply("150 here\r\n").SendData("").Reply("226 done\r\n");
        server.Expect("quit").Reply("221 bye\r\n");

        std::vector<std::string> args = c.args;
        for (std::string& arg : args) {
            if (const size_t at = arg.find("PORT"); at != std::string::npos) {
                arg.replace(at, 4, port);
            }
        }
        const CliResult result = Run(args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(server.WaitDone(5s)) << ::testing::PrintToString(server.Failures());
    }
    EXPECT_EQ(ReadFile(SettingsFile()), settings);
}

TEST_F(CliSitesTest, QueueShowPrintsEveryItemOfEverySection) {
    const auto item = [](QueueOperation operation, std::string client, std::string server,
                         int64_t size, QueueItemKind kind) {
        return MakeQueueItem(operation, std::move(client), std::move(server), size, kind);
    };
    const std::vector<QueueSection> sections = {
        {"ftp.example.org",
         {item(QueueOperation::kDownload, "/home/me", "/pub/big.iso", 5'000'000'000,
               QueueItemKind::kFile),
          item(QueueOperation::kDelete, "", "/pub/old", kUnknownSize, QueueItemKind::kDirectory)}},
        {"10.0.0.1",
         {item(QueueOperation::kUpload, "/home/me/site", "/www", kUnknownSize,
               QueueItemKind::kDirectoryContents),
          item(QueueOperation::kCacheDir, "", "/", 0, QueueItemKind::kDirectory)}},
    };
    const fs::path file = scratch / "saved.que";
    ASSERT_EQ(SaveQueues(file.string(), sections).write, AtomicWriteResult::kWritten);

    const CliResult result = Run({"queue", "show", file.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "ftp.example.org\tDownload\tfile\t/pub/big.iso\t/home/me\t5000000000\n"
              "ftp.example.org\tDelete\tdirectory\t/pub/old\t\tunknown\n"
              "10.0.0.1\tUpload\tcontents\t/www\t/home/me/site\tunknown\n"
              "10.0.0.1\tCacheDir\tdirectory\t/\t\t0\n");
}

}  // namespace
}  // namespace tarnwick::test
