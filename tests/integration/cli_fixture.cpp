#include "cli_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "server_process.h"
#include "sites/site_file.h"

namespace tarnwick::test {

namespace fs = std::filesystem;

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                       const std::vector<std::string>& env) {
    static int runs = 0;
    const std::string stem = "cli-" + std::to_string(++runs);
    outPath_ = scratch / (stem + ".out");
    errPath_ = scratch / (stem + ".err");
    std::vector<std::string> argv{TARNWICK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    pid_ = Spawn(std::move(argv), {outPath_, errPath_, {}, env}, error);
    if (pid_ < 0) ADD_FAILURE() << error;
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
    int waitStatus = 0;
    if (!ReapWithin(pid_, pid_, limit, waitStatus)) {
        ADD_FAILURE() << "tarnwick-cli still running after " << limit.count() << " ms";
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
    return std::ranges::any_of(Lines(text),
                               [&](const auto& line) { return line.starts_with(start); });
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
