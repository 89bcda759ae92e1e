// vsftpd for tests: /usr/sbin/vsftpd run as the launching user on 127.0.0.1, on a port the
// system chose, serving a scratch directory to anonymous users (read only). Plain, with
// explicit TLS (AUTH TLS required for the login and data), or with implicit TLS (TLS from
// the first byte), on a self-signed certificate made for the server. Without a chroot the
// server's paths are the real ones: a file F in Root() is at the remote path Root() / F.
//
// A server that is installed but cannot start is a test failure (ADD_FAILURE, Running()
// false); tests check Installed() first and skip when vsftpd is missing.
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

class VsftpdServer {
public:
    enum class Mode { kPlain, kExplicitTls, kImplicitTls };

    static bool Installed();

    explicit VsftpdServer(Mode mode);
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    uint16_t Port() const { return port_; }
    const std::filesystem::path& Root() const { return root_; }

    void Stop();

private:
    void Start(Mode mode);
    void Fail(std::string reason);

    tarnwick::testing::ScratchDirectory directory_;
    std::filesystem::path root_ = directory_ / "root";
    std::filesystem::path logPath_ = directory_ / "vsftpd.log";
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string error_;
};

}  // namespace tarnwick::test
