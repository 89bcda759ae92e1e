// tarnwick-cli with the graphical client's data: the site file of the program home (sites,
// --site, credentials by host address) and the settings file.
#include <gtest/gtest.h>

#include "cli_fixture.h"

namespace tarnwick::test {
namespace {

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
        bool siteForHost;               // site.dat names the server's address
        std::vector<std::string> args;  // "PORT" becomes the server's port
        std::string user;
        std::string password;
    };
    const std::vector<Case> cases = {
        {true, {"ls", "ftp://127.0.0.1:PORT/pub/"}, "u", "p"},     // the site of the host
        {true, {"--site", "LOCAL", "ls", "pub"}, "u", "p"},        // by name, any case
        {true, {"ls", "ftp://u@127.0.0.1:PORT/pub"}, "u", "p"},    // the site's password
        {true, {"ls", "ftp://x:y@127.0.0.1:PORT/pub"}, "x", "y"},  // the URL first
        {true, {"ls", "ftp://x@127.0.0.1:PORT/pub"}, "x", ""},     // another user: none
        {true, {"--user", "x", "--password", "y", "ls", "ftp://127.0.0.1:PORT/pub"}, "x", "y"},
        {false, {"ls", "ftp://127.0.0.1:PORT/pub"}, "anonymous", "cli@example.org"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
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

}  // namespace
}  // namespace tarnwick::test
