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
#include <thread>
#include <vector>

extern char** environ;

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = 20s;  // a cold Python start on a busy machine can take seconds
constexpr auto kStopLimit = 5s;

std::string ServerScript() {
    // Tests know the data directory; the script sits beside it, under tests/support.
    return (std::filesystem::path(TARNWICK_TEST_DATA) / ".." / "support" / "pyftpdlib_server.py")
        .lexically_normal()
        .string();
}

}  // namespace

RealFtpServer::RealFtpServer() {
    std::filesystem::create_directory(root_);
    Start();
}

RealFtpServer::~RealFtpServer() {
    Stop();
}

void RealFtpServer::Stop() {
    if (pid_ <= 0) return;
    int status = 0;
    kill(pid_, SIGTERM);
    const Deadline deadline = DeadlineAfter(kStopLimit);
    bool reaped = false;
    while (!(reaped = waitpid(pid_, &status, WNOHANG) != 0) && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    if (!reaped) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
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

bool RealFtpServer::Start() {
    const std::string script = ServerScript();
    if (access(kPython, X_OK) != 0) {
        return Fail(std::string(kPython) + " is missing; install python3 and python3-pyftpdlib");
    }
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
    std::vector<std::string> arguments = {kPython,  "-u",  script,       "--root", root_.string(),
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
    // The script listens before it announces the port: from then on connections queue.
    if (!ReadAnnouncedPort(DeadlineAfter(kStartLimit))) {
        const std::string reason = error_;
        Stop();
        return Fail(reason + "; its log: " + tarnwick::testing::ReadFile(logPath_.string()));
    }
    return true;
}

// Reads the script's first line: "PORT <n>" or "ERROR <reason>".
bool RealFtpServer::ReadAnnouncedPort(Deadline deadline) {
    std::string output;
    while (output.find('\n') == std::string::npos) {
        char buffer[256];
        ssize_t got = -1;
        if (WaitFd(stdoutPipe_.Get(), POLLIN, deadline) == IoStatus::kOk) {
            got = read(stdoutPipe_.Get(), buffer, sizeof buffer);
        }
        if (got <= 0) {
            error_ = "it announced no port in time; it said: " + output;
            return false;
        }
        output.append(buffer, static_cast<size_t>(got));
    }
    output.erase(output.find('\n'));
    const int port = output.starts_with("PORT ") ? std::atoi(output.c_str() + 5) : 0;
    if (port <= 0 || port >= 65536) {
        error_ = "it said: " + output;
        return false;
    }
    port_ = static_cast<uint16_t>(port);
    return true;
}

}  // namespace tarnwick::test
