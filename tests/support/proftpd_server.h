// ProFTPD for tests: /usr/sbin/proftpd (with mod_tls) run in the foreground as the launching
// user on 127.0.0.1, on a port the system chose, with explicit TLS required for the login and
// for data (AUTH TLS, PROT P) on a self-signed certificate made for the server. One login,
// RealFtpServer::kUser / kPassword from a password file of its own, whose home is Root(); no
// chroot, so a file F in Root() is at the remote path Root() / F. Its logs stay in the scratch
// directory (Log() reads them) for a failing test to show.
//
// A server that is installed but cannot start is a test failure (ADD_FAILURE, Running()
// false); tests check Installed() first and skip when ProFTPD or mod_tls is missing.
//
// Threads: one test thread uses the object. The server and its session processes form a
// process group of their own, stopped (SIGTERM, bounded wait, SIGKILL) on destruction.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "scratch_directory.h"

namespace tarnwick::test {

class ProftpdServer {
public:
    static bool Installed();

    ProftpdServer();
    ~ProftpdServer();
    ProftpdServer(const ProftpdServer&) = delete;
    ProftpdServer& operator=(const ProftpdServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    uint16_t Port() const { return port_; }
    const std::filesystem::path& Root() const { return root_; }
    std::string Log() const;  // the server's output, system log and TLS log

    void Stop();

private:
    void Start();
    void Fail(std::string reason);

    tarnwick::testing::ScratchDirectory directory_;
    std::filesystem::path root_ = directory_ / "root";
    std::filesystem::path outputPath_ = directory_ / "proftpd.out";
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string error_;
};

}  // namespace tarnwick::test
