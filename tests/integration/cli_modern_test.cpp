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
    EXPECT_EQ(ReadFile(down / "data.bin"), payload);
}

}  // namespace
}  // namespace tarnwick::test
