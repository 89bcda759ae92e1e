// tarnwick-cli over explicit TLS (AUTH TLS): against pyftpdlib's TLS handler with a
// self-signed certificate made for the test, against a plain server, and against vsftpd
// (which insists that data connections resume the control connection's TLS session).
#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "listing/text_utils.h"
#include "loopback_socket.h"
#include "proftpd_server.h"
#include "test_certificate.h"
#include "vsftpd_server.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Lowered(std::string_view text) {
    return ToLowerAscii(text);
}

class CliTlsTest : public CliTest {
protected:
    std::string Url(uint16_t port, const std::string& path) const {
        return std::string("ftpes://") + RealFtpServer::kUser + ":" + RealFtpServer::kPassword +
               "@127.0.0.1:" + std::to_string(port) + path;
    }
    fs::path certificate = MakeCertificate(scratch);
};

TEST_F(CliTlsTest, ListsDownloadsAndUploadsOverTlsWithInsecure) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", certificate);
    ASSERT_TRUE(server.Running()) << server.Error();
    // Several TLS records, and a size that is no multiple of a record.
    std::string payload(300001, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
    WriteFile(server.Root() / "data.bin", payload);

    CliResult listed = Run({"--insecure", "-v", "ls", Url(server.Port(), "/")});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("300001\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.err.find("TLS connection established: TLSv1."), std::string::npos);
    EXPECT_NE(Lowered(listed.err).find("prot p"), std::string::npos) << listed.err;

    const fs::path down = scratch / "down";
    fs::create_directories(down);
    CliResult got = Run({"--insecure", "get", Url(server.Port(), "/data.bin"), down.string()});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(ReadFile(down / "data.bin"), payload);

    // An upload ends with close_notify: the server must have every byte.
    const fs::path up = scratch / "up.bin";
    WriteFile(up, payload);
    CliResult put = Run({"--insecure", "put", up.string(), Url(server.Port(), "/")});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(ReadFile(server.Root() / "up.bin"), payload);
}

TEST_F(CliTlsTest, RefusedTlsOrUntrustedCertificateEndsWith6BeforeTheLogin) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    RealFtpServer tls("127.0.0.1", certificate);
    RealFtpServer plain;
    ASSERT_TRUE(tls.Running()) << tls.Error();
    ASSERT_TRUE(plain.Running()) << plain.Error();
    const std::string plainUrl = "ftp://u:p@127.0.0.1:" + std::to_string(plain.Port()) + "/";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-v", "ls", Url(tls.Port(), "/")},
         "certificate of 127.0.0.1 not trusted: self-signed certificate"},
        {{"-v", "--tls", "ls", plainUrl}, "auth tls"},
    };
    for (const Case& c : cases) {
        CliResult result = Run(c.args);
        EXPECT_EQ(result.status, 6) << c.args.back() << "\n" << result.err;
        const std::string err = Lowered(result.err);
        EXPECT_NE(err.find(Lowered(c.message)), std::string::npos) << result.err;
        EXPECT_EQ(err.find("user "), std::string::npos) << "login sent:\n" << result.err;
        EXPECT_EQ(err.find("pass "), std::string::npos) << "login sent:\n" << result.err;
    }
}

// vsftpd with ssl_enable=YES refuses a data connection that does not resume the control
// connection's TLS session (require_ssl_reuse=YES, its default).
TEST_F(CliTlsTest, DataConnectionsResumeTheControlSessionForVsftpd) {
    if (!VsftpdServer::Installed()) GTEST_SKIP() << "vsftpd is not installed";
    VsftpdServer server(VsftpdServer::Mode::kExplicitTls);
    ASSERT_TRUE(server.Running()) << server.Error();
    WriteFile(server.Root() / "hello.txt", "hello over TLS\n");
    const fs::path down = scratch / "down";
    fs::create_directories(down);
    const std::string url = "ftpes://127.0.0.1:" + std::to_string(server.Port());
    CliResult got = Run(
        {"--insecure", "-v", "get", url + (server.Root() / "hello.txt").string(), down.string()});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(ReadFile(down / "hello.txt"), "hello over TLS\n");
    EXPECT_NE(got.err.find("session resumed"), std::string::npos) << got.err;
}

// ProFTPD's mod_tls, with its default TLSOptions, refuses a data connection that does not
// resume the control connection's TLS session too; it reads the PROT level as RFC 2228
// writes it.
TEST_F(CliTlsTest, UploadsListsAndDownloadsOverTlsWithProftpd) {
    if (!ProftpdServer::Installed()) GTEST_SKIP() << "ProFTPD with mod_tls is not installed";
    ProftpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string payload = Pattern(300001);
    const fs::path up = scratch / "up.bin", down = scratch / "down";
    WriteFile(up, payload);
    fs::create_directories(down);
    const std::string dir = Url(server.Port(), server.Root().string() + "/");

    CliResult put = Run({"--insecure", "-v", "put", up.string(), dir});
    ASSERT_EQ(put.status, 0) << put.err << server.Log();
    EXPECT_EQ(ReadFile(server.Root() / "up.bin"), payload);
    CliResult listed = Run({"--insecure", "ls", dir});
    ASSERT_EQ(listed.status, 0) << listed.err << server.Log();
    EXPECT_NE(listed.out.find("-\t300001\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\tup.bin\n"), std::string::npos) << listed.out;
    CliResult got = Run({"--insecure", "-v", "get", dir + "up.bin", down.string()});
    ASSERT_EQ(got.status, 0) << got.err << server.Log();
    EXPECT_EQ(ReadFile(down / "up.bin"), payload);
    for (const CliResult* run : {&put, &got}) {
        EXPECT_NE(run->err.find("session resumed"), std::string::npos) << run->err;
    }
}

}  // namespace
}  // namespace tarnwick::test
