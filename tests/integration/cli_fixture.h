// What the tarnwick-cli tests share: a fixture that runs the client with a program home and a
// settings directory of the test's own (the user's real settings are never read or written),
// and small helpers for outputs and scripted logins.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "scripted_ftp_server.h"
#include "sites/site_setting.h"

namespace tarnwick::test {

std::vector<std::string> Lines(const std::string& text);
bool HasLineStartingWith(const std::string& text, const std::string& start);
// Bytes that differ at every offset of a few kilobytes, so that a shifted copy shows.
std::string Pattern(size_t size);
// A loopback port that nothing listens on (bound, then released).
uint16_t ClosedPort();

// Scripts the start-up of a session: greeting, USER/PASS, PWD, CWD into `dir`, PWD.
void ScriptLogin(ScriptedFtpServer& server, const std::string& dir, const std::string& user = "u",
                 const std::string& password = "p");

SiteSetting Site(std::string name, std::string address, int port, std::string user,
                 std::string password, int loginType);

class CliTest : public ::testing::Test {
protected:
    // The client's own options for every run: the program home of the test.
    std::vector<std::string> Args(std::vector<std::string> args) const;
    // The environment of every run: the settings directory of the test, plus `env`.
    std::vector<std::string> Environment(std::vector<std::string> env = {}) const;
    CliResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {});

    // The settings file the client reads (what the graphical client writes).
    std::filesystem::path SettingsFile() const;
    // Writes site.dat into the program home.
    void WriteSites(const std::vector<SiteSetting>& sites) const;
    // Writes the settings file: "Name=value" lines of the settings group.
    void WriteSettings(const std::string& lines) const;

    tarnwick::testing::ScratchDirectory scratchDirectory;  // removed with the test
    std::filesystem::path scratch = scratchDirectory.path();
    std::filesystem::path home = scratch / "home";
    std::filesystem::path config = scratch / "config";
};

}  // namespace tarnwick::test
