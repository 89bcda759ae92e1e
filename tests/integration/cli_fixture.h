// What the tarnwick-cli tests share: the client run as a child process, a fixture that runs
// it with a program home and a settings directory of the test's own (the user's real settings
// are never read or written), and small helpers for outputs and scripted logins.
//
// CliProcess: stdin from /dev/null, stdout and stderr into files of the test's scratch
// directory, the test's environment plus a few overrides. Every wait is bounded; a child still
// running at its deadline is killed (and the test fails), and one still running when the
// object goes is killed and reaped. Threads: the test thread only.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "real_ftp_server.h"
#include "scratch_directory.h"
#include "scripted_ftp_server.h"
#include "sites/site_setting.h"

namespace tarnwick::test {

using tarnwick::testing::Pattern;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

struct CliResult {
    int status = -1;  // exit status; 128 + signal number for a child ended by a signal
    std::string out;
    std::string err;
};

class CliProcess {
public:
    // Starts TARNWICK_CLI_PATH with `args`; `env` entries ("NAME=value") replace or extend
    // the test's environment. Output files go into `scratch`.
    CliProcess(const std::vector<std::string>& args, const std::filesystem::path& scratch,
               const std::vector<std::string>& env = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const;
    // Waits for the end (at most `limit`) and collects the output.
    CliResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    pid_t pid_ = -1;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

std::vector<std::string> Lines(const std::string& text);
bool HasLineStartingWith(const std::string& text, const std::string& start);

// Scripts the start-up of a session: greeting, USER/PASS, PWD, CWD into `dir`, PWD.
void ScriptLogin(ScriptedFtpServer& server, const std::string& dir, const std::string& user = "u",
                 const std::string& password = "p");

SiteSetting Site(std::string name, std::string address, int port, std::string user,
                 std::string password, int loginType);

class CliTest : public ::testing::Test {
protected:
    // The client's own options for every run: the program home of the test.
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--home", home.string()});
        return args;
    }
    // The environment of every run: the settings directory of the test, plus `env`; HOME is
    // the scratch directory unless `env` names one (so no real ~/.netrc is read).
    std::vector<std::string> Environment(std::vector<std::string> env = {}) const {
        env.push_back("XDG_CONFIG_HOME=" + config.string());
        if (std::ranges::none_of(env, [](const auto& e) { return e.starts_with("HOME="); })) {
            env.push_back("HOME=" + scratch.string());
        }
        return env;
    }
    CliResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        return CliProcess(Args(std::move(args)), scratch, Environment(env)).Wait();
    }

    // The settings file the client reads (what the graphical client writes).
    std::filesystem::path SettingsFile() const { return config / "Morrowlyn" / "Tarnwick.conf"; }
    // Writes site.dat into the program home.
    void WriteSites(const std::vector<SiteSetting>& sites) const;
    // Writes the settings file: "Name=value" lines of the settings group.
    void WriteSettings(const std::string& lines) const {
        std::filesystem::create_directories(SettingsFile().parent_path());
        WriteFile(SettingsFile(), "[Settings]\n" + lines);
    }

    tarnwick::testing::ScratchDirectory scratchDirectory;  // removed with the test
    std::filesystem::path scratch = scratchDirectory.path();
    std::filesystem::path home = scratch / "home";
    std::filesystem::path config = scratch / "config";
};

// Against a real FTP server, on its disk. A TEST_P runs passive and (parameter false) active.
class CliRealServerTest : public CliTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { ASSERT_TRUE(real.Running()) << real.Error(); }
    // The server's URL for `path`, with the full login or (anonymous) none.
    std::string Url(const std::string& path, bool anonymous = false) const {
        const std::string login = std::string(real.kUser) + ":" + real.kPassword + "@";
        return "ftp://" + (anonymous ? "" : login) + "127.0.0.1:" + std::to_string(real.Port()) +
               path;
    }
    // Run, in the mode of the parameter.
    CliResult RunMode(std::vector<std::string> args) {
        if (!GetParam()) args.insert(args.begin(), "--active");
        return Run(std::move(args));
    }

    RealFtpServer real;
};
using CliTreeTest = CliRealServerTest;  // runs in passive mode only

}  // namespace tarnwick::test
