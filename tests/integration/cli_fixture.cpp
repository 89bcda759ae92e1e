#include "cli_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <thread>

#include "sites/site_file.h"

extern char** environ;

namespace tarnwick::test {

namespace fs = std::filesystem;

namespace {

// Pointers to the texts for an argv or envp, ended by a null pointer.
std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The test's environment without the variables `overrides` names, then `overrides`.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::none_of(overrides.begin(), overrides.end(),
                         [&](const std::string& o) { return o.starts_with(name); })) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                       const std::vector<std::string>& env) {
    static int runs = 0;
    const std::string stem = "cli-" + std::to_string(++runs);
    outPath_ = scratch / (stem + ".out");
    errPath_ = scratch / (stem + ".err");
    std::vector<std::string> argv{TARNWICK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = MergedEnvironment(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT, 0644);
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
    const int error = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes,
                                  Pointers(argv).data(), Pointers(envp).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
    }
}

CliProcess::~CliProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
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
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "tarnwick-cli still running after " << limit.count() << " ms";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &waitStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    result.out = ReadFile(outPath_);
    result.err = ReadFile(errPath_);
    // A sanitizer build of the client reports its findings on stderr.
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool HasLineStartingWith(const std::string& text, const std::string& start) {
    const auto lines = Lines(text);
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(start); });
}

void ScriptLogin(ScriptedFtpServer& server, const std::string& dir, const std::string& user,
                 const std::string& password) {
    server.Greeting("220 scripted\r\n");
    server.Expect("user " + user).Reply("331 password\r\n");
    server.Expect("pass " + password).Reply("230 in\r\n");
    server.Expect("pwd").Reply("257 \"/\"\r\n");
    server.Expect("cwd " + dir).Reply("250 ok\r\n");
    server.Expect("pwd").Reply("257 \"" + dir + "\"\r\n");
}

SiteSetting Site(std::string name, std::string address, int port, std::string user,
                 std::string password, int loginType) {
    SiteSetting site;
    site.name = std::move(name);
    site.address = std::move(address);
    site.port = port;
    site.username = std::move(user);
    site.password = std::move(password);
    site.logintype = loginType;
    return site;
}

void CliTest::WriteSites(const std::vector<SiteSetting>& sites) const {
    fs::create_directories(home);
    ASSERT_EQ(SaveSiteFile((home / "site.dat").string(), sites), SiteFileResult::kOk);
}

}  // namespace tarnwick::test
