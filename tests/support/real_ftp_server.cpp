#include "real_ftp_server.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace tarnwick::test {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kServerSocketFd = 3;  // where the script finds its listening socket

}  // namespace

RealFtpServer::RealFtpServer(std::string address, const std::filesystem::path& certificate,
                             bool machineListings)
    : ServerProcess("the real FTP server (python3-pyftpdlib)", std::move(address)) {
    // Tests know the data directory; the script sits beside it, under tests/support.
    const std::string script =
        (std::filesystem::path(TARNWICK_TEST_DATA) / ".." / "support" / "pyftpdlib_server.py")
            .lexically_normal()
            .string();
    UniqueFd listener = ListenLoopback(Address());
    if (listener.Get() == kServerSocketFd) {
        listener = UniqueFd(fcntl(kServerSocketFd, F_DUPFD_CLOEXEC, kServerSocketFd + 1));
    }
    int in[2] = {-1, -1};
    const std::string problem =
        access(kPython, X_OK) != 0 ? std::string(kPython) + " is missing; install python3-pyftpdlib"
        : !listener || pipe2(in, O_CLOEXEC) != 0 ? std::string(std::strerror(errno))
                                                 : "";
    if (!problem.empty()) {
        Fail(problem);
        return;
    }
    const UniqueFd childStdin(in[0]);
    stdinPipe_.Reset(in[1]);
    port_ = LocalPort(listener.Get());
    std::vector<std::string> arguments = {kPython,  "-u",  script,       "--root", root_.string(),
                                          "--user", kUser, "--password", kPassword};
    if (!certificate.empty())
        arguments.insert(arguments.end(), {"--certfile", certificate.string()});
    if (!machineListings) arguments.push_back("--no-machine-listings");
    // Connections queue from the start; a greeting proves that the server also answers.
    Launch(std::move(arguments),
           {{childStdin.Get(), STDIN_FILENO}, {listener.Get(), kServerSocketFd}}, true);
}

}  // namespace tarnwick::test
