#include "real_ftp_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = 20s;  // a cold Python start on a busy machine can take seconds
constexpr auto kStopLimit = 5s;
constexpr int kServerSocketFd = 3;  // where the script finds its listening socket

std::string ServerScript() {
    // Tests know the data directory; the script sits beside it, under tests/support.
    return (std::filesystem::path(TARNWICK_TEST_DATA) / ".." / "support" / "pyftpdlib_server.py")
        .lexically_normal()
        .string();
}

}  // namespace

RealFtpServer::RealFtpServer(std::string address, std::filesystem::path certificate,
                             bool machineListings)
    : address_(std::move(address)),
      certificate_(std::move(certificate)),
      machineListings_(machineListings) {
    Start();
}

void RealFtpServer::Start() {
    std::filesystem::create_directory(root_);
    const std::string script = ServerScript();
    UniqueFd listener = ListenLoopback(address_);
    if (listener.Get() == kServerSocketFd) {
        listener = UniqueFd(fcntl(kServerSocketFd, F_DUPFD_CLOEXEC, kServerSocketFd + 1));
    }
    int in[2] = {-1, -1};
    const std::string problem =
        access(kPython, X_OK) != 0 ? std::string(kPython) + " is missing; install python3-pyftpdlib"
        : access(script.c_str(), R_OK) != 0      ? "cannot read " + script
        : !listener || pipe2(in, O_CLOEXEC) != 0 ? std::string(std::strerror(errno))
                                                 : "";
    if (!problem.empty()) return Fail(problem);
    UniqueFd childStdin(in[0]);
    stdinPipe_.Reset(in[1]);
    port_ = LocalPort(listener.Get());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childStdin.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, listener.Get(), kServerSocketFd);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> arguments = {kPython,  "-u",  script,       "--root", root_.string(),
                                          "--user", kUser, "--password", kPassword};
    if (!certificate_.empty()) {
        arguments.push_back("--certfile");
        arguments.push_back(certificate_.string());
    }
    if (!machineListings_) arguments.push_back("--no-machine-listings");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        return Fail(std::string("cannot run ") + kPython + ": " + std::strerror(spawned));
    }
    // Connections queue from the start; a greeting proves that the server also answers.
    UniqueFd probe;
    std::string greeting;
    const Deadline deadline = DeadlineAfter(kStartLimit);
    if (ConnectLoopback(address_, port_, deadline, probe) == IoStatus::kOk) {
        while (greeting.find('\n') == std::string::npos &&
               ReceiveSome(probe.Get(), greeting, deadline) == IoStatus::kOk) {
        }
    }
    if (!greeting.starts_with("220")) {
        Stop();
        Fail("no greeting; its log: " + tarnwick::testing::ReadFile(logPath_.string()));
    }
}

RealFtpServer::~RealFtpServer() {
    Stop();
}

void RealFtpServer::Stop() {
    if (pid_ <= 0) return;
    int status = 0;
    kill(pid_, SIGTERM);
    const Deadline deadline = DeadlineAfter(kStopLimit);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) kill(pid_, SIGKILL);
        std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
    stdinPipe_.Reset();
}

void RealFtpServer::Fail(std::string reason) {
    error_ = "the real FTP server (python3-pyftpdlib) did not start: " + std::move(reason);
    ADD_FAILURE() << error_;
}

}  // namespace tarnwick::test
