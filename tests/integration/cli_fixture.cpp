#include "cli_fixture.h"

#include <algorithm>
#include <sstream>

#include "loopback_socket.h"
#include "sites/site_file.h"

namespace tarnwick::test {

namespace fs = std::filesystem;

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

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7919) & 0xff);
    return bytes;
}

uint16_t ClosedPort() {
    UniqueFd listener = ListenLoopback();
    return LocalPort(listener.Get());
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

std::vector<std::string> CliTest::Args(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--home", home.string()});
    return args;
}

std::vector<std::string> CliTest::Environment(std::vector<std::string> env) const {
    env.push_back("XDG_CONFIG_HOME=" + config.string());
    return env;
}

CliResult CliTest::Run(std::vector<std::string> args, const std::vector<std::string>& env) {
    return CliProcess(Args(std::move(args)), scratch, Environment(env)).Wait();
}

fs::path CliTest::SettingsFile() const {
    return config / "Morrowlyn" / "Tarnwick.conf";
}

void CliTest::WriteSettings(const std::string& lines) const {
    fs::create_directories(SettingsFile().parent_path());
    WriteFile(SettingsFile(), "[Settings]\n" + lines);
}

}  // namespace tarnwick::test
