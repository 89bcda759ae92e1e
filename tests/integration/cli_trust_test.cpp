// tarnwick-cli deciding on a server certificate: a pinned fingerprint, extra trust anchors
// (--ca-file, with the host's IP address still checked), and the certificates the graphical
// client remembered in the program home. Against pyftpdlib's TLS handler.
#include <gtest/gtest.h>

#include <mutex>

#include "cli_fixture.h"
#include "listing/text_utils.h"
#include "recording_observer.h"
#include "session/ftp_session.h"
#include "session/trust_store.h"
#include "test_certificate.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class CliTrustTest : public CliTest {
protected:
    std::string Url(uint16_t port) const {
        return std::string("ftpes://") + RealFtpServer::kUser + ":" + RealFtpServer::kPassword +
               "@127.0.0.1:" + std::to_string(port) + "/";
    }
    // Self-signed, CN=localhost: one with the 127.0.0.1 address entry, one without.
    fs::path matching = MakeCertificate(scratch);
    fs::path nameOnly = MakeCertificate(scratch, "other", "DNS:localhost");
};

TEST_F(CliTrustTest, PinCaFileAndRememberedCertificatesDecideAsDocumented) {
    ASSERT_FALSE(matching.empty() || nameOnly.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", matching);
    RealFtpServer other("127.0.0.1", nameOnly);
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_TRUE(other.Running()) << other.Error();
    WriteFile(server.Root() / "listed.txt", "x");
    const std::string good = CertificateFingerprint(matching);
    const std::string wrong = CertificateFingerprint(nameOnly);
    ASSERT_EQ(NormalizeFingerprint(good), good);
    // Lower case without colons is the same pin.
    std::string bare;
    for (char c : ToLowerAscii(good)) {
        if (c != ':') bare += c;
    }
    const fs::path crt = scratch / "server.crt", otherCrt = scratch / "other.crt";
    const std::string remembered = "127.0.0.1:" + std::to_string(server.Port()) + " ";

    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string certificates;  // certificates.dat of the program home; none when empty
        bool otherServer;
        int status;
        std::string message;  // in stderr
    } cases[] = {
        {"matching pin", {"--trust-fingerprint", bare}, "", false, 0, ""},
        {"pin of another certificate",
         {"--trust-fingerprint", wrong},
         "",
         false,
         6,
         "certificate of 127.0.0.1 not trusted: fingerprint mismatch"},
        {"a pin wins over a certificate that verifies",
         {"--ca-file", crt.string(), "--trust-fingerprint", wrong},
         "",
         false,
         6,
         "fingerprint mismatch"},
        {"ca file with the server's certificate", {"--ca-file", crt.string()}, "", false, 0, ""},
        {"ca file, but no entry for the address",
         {"--ca-file", otherCrt.string()},
         "",
         true,
         6,
         "certificate of 127.0.0.1 not trusted: ip address mismatch"},
        {"unreadable ca file",
         {"--ca-file", (scratch / "missing.crt").string()},
         "",
         false,
         6,
         "cannot read the trusted certificates of " + (scratch / "missing.crt").string()},
        {"remembered certificate", {}, remembered + good + "\n", false, 0, ""},
        {"changed certificate",
         {"--insecure"},
         "example.org:21 " + good + "\n" + remembered + wrong + "\n",
         false,
         6,
         "certificate of 127.0.0.1 has changed: remembered " + wrong + ", offered " + good},
        {"pin too short", {"--trust-fingerprint", bare.substr(2)}, "", false, 64, "64 hex digits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(home / kTrustStoreFileName);
        if (!c.certificates.empty()) {
            fs::create_directories(home);
            WriteFile(home / kTrustStoreFileName, c.certificates);
        }
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-v", "ls", Url(c.otherServer ? other.Port() : server.Port())});
        const CliResult result = Run(args);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(ToLowerAscii(result.err).find(ToLowerAscii(c.message)), std::string::npos)
            << result.err;
        if (c.status == 0) {
            EXPECT_NE(result.out.find("listed.txt"), std::string::npos) << result.out;
        } else {
            EXPECT_EQ(ToLowerAscii(result.err).find("pass "), std::string::npos) << result.err;
        }
        // The client reads the remembered certificates and never writes them.
        if (!c.certificates.empty()) {
            EXPECT_EQ(ReadFile(home / kTrustStoreFileName), c.certificates);
        }
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

TEST_F(CliTrustTest, CertificateTheUserTrustedInASessionIsRememberedAndTrustedByTheCli) {
    ASSERT_FALSE(matching.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", matching);
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
    const std::string good = CertificateFingerprint(matching);
    ASSERT_EQ(observer.asked.size(), 1u);
    const CertificateQuestion& asked = observer.asked[0];
    EXPECT_EQ(asked.host + ":" + std::to_string(asked.port) + " " + asked.subject + " " +
                  asked.issuer + " " + asked.fingerprint + " " + asked.reason,
              "127.0.0.1:" + std::to_string(server.Port()) + " CN=localhost CN=localhost " + good +
                  " self-signed certificate");
    EXPECT_EQ(ReadFile(file), "127.0.0.1:" + std::to_string(server.Port()) + " " + good + "\n");
    const CliResult result = Run({"ls", Url(server.Port())});
    EXPECT_EQ(result.status, 0) << result.err;
}

}  // namespace
}  // namespace tarnwick::test
