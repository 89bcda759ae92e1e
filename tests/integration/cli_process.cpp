#include "cli_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace tarnwick::test {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& override : overrides) {
            replaced = replaced || override.substr(0, override.find('=')) == name;
        }
        if (!replaced) merged.push_back(text);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const fs::path& scratch,
                       const std::vector<std::string>& env, bool stderrTerminal) {
    static int runs = 0;
    const std::string stem = "cli-" + std::to_string(++runs);
    outPath_ = scratch / (stem + ".out");
    errPath_ = scratch / (stem + ".err");

    std::vector<std::string> argv{TARNWICK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = MergedEnvironment(env);
    std::vector<char*> argPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string terminalName;
    if (stderrTerminal) {
        terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        } else {
            terminalName = ::ptsname(terminal_);
        }
    }
    if (!terminalName.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, terminalName.c_str(), O_WRONLY | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    // The child starts with no signal blocked and SIGINT at its default, whatever the test
    // runner's own state.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t interrupt;
    sigemptyset(&none);
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &interrupt);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, argPointers.data(),
                                  envPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int ignored = 0;
        ::waitpid(pid_, &ignored, 0);
    }
    if (terminal_ >= 0) ::close(terminal_);
}

// Keeps the pseudo-terminal from filling up (which would block the child) and collects it.
void CliProcess::DrainTerminal() {
    if (terminal_ < 0) return;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(terminal_, buffer, sizeof buffer)) > 0) {
        terminalText_.append(buffer, static_cast<size_t>(got));
    }
}

void CliProcess::Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

CliResult CliProcess::Wait(std::chrono::milliseconds limit) {
    CliResult result;
    if (pid_ <= 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int waitStatus = 0;
    while (::waitpid(pid_, &waitStatus, WNOHANG) == 0) {
        DrainTerminal();
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "tarnwick-cli still running after " << limit.count() << " ms";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &waitStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    result.status = StatusOf(waitStatus);
    result.out = ReadFile(outPath_);
    DrainTerminal();
    result.err = terminal_ >= 0 ? terminalText_ : ReadFile(errPath_);
    // A sanitizer build of the client reports its findings on stderr.
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
    return result;
}

}  // namespace tarnwick::test
