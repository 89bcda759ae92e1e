// tarnwick-cli over TLS: explicit (AUTH TLS) against pyftpdlib's TLS handler and ProFTPD,
// implicit (ftps:// URLs) against vsftpd, each on a self-signed certificate made for the test;
// TLS data connections in active mode and cut without close_notify; and how the client decides
// on a server certificate: a pinned fingerprint, extra trust anchors (--ca-file, with the
// host's IP address still checked), and the certificates the graphical client remembered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

#include "cli_fixture.h"
#include "listing/text_utils.h"
#include "loopback_socket.h"
#include "proftpd_server.h"
#include "recording_observer.h"
#include "session/ftp_session.h"
#include "session/trust_store.h"
#include "test_certificate.h"
#include "vsftpd_server.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class CliTlsTest : public CliTest {
protected:
    std::string Url(uint16_t port, const std::string& path = "/") const {
        return std::string("ftpes://") + RealFtpServer::kUser + ":" + RealFtpServer::kPassword +
               "@127.0.0.1:" + std::to_string(port) + path;
    }
    // Lists and downloads a file of several TLS records (and no multiple of one) written into
    // `root`, which the server serves as the URL `dir` (ending in "/"), then uploads it back
    // when `writable`; the bytes must match each way. Returns the -v logs of the runs.
    std::vector<std::string> RoundTrip(const fs::path& root, const std::string& dir,
                                       bool writable) {
        const std::string payload = Pattern(300001);
        WriteFile(root / "data.bin", payload);
        WriteFile(scratch / "up.bin", payload);
        fs::create_directories(scratch / "down");
        std::vector<std::vector<std::string>> runs = {
            {"ls", dir}, {"get", dir + "data.bin", (scratch / "down").string()}};
        if (writable) runs.push_back({"put", (scratch / "up.bin").string(), dir});
        std::vector<std::string> logs;
        for (std::vector<std::string>& args : runs) {
            args.insert(args.begin(), {"--insecure", "-v"});
            const CliResult result = Run(args);
            EXPECT_EQ(result.status, 0) << result.err;
            logs.push_back(result.err);
            if (logs.size() == 1) {
                EXPECT_NE(result.out.find("-\t300001\t"), std::string::npos) << result.out;
            }
        }
        EXPECT_TRUE(ReadFile(scratch / "down" / "data.bin") == payload);
        // An upload ends with close_notify: the server must have every byte.
        EXPECT_TRUE(!writable || ReadFile(root / "up.bin") == payload);
        return logs;
    }
    fs::path certificate = MakeCertificate(scratch);
};

// pyftpdlib connects in active mode on PORT and drops a data connection that sends its hello
// before the listing command has come: every active run must list too.
TEST_F(CliTlsTest, ListsDownloadsAndUploadsOverTlsWithInsecure) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", certificate);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string log = RoundTrip(server.Root(), Url(server.Port()), true)[0];
    EXPECT_NE(log.find("TLS connection established: TLSv1."), std::string::npos);
    EXPECT_NE(ToLowerAscii(log).find("prot p"), std::string::npos) << log;
    for (int run = 0; run < 20; ++run) {
        CliResult listed = Run({"--insecure", "--active", "ls", Url(server.Port())});
        ASSERT_EQ(listed.status, 0) << "run " << run << "\n" << listed.err;
        ASSERT_NE(listed.out.find("data.bin"), std::string::npos) << listed.out;
    }
}

// ProFTPD's mod_tls, with its default TLSOptions, refuses a data connection that does not
// resume the control connection's TLS session (as vsftpd does); it reads the PROT level as
// RFC 2228 writes it.
TEST_F(CliTlsTest, DataConnectionsResumeTheControlSessionForProftpd) {
    if (!ProftpdServer::Installed()) GTEST_SKIP() << "ProFTPD with mod_tls is not installed";
    ProftpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const auto logs =
        RoundTrip(server.Root(), Url(server.Port(), server.Root().string() + "/"), true);
    for (const std::string& log : {logs.at(1), logs.at(2)}) {  // the get and the put
        EXPECT_NE(log.find("session resumed"), std::string::npos) << log << server.Log();
    }
}

