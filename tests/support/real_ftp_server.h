// A real FTP server for tests: Debian's python3-pyftpdlib, run with /usr/bin/python3 on a
// socket this harness listens on at 127.0.0.1 (or ::1 when asked), on a port the system chose.
// It serves Root() as "/" to the user kUser/kPassword with full permissions and to anonymous
// users read-only. A missing /usr/bin/python3 or pyftpdlib is a failure like any other (see
// ServerProcess, which also says how it is stopped).
//
// Threads: one test thread uses the object; the server also ends by itself when the test
// process goes away (its stdin reaches end of file).
#pragma once

#include <filesystem>
#include <string>

#include "loopback_socket.h"
#include "server_process.h"

namespace tarnwick::test {

class RealFtpServer : public ServerProcess {
public:
    static constexpr const char* kUser = "tarnwick";
    static constexpr const char* kPassword = "secret";

    // `address`: the numeric loopback address to serve on, "127.0.0.1" or "::1". With a
    // `certificate` (a PEM file holding the certificate and its key) the server offers TLS
    // (AUTH TLS, PROT P), through pyftpdlib's TLS handler (python3-openssl). Without
    // `machineListings` the server knows neither MLST nor MLSD, so clients list with LIST.
    explicit RealFtpServer(std::string address = "127.0.0.1",
                           const std::filesystem::path& certificate = {},
                           bool machineListings = true);

private:
    UniqueFd stdinPipe_;  // held open while the server runs; its end of file stops the server
};

}  // namespace tarnwick::test
