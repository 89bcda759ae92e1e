#include "real_ftp_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = 20s;  // a cold Python start on a busy machine can take seconds
constexpr auto kStopLimit = 5s;

std::filesystem::path ServerScript() {
    // Tests know the data directory; the script sits beside it, under tests/support.
    return (std::filesystem::path(TARNWICK_TEST_DATA) / ".." / "support" / "pyftpdlib_server.py")
        .lexically_normal();
}

std::filesystem::path MakeTemporaryDirectory() {
    const char* base = std::getenv("TARNWICK_TEST_TMP");
    std::error_code error;
    std::filesystem::path parent =
        base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path(error);
    std::filesystem::create_directories(parent, error);
    std::string pattern = (parent / "realftp-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// Waits up to `limit` for the child to end; true when it was reaped.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit, int& status) {
    const Deadline deadline = DeadlineAfter(limit);
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (Clock::now() >= deadline) return false;
        SleepUntil(DeadlineAfter(20ms), -1);
    }
}

// Reads what a pipe holds (sockets have ReceiveSome; pipes need read()).
IoStatus ReadFromPipe(int fd, std::string& out, Deadline deadline) {
    const IoStatus ready = WaitFd(fd, POLLIN, deadline);
    if (ready != IoStatus::kOk) return ready;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    if (got < 0) return IoStatus::kFailed;
    if (got == 0) return IoStatus::kClosed;
    out.append(buffer, static_cast<size_t>(got));
    return IoStatus::kOk;
}

}  // namespace

RealFtpServer::RealFtpServer() {
    directory_ = MakeTemporaryDirectory();
    if (directory_.empty()) {
        Fail(std::string("cannot create a temporary directory: ") + std::strerror(errno));
        return;
    }
    root_ = directory_ / "root";
    logPath_ = directory_ / "server.log";
    std::error_code error;
    std::filesystem::create_directory(root_, error);
    Start(0);
}

RealFtpServer::~RealFtpServer() {
    Stop();
    std::error_code error;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, error);
}

bool RealFtpServer::Restart() {
    Stop();
    return Start(port_);
}

void RealFtpServer::Stop() {
    if (pid_ <= 0) return;
    int status = 0;
    kill(pid_, SIGTERM);
    if (!WaitForExit(pid_, kStopLimit, status)) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    stdinPipe_.Reset();
    stdoutPipe_.Reset();
}

bool RealFtpServer::Fail(std::string reason) {
    error_ = "the real FTP server (python3-pyftpdlib) did not start: " + std::move(reason);
    ADD_FAILURE() << error_;
    return false;
}

bool RealFtpServer::Start(uint16_t port) {
    error_.clear();
    if (access(kPython, X_OK) != 0) {
        return Fail(std::string(kPython) + " is missing; install python3 and python3-pyftpdlib");
    }
    const std::string script = ServerScript().string();
    if (access(script.c_str(), R_OK) != 0) return Fail("cannot read " + script);

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return Fail(std::string("pipe: ") + std::strerror(errno));
    UniqueFd childStdin(in[0]);
    stdinPipe_.Reset(in[1]);
    if (pipe2(out, O_CLOEXEC) != 0) return Fail(std::string("pipe: ") + std::strerror(errno));
    UniqueFd childStdout(out[1]);
    stdoutPipe_.Reset(out[0]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childStdin.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childStdout.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> arguments = {
        kPython,  "-u",  script,       "--root", root_.string(), "--port", std::to_string(port),
        "--user", kUser, "--password", kPassword};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        return Fail(std::string("cannot run ") + kPython + ": " + std::strerror(spawned));
    }

    const Deadline deadline = DeadlineAfter(kStartLimit);
    if (!ReadAnnouncedPort(deadline) || !WaitUntilServing(deadline)) {
        const std::string reason = error_;
        Stop();
        std::ifstream log(logPath_);
        return Fail(reason + "; its log: " + std::string(std::istreambuf_iterator<char>(log), {}));
    }
    return true;
}

// Reads the script's first line: "PORT <n>" or "ERROR <reason>".
bool RealFtpServer::ReadAnnouncedPort(Deadline deadline) {
    std::string output;
    while (output.find('\n') == std::string::npos) {
        const IoStatus status = ReadFromPipe(stdoutPipe_.Get(), output, deadline);
        if (status == IoStatus::kOk) continue;
        error_ = status == IoStatus::kTimedOut ? "it announced no port in time" : "it ended";
        if (!output.empty()) error_ += "; it said: " + output;
        return false;
    }
    output.erase(output.find('\n'));
    if (output.rfind("PORT ", 0) == 0) {
        const int port = std::atoi(output.c_str() + 5);
        if (port > 0 && port < 65536 && (port_ == 0 || port == port_)) {
            port_ = static_cast<uint16_t>(port);
            return true;
        }
    }
    error_ = "it said: " + output;
    return false;
}

// The port is bound once announced; a greeting proves the server also answers.
bool RealFtpServer::WaitUntilServing(Deadline deadline) {
    UniqueFd probe;
    if (ConnectLoopback(Host(), port_, deadline, probe) != IoStatus::kOk) {
        error_ = "it does not accept connections on port " + std::to_string(port_);
        return false;
    }
    std::string greeting;
    while (greeting.find('\n') == std::string::npos) {
        if (ReceiveSome(probe.Get(), greeting, deadline) != IoStatus::kOk) break;
    }
    if (greeting.rfind("220", 0) != 0) {
        error_ = "it sent no greeting, only \"" + greeting + "\"";
        return false;
    }
    SendAll(probe.Get(), "QUIT\r\n", deadline);
    return true;
}

}  // namespace tarnwick::test