// vsftpd, serving anonymous users read only, also insists on resumed data sessions.
TEST_F(CliTlsTest, FtpsUrlsListAndDownloadOverImplicitTls) {
    if (!VsftpdServer::Installed()) GTEST_SKIP() << "vsftpd is not installed";
    VsftpdServer server(VsftpdServer::Mode::kImplicitTls);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string dir =
        "FTPS://127.0.0.1:" + std::to_string(server.Port()) + server.Root().string() + "/";
    const std::string log = RoundTrip(server.Root(), dir, false)[0];
    // TLS from the first byte: the greeting comes after the handshake, no AUTH is sent.
    EXPECT_LT(log.find("TLS connection established"), log.find("220")) << log;
    EXPECT_EQ(ToLowerAscii(log).find("command:>\tauth"), std::string::npos) << log;
}

// A minimal FTPS server: passive data over TLS, RETR sends part of a file, then ends the TCP
// stream without close_notify and still reports success.
constexpr const char* kCuttingServer = R"py(import socket, ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); ctx.load_cert_chain(sys.argv[1])
lst = socket.socket(fileno=3); lst.setblocking(True); c, _ = lst.accept()
f = c.makefile("rwb", 0)
say = lambda t: f.write((t + "\r\n").encode())
say("220 ready")
while True:
    line = f.readline().decode().strip(); verb = line.split(" ")[0].upper()
    if not line or verb == "QUIT": break
    if verb == "AUTH":
        say("234 go"); c = ctx.wrap_socket(c, server_side=True); f = c.makefile("rwb", 0)
    elif verb in ("PBSZ", "PROT", "TYPE"): say("200 ok")
    elif verb == "USER": say("230 in")
    elif verb == "PWD": say('257 "/"')
    elif verb == "PASV":
        d = socket.create_server(("127.0.0.1", 0)); p = d.getsockname()[1]
        say("227 ok (127,0,0,1,%d,%d)" % (p // 256, p % 256))
    elif verb == "RETR":
        say("150 here"); s = ctx.wrap_socket(d.accept()[0], server_side=True)
        s.sendall(b"y" * 100000); s.close(); say("226 done")
    else: say("502 no")
)py";

TEST_F(CliTlsTest, DownloadCutWithoutCloseNotifyFails) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    UniqueFd listener = ListenLoopback("127.0.0.1");
    const uint16_t port = LocalPort(listener.Get());
    const pid_t pid = fork();
    if (pid == 0) {
        // Descriptor 3 for the server; dup2 onto itself would keep close-on-exec.
        if (listener.Get() == 3) fcntl(3, F_SETFD, 0);
        if (listener.Get() != 3) dup2(listener.Get(), 3);
        execl("/usr/bin/python3", "python3", "-c", kCuttingServer, certificate.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    listener.Reset();
    CliResult got =
        Run({"-v", "--insecure", "--retries", "0", "get",
             "ftpes://u:p@127.0.0.1:" + std::to_string(port) + "/big.bin", scratch.string()});
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(got.status, 1) << got.err;  // a failed transfer, not a failed login
    // The server said the transfer was complete; the client did not take its word.
    EXPECT_NE(got.err.find("226 done"), std::string::npos) << got.err;
}

// Every refusal ends with status 6 (64 for a malformed pin) before any login is sent.
TEST_F(CliTlsTest, PinCaFileAndRememberedCertificatesDecideBeforeTheLogin) {
    // Self-signed, CN=localhost like `certificate`, but without the 127.0.0.1 address entry.
    const fs::path nameOnly = MakeCertificate(scratch, "other", "DNS:localhost");
    ASSERT_FALSE(certificate.empty() || nameOnly.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", certificate), other("127.0.0.1", nameOnly), plain;
    ASSERT_TRUE(server.Running() && other.Running() && plain.Running())
        << server.Error() << other.Error() << plain.Error();
    WriteFile(server.Root() / "listed.txt", "x");
    const std::string good = CertificateFingerprint(certificate);
    const std::string wrong = CertificateFingerprint(nameOnly);
    // Lower case without colons is the same pin.
    std::string bare = ToLowerAscii(good);
    std::erase(bare, ':');
    const std::string crt = (scratch / "server.crt").string();
    const std::string missing = (scratch / "missing.crt").string();
    const std::string remembered = "127.0.0.1:" + std::to_string(server.Port()) + " ";
    const std::string url = Url(server.Port()), otherUrl = Url(other.Port());
    const std::string plainUrl = "ftp://u:p@127.0.0.1:" + std::to_string(plain.Port()) + "/";

    struct Case {
        const char* what;
        std::vector<std::string> options;  // the last one is the URL
        std::string certificates;          // certificates.dat of the program home; none when empty
        int status;
        std::string message;  // in stderr
    } cases[] = {
        // clang-format off
        {"nothing trusts it", {url}, "", 6, "certificate of 127.0.0.1 not trusted: self-signed certificate"},
        {"plain server", {"--tls", plainUrl}, "", 6, "auth tls"},
        {"matching pin", {"--trust-fingerprint", bare, url}, "", 0, ""},
        {"pin of another certificate", {"--trust-fingerprint", wrong, url}, "", 6,
         "certificate of 127.0.0.1 not trusted: fingerprint mismatch"},
        {"a pin wins over a certificate that verifies", {"--ca-file", crt, "--trust-fingerprint", wrong, url}, "", 6,
         "fingerprint mismatch"},
        {"ca file with the server's certificate", {"--ca-file", crt, url}, "", 0, ""},
        {"ca file, but no entry for the address", {"--ca-file", (scratch / "other.crt").string(), otherUrl}, "", 6,
         "certificate of 127.0.0.1 not trusted: ip address mismatch"},
        {"unreadable ca file", {"--ca-file", missing, url}, "", 6, "cannot read the trusted certificates of " + missing},
        {"remembered certificate", {url}, remembered + good + "\n", 0, ""},
        {"changed certificate", {"--insecure", url}, "example.org:21 " + good + "\n" + remembered + wrong + "\n", 6,
         "certificate of 127.0.0.1 has changed: remembered " + wrong + ", offered " + good},
        {"pin too short", {"--trust-fingerprint", bare.substr(2), url}, "", 64, "64 hex digits"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(home / kTrustStoreFileName);
        if (!c.certificates.empty()) {
            fs::create_directories(home);
            WriteFile(home / kTrustStoreFileName, c.certificates);
        }
        std::vector<std::string> args = c.options;
        args.insert(args.end() - 1, {"-v", "ls"});
        const CliResult result = Run(args);
        const std::string err = ToLowerAscii(result.err);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(err.find(ToLowerAscii(c.message)), std::string::npos) << result.err;
        if (c.status == 0) {
            EXPECT_NE(result.out.find("listed.txt"), std::string::npos) << result.out;
        } else {
            EXPECT_TRUE(err.find("user ") == std::string::npos &&
                        err.find("pass ") == std::string::npos);
        }
        // The client reads the remembered certificates and never writes them (nor makes the file).
        EXPECT_EQ(ReadFile(home / kTrustStoreFileName), c.certificates);
    }
}

// The desktop program's side: the user trusts the certificate the session asks about.
class TrustingObserver : public RecordingObserver {
public:
    void OnQuestion(CFtpSession& session, const std::shared_ptr<Question>& question) override {
        if (question->kind != Question::Kind::kCertificate) {
            return RecordingObserver::OnQuestion(session, question);
        }
        std::lock_guard lock(mutex);
        asked.push_back(question->certificate);
        question->Answer(kAnswerYes);
    }
    std::mutex mutex;
    std::vector<CertificateQuestion> asked;
};

TEST_F(CliTlsTest, CertificateTheUserTrustedInASessionIsRememberedAsTheCliReadsIt) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", certificate);
    ASSERT_TRUE(server.Running()) << server.Error();
    const fs::path file = home / kTrustStoreFileName;
    fs::create_directories(home);
    TrustingObserver observer;
    SiteSetting site = Site("tls", "127.0.0.1", server.Port(), RealFtpServer::kUser,
                            RealFtpServer::kPassword, kLoginNormal);
    site.tls = kTlsExplicit;
    site.passive = 1;
    {
        CFtpSession session(site, nullptr, observer);
        session.SetTrustStore(
            std::make_shared<TrustStore>(file.string(), TrustStore::Access::kReadWrite));
        ASSERT_TRUE(session.StartWorker());
        EXPECT_EQ(observer.WaitForCommandFinished(CmdConnect, std::chrono::seconds(20)), 0)
            << observer.FormattedLog();
        session.CloseSession();
    }
    const std::string good = CertificateFingerprint(certificate);
    ASSERT_EQ(observer.asked.size(), 1u);
    const CertificateQuestion& asked = observer.asked[0];
    EXPECT_EQ(asked.host + ":" + std::to_string(asked.port) + " " + asked.subject + " " +
                  asked.issuer + " " + asked.fingerprint + " " + asked.reason,
              "127.0.0.1:" + std::to_string(server.Port()) + " CN=localhost CN=localhost " + good +
                  " self-signed certificate");
    // The line the CLI trusts (the "remembered certificate" case above).
    EXPECT_EQ(ReadFile(file), "127.0.0.1:" + std::to_string(server.Port()) + " " + good + "\n");
}

}  // namespace
}  // namespace tarnwick::test
