#include "vsftpd_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "loopback_socket.h"
#include "test_certificate.h"

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr auto kStartLimit = 10s;
constexpr auto kStopLimit = 5s;

std::string TlsConfig(VsftpdServer::Mode mode, const fs::path& certificate) {
    if (mode == VsftpdServer::Mode::kPlain) return "ssl_enable=NO\n";
    return "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_data_ssl=YES\n"
           "force_anon_logins_ssl=YES\nrsa_cert_file=" +
           certificate.string() + "\nrsa_private_key_file=" + certificate.string() + "\n" +
           (mode == VsftpdServer::Mode::kImplicitTls ? "implicit_ssl=YES\n" : "");
}

}  // namespace

bool VsftpdServer::Installed() {
    return access(kVsftpd, X_OK) == 0;
}

VsftpdServer::VsftpdServer(Mode mode) {
    Start(mode);
}

VsftpdServer::~VsftpdServer() {
    Stop();
}

void VsftpdServer::Start(Mode mode) {
    const fs::path empty = directory_ / "empty";
    fs::create_directories(root_);
    fs::create_directories(empty);
    fs::path certificate;
    if (mode != Mode::kPlain) {
        certificate = MakeCertificate(directory_.path());
        if (certificate.empty()) return Fail("openssl req failed");
    }
    UniqueFd probe = ListenLoopback("127.0.0.1");
    port_ = LocalPort(probe.Get());
    probe.Reset();  // vsftpd binds the port itself
    const fs::path config = directory_ / "vsftpd.conf";
    tarnwick::testing::WriteFile(
        config.string(),
        "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
            "\nbackground=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
            "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\n"
            "anon_root=" +
            root_.string() + "\nsecure_chroot_dir=" + empty.string() + "\n" +
            TlsConfig(mode, certificate));
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execl(kVsftpd, kVsftpd, config.c_str(), static_cast<char*>(nullptr));
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
    Fail("no connection on port " + std::to_string(port_) +
         "; its output: " + tarnwick::testing::ReadFile(logPath_.string()));
}

void VsftpdServer::Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    const Deadline deadline = DeadlineAfter(kStopLimit);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) kill(-pid_, SIGKILL);
        std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
}

void VsftpdServer::Fail(std::string reason) {
    error_ = "vsftpd did not start: " + std::move(reason);
    ADD_FAILURE() << error_;
}

}  // namespace tarnwick::test
