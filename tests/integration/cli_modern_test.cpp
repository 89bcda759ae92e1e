// tarnwick-cli with implicit TLS (ftps:// URLs, against vsftpd) and with non-ASCII names
// (against pyftpdlib, which announces UTF8).
#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "listing/text_utils.h"
#include "vsftpd_server.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

TEST_F(CliTest, FtpsUrlsListAndDownloadOverImplicitTls) {
    if (!VsftpdServer::Installed()) GTEST_SKIP() << "vsftpd is not installed";
    VsftpdServer server(VsftpdServer::Mode::kImplicitTls);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string payload = Pattern(70001);
    WriteFile(server.Root() / "data.bin", payload);
    const std::string url =
        "FTPS://127.0.0.1:" + std::to_string(server.Port()) + server.Root().string();

    CliResult listed = Run({"--insecure", "-v", "ls", url + "/"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("70001\t"), std::string::npos) << listed.out;
    // TLS from the first byte: the greeting comes after the handshake, no AUTH is sent.
    EXPECT_LT(listed.err.find("TLS connection established"), listed.err.find("220")) << listed.err;
    EXPECT_EQ(ToLowerAscii(listed.err).find("command:>\tauth"), std::string::npos) << listed.err;

    const fs::path down = scratch / "down";
    fs::create_directories(down);
    CliResult got = Run({"--insecure", "get", url + "/data.bin", down.string()});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_TRUE(ReadFile(down / "data.bin") == payload);
}

// A UTF-8 name keeps its bytes through upload, listing and download, whether the listing
// comes from MLSD or from LIST. The URL writes the space as an escape.
class CliUtf8Test : public CliTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CliUtf8Test, NonAsciiNamesRoundTrip) {
    const std::string name =
        "Gr\xc3\xbc\xc3\x9f"
        "e \xe2\x82\xac.txt";
    RealFtpServer server("127.0.0.1", {}, GetParam());
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string url = std::string("ftp://") + RealFtpServer::kUser + ":" +
                            RealFtpServer::kPassword +
                            "@127.0.0.1:" + std::to_string(server.Port()) + "/";
    WriteSettings("TextFileExtension=none\n");  // every file in binary: bytes compare
    const std::string payload = Pattern(5000);
    WriteFile(scratch / name, payload);

    CliResult put = Run({"put", (scratch / name).string(), url});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_TRUE(ReadFile(server.Root() / name) == payload);
    CliResult listed = Run({"-v", "ls", url});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("\t" + name), std::string::npos) << listed.out;
    // pyftpdlib announces UTF8 but refuses OPTS UTF8 ON: logged, not a failure.
    EXPECT_NE(listed.err.find("The server refused UTF-8 names"), std::string::npos) << listed.err;
    EXPECT_NE(listed.err.find(GetParam() ? "Command:>\tmlsd" : "Command:>\tlist"),
              std::string::npos)
        << listed.err;
    const fs::path down = scratch / "down";
    fs::create_directories(down);
    CliResult got = Run({"get",
                         url + "Gr\xc3\xbc\xc3\x9f"
                               "e%20\xe2\x82\xac.txt",
                         down.string()});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_TRUE(ReadFile(down / name) == payload);
}

INSTANTIATE_TEST_SUITE_P(Listings, CliUtf8Test, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Mlsd" : "List"; });

// A URL without a password: .netrc (private to its owner), then TARNWICK_PASSWORD. The
// server accepts tarnwick/secret only; "-v" shows who logged in.
TEST_F(CliTest, MissingPasswordsComeFromNetrcThenTheEnvironment) {
    RealFtpServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string m = "machine 127.0.0.1 ", good = m + "login tarnwick password secret\n";
    const std::string wrong = m + "login tarnwick password no\n";
    struct Case {
        std::string netrc;
        bool othersMayRead;               // then the file is not used and the login fails
        const char* login;                // of the URL
        const char* environmentPassword;  // unset when null
        const char* shown;
    } cases[] = {
        {good, false, "tarnwick@", nullptr, "230 Login"},
        {good, true, "tarnwick@", nullptr, "may be read or changed by group or others; not using"},
        {"machine x login a password b\ndefault login tarnwick password secret", false, "", nullptr,
         "user tarnwick"},
        {"macdef i\n" + wrong + "\n" + m + "login tarnwick password \"se\\cret\"", false,
         "tarnwick@", nullptr, "230 Login"},
        {m + "login other password no\n", false, "tarnwick@", "secret", "230 Login"},
        {m + "password secret\n", false, "tarnwick@", "wrong", "230 Login"},
        {wrong, false, "tarnwick:secret@", "wrong", "230 Login"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.netrc);
        fs::remove(scratch / ".netrc");
        WriteFile(scratch / ".netrc", c.netrc);
        fs::permissions(scratch / ".netrc", c.othersMayRead
                                                ? fs::perms::owner_read | fs::perms::others_read
                                                : fs::perms::owner_read);
        std::vector<std::string> env;
        if (c.environmentPassword)
            env.push_back(std::string("TARNWICK_PASSWORD=") + c.environmentPassword);
        CliResult result = Run(
            {"-v", "--retries", "0", "ls",
             "ftp://" + std::string(c.login) + "127.0.0.1:" + std::to_string(server.Port()) + "/"},
            env);
        EXPECT_EQ(result.status == 0, !c.othersMayRead) << result.err;
        EXPECT_NE(result.err.find(c.shown), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace tarnwick::test
