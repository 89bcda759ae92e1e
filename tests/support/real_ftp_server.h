// A real FTP server for tests: Debian's python3-pyftpdlib, run with /usr/bin/python3 on a
// socket this harness listens on at 127.0.0.1 (or ::1 when asked), on a port the system chose. The
// harness makes a scratch directory holding the server's data root and its log, serves the root to
// the user kUser/kPassword with full permissions and to anonymous users read-only, and stops the
// server (SIGTERM, bounded wait, SIGKILL) and removes the directory on destruction.
//
// A server that cannot start is a test failure, never a skip: the constructor reports the
// reason through ADD_FAILURE() (a missing /usr/bin/python3 or pyftpdlib included) and
// Running() is then false.
//
// Threads: one test thread uses the object; the server is a child process that also ends by
// itself when the test process goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "loopback_socket.h"
#include "scratch_directory.h"

namespace tarnwick::test {

class RealFtpServer {
public:
    static constexpr const char* kUser = "tarnwick";
    static constexpr const char* kPassword = "secret";

    // `address`: the numeric loopback address to serve on, "127.0.0.1" or "::1". With a
    // `certificate` (a PEM file holding the certificate and its key) the server offers TLS
    // (AUTH TLS, PROT P), through pyftpdlib's TLS handler (python3-openssl). Without
    // `machineListings` the server knows neither MLST nor MLSD, so clients list with LIST.
    explicit RealFtpServer(std::string address = "127.0.0.1",
                           std::filesystem::path certificate = {}, bool machineListings = true);
    ~RealFtpServer();
    RealFtpServer(const RealFtpServer&) = delete;
    RealFtpServer& operator=(const RealFtpServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }  // why it is not running

    uint16_t Port() const { return port_; }
    const std::string& Address() const { return address_; }
    // The directory served as "/": tests create and compare files here directly.
    const std::filesystem::path& Root() const { return root_; }

    // Stops the server for good; open connections are cut, later ones refused.
    void Stop();

private:
    void Start();
    void Fail(std::string reason);

    tarnwick::testing::ScratchDirectory directory_;
    std::filesystem::path root_ = directory_ / "root";
    std::filesystem::path logPath_ = directory_ / "server.log";  // quoted when it fails
    pid_t pid_ = -1;
    UniqueFd stdinPipe_;  // held open while the server runs; its end of file stops the server
    std::string address_;
    std::filesystem::path certificate_;
    bool machineListings_ = true;
    uint16_t port_ = 0;
    std::string error_;
};

}  // namespace tarnwick::test
