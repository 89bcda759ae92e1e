#include "proftpd_server.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "loopback_socket.h"
#include "real_ftp_server.h"
#include "test_certificate.h"

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

constexpr const char* kProftpd = "/usr/sbin/proftpd";
constexpr const char* kModTls = "/usr/lib/proftpd/mod_tls.so";
constexpr auto kStartLimit = 10s;
constexpr auto kStopLimit = 5s;

// The MD5-crypt hash of `password` as `openssl passwd -1` makes it, or empty on failure.
std::string PasswordHash(const std::string& password) {
    FILE* pipe = popen(("openssl passwd -1 '" + password + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return {};
    char buffer[256];
    std::string hash = fgets(buffer, sizeof buffer, pipe) ? buffer : "";
    pclose(pipe);
    if (!hash.empty() && hash.back() == '\n') hash.pop_back();
    return hash;
}

}  // namespace

bool ProftpdServer::Installed() {
    return access(kProftpd, X_OK) == 0 && access(kModTls, R_OK) == 0;
}

ProftpdServer::ProftpdServer() {
    Start();
}

ProftpdServer::~ProftpdServer() {
    Stop();
}

std::string ProftpdServer::Log() const {
    return ReadFile(outputPath_.string()) + ReadFile(directory_ / "system.log") +
           ReadFile(directory_ / "tls.log");
}

void ProftpdServer::Start() {
    fs::create_directories(root_);
    const fs::path certificate = MakeCertificate(directory_.path());
    if (certificate.empty()) return Fail("openssl req failed");
    const std::string hash = PasswordHash(RealFtpServer::kPassword);
    if (hash.empty()) return Fail("openssl passwd failed");
    const fs::path users = directory_ / "passwd";
    WriteFile(users.string(), std::string(RealFtpServer::kUser) + ":" + hash + ":" +
                                  std::to_string(getuid()) + ":" + std::to_string(getgid()) +
                                  "::" + root_.string() + ":/bin/false\n");
    fs::permissions(users, fs::perms::owner_read | fs::perms::owner_write);
    UniqueFd probe = ListenLoopback("127.0.0.1");
    port_ = LocalPort(probe.Get());
    probe.Reset();  // ProFTPD binds the port itself
    const passwd* user = getpwuid(getuid());
    const group* group = getgrgid(getgid());
    if (user == nullptr || group == nullptr) return Fail("the current user or group has no name");
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
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int log = open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execl(kProftpd, kProftpd, "-n", "-q", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) return Fail("fork failed");
    setpgid(pid_, pid_);  // also here, so that Stop() finds the group whoever runs first
    const Deadline deadline = DeadlineAfter(kStartLimit);
    while (Clock::now() < deadline) {
        UniqueFd client;
        if (ConnectLoopback("127.0.0.1", port_, DeadlineAfter(1s), client) == IoStatus::kOk) {
            return;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    Stop();
    Fail("no connection on port " + std::to_string(port_) + "; its logs: " + Log());
}

void ProftpdServer::Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    const Deadline deadline = DeadlineAfter(kStopLimit);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) kill(-pid_, SIGKILL);
        std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
}

void ProftpdServer::Fail(std::string reason) {
    error_ = "ProFTPD did not start: " + std::move(reason);
    ADD_FAILURE() << error_;
}

}  // namespace tarnwick::test
