#include "proftpd_server.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "real_ftp_server.h"
#include "test_certificate.h"

namespace tarnwick::test {

namespace {

namespace fs = std::filesystem;
using tarnwick::testing::WriteFile;

// Where scripts/bootstrap unpacks it (an installed ProFTPD would replace vsftpd), else the
// system's.
const fs::path kRoots[] = {"/opt/tarnwick-test/proftpd", "/"};

fs::path InstallRoot() {
    for (const fs::path& root : kRoots) {
        if (access((root / "usr/sbin/proftpd").c_str(), X_OK) == 0 &&
            access((root / "usr/lib/proftpd/mod_tls.so").c_str(), R_OK) == 0) {
            return root;
        }
    }
    return {};
}

}  // namespace

bool ProftpdServer::Installed() {
    return !InstallRoot().empty();
}

ProftpdServer::ProftpdServer() : ServerProcess("ProFTPD") {
    const fs::path certificate = MakeCertificate(directory_.path());
    // MD5-crypt, which ProFTPD's password files take.
    const std::string hash =
        OpenSslLine(std::string("passwd -1 '") + RealFtpServer::kPassword + "'");
    const passwd* user = getpwuid(getuid());
    const group* group = getgrgid(getgid());
    const char* problem = certificate.empty() ? "openssl req failed"
                          : hash.empty()      ? "openssl passwd failed"
                          : user == nullptr || group == nullptr
                              ? "the current user or group has no name"
                              : nullptr;
    if (problem != nullptr) {
        Fail(problem);
        return;
    }
    const fs::path users = directory_ / "passwd";
    WriteFile(users.string(), std::string(RealFtpServer::kUser) + ":" + hash + ":" +
                                  std::to_string(getuid()) + ":" + std::to_string(getgid()) +
                                  "::" + root_.string() + ":/bin/false\n");
    fs::permissions(users, fs::perms::owner_read | fs::perms::owner_write);
    ChooseFreePort();
    const std::string dir = directory_.path() + "/";
    const std::string directives[] = {
        "ServerType standalone",
        "ServerIdent on \"ProFTPD test\"",
        "DefaultAddress 127.0.0.1",
        "SocketBindTight on",  // else it listens on every address
        "UseIPv6 off",
        "Port " + std::to_string(port_),
        "User " + std::string(user->pw_name),
        "Group " + std::string(group->gr_name),
        "PidFile " + dir + "proftpd.pid",
        "ScoreboardFile " + dir + "proftpd.scoreboard",
        "TransferLog " + dir + "xfer.log",
        "SystemLog " + dir + "system.log",
        "WtmpLog off",
        "UseReverseDNS off",
        "DelayEngine off",
        "ControlsEngine off",
        "AuthOrder mod_auth_file.c",
        "AuthUserFile " + users.string(),
        "RequireValidShell off",
        "RootLogin on",  // the login has the launching user's uid, 0 under CI
        "ModulePath " + (InstallRoot() / "usr/lib/proftpd").string(),
        "LoadModule mod_tls.c",
        "TLSEngine on",
        "TLSRequired on",
        "TLSProtocol TLSv1.2 TLSv1.3",
        "TLSRSACertificateFile " + (directory_ / "server.crt"),
        "TLSRSACertificateKeyFile " + certificate.string(),
        "TLSLog " + dir + "tls.log",
    };
    std::string text;
    for (const std::string& directive : directives) text += directive + "\n";
    const fs::path config = directory_ / "proftpd.conf";
    WriteFile(config.string(), text);
    Launch({(InstallRoot() / "usr/sbin/proftpd").string(), "-n", "-q", "-c", config.string()});
}

}  // namespace tarnwick::test
