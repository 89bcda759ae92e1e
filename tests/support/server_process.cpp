#include "server_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "loopback_socket.h"

extern char** environ;

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kStartLimit = 20s;  // a cold Python start on a busy machine can take seconds
constexpr auto kStopLimit = 5s;

// Pointers to the texts for an argv or envp, ended by a null pointer.
std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

pid_t Spawn(std::vector<std::string> argv, const ChildSetup& setup, std::string& error) {
    std::vector<std::string> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::ranges::none_of(setup.environment,
                                 [&](const auto& e) { return e.starts_with(name); })) {
            envp.push_back(text);
        }
    }
    envp.insert(envp.end(), setup.environment.begin(), setup.environment.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, setup.out.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, setup.err.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    for (const auto& [from, to] : setup.inherited)
        posix_spawn_file_actions_adddup2(&actions, from, to);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t interrupt;
    sigemptyset(&none);
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &interrupt);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              (setup.ownGroup ? POSIX_SPAWN_SETPGROUP : 0));
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes,
                                    Pointers(argv).data(), Pointers(envp).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) return pid;
    error = "cannot run " + argv[0] + ": " + std::strerror(spawned);
    return -1;
}

bool ReapWithin(pid_t pid, pid_t target, std::chrono::milliseconds limit, int& status) {
    const Deadline deadline = DeadlineAfter(limit);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(target, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

ServerProcess::ServerProcess(std::string name, std::string address)
    : name_(std::move(name)), address_(std::move(address)) {
    fs::create_directories(root_);
}

ServerProcess::~ServerProcess() {
    Stop();
}

std::string ServerProcess::Log() const {
    std::string text;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_.path(), ignored)) {
        if (entry.path().extension() != ".log") continue;
        text += "\n" + entry.path().filename().string() + ":\n" +
                tarnwick::testing::ReadFile(entry.path());
    }
    return text;
}

void ServerProcess::ChooseFreePort() {
    const UniqueFd probe = ListenLoopback(address_);
    port_ = LocalPort(probe.Get());
}

bool ServerProcess::Launch(std::vector<std::string> argv,
                           const std::vector<std::pair<int, int>>& inherited, bool greeting) {
    const fs::path output = directory_ / "server.log";
    pid_ = Spawn(std::move(argv), {output, output, inherited, {}, true}, error_);
    if (pid_ < 0) {
        Fail(std::move(error_));
        return false;
    }
    const Deadline deadline = DeadlineAfter(kStartLimit);
    for (;;) {
        UniqueFd client;
        std::string reply;
        if (ConnectLoopback(address_, port_, DeadlineAfter(1s), client) == IoStatus::kOk) {
            while (greeting && reply.find('\n') == std::string::npos &&
                   ReceiveSome(client.Get(), reply, deadline) == IoStatus::kOk) {
            }
            if (!greeting || reply.starts_with("220")) return true;
            break;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        if (pid_ < 0 || Clock::now() >= deadline) break;
        std::this_thread::sleep_for(50ms);
    }
    Stop();
    Fail(std::string(greeting ? "no greeting" : "no connection") + " on port " +
         std::to_string(port_) + "; its logs:" + Log());
    return false;
}

void ServerProcess::Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    int status = 0;
    ReapWithin(pid_, -pid_, kStopLimit, status);
    pid_ = -1;
}

void ServerProcess::Fail(std::string reason) {
    error_ = name_ + " did not start: " + std::move(reason);
    ADD_FAILURE() << error_;
}

}  // namespace tarnwick::test
