// Shared pieces of the protocol tests: a session driven on the test thread (no worker) against
// the scripted server, with its own scratch directory and cache home.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {

using testing::Pattern;
using testing::ReadFile;
using testing::WriteFile;

class FtpTest : public ::testing::Test {
protected:
    FtpTest() {
        settings->retryDelay = 0;
        settings->errorRetry = 0;
        settings->keepAlive = false;
        settings->cacheHomeDirectory = (scratch / "cache").string();
        settings->pOverwrite = false;          // no prompt: the suggested action
        settings->defaultOverwriteAction = 2;  // ... is Overwrite
        ScriptLogin(server);
    }

    // The session, connected and logged in (the scripted server's script starts with the
    // login), with a short default deadline.
    CFtpSession& Connect(bool passive = true) {
        SiteSetting site = SiteOn(server.Port());
        site.passive = passive ? 1 : 0;
        ConnectTo(site);
        EXPECT_TRUE(passive || session->listenSocket.Open());
        return *session;
    }
    // The same on another server (a real one), replacing any earlier session.
    CFtpSession& ConnectTo(const SiteSetting& site) {
        session = std::make_unique<CFtpSession>(site, settings, observer);
        session->SetDefaultTimeout(10);
        EXPECT_EQ(session->ConnectWithRetry(), kResultOk) << observer.FormattedLog();
        return *session;
    }
    CControlSocket& Control() { return session->controlSocket; }

    // Lines the client sent after logging in.
    std::vector<std::string> Commands() const {
        std::vector<std::string> lines = server.Transcript();
        lines.erase(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size()));
        return lines;
    }
    bool Logged(const std::string& text) const { return observer.Snapshot().CountLog(text) > 0; }

    testing::ScratchDirectory scratchDirectory;
    std::filesystem::path scratch = scratchDirectory.path();
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    ScriptedFtpServer server;
    RecordingObserver observer;
    std::unique_ptr<CFtpSession> session;  // last: closed first
};

using Lines = std::vector<std::string>;

// What a dialogue's client side can reach.
struct DialogueContext {
    CFtpSession& session;
    CControlSocket& ctl;
    ScriptedFtpServer& server;
    std::filesystem::path dir;  // the test's scratch directory
};

// One dialogue after login: the script, what the client does, and what must come of it.
struct Dialogue {
    const char* name;
    std::function<void(ScriptedFtpServer&)> script;
    std::function<int(DialogueContext&)> run;  // may check details itself
    int result;
    Lines commands;            // sent after login; a PORT line is compared as "port"
    std::string logLine = {};  // a line that must have been logged
    bool passive = true;
};

class DialogueTest : public FtpTest, public ::testing::WithParamInterface<Dialogue> {
protected:
    void RunDialogue() {
        const Dialogue& d = GetParam();
        d.script(server);
        Connect(d.passive);
        DialogueContext context{*session, session->controlSocket, server, scratch};
        EXPECT_EQ(d.run(context), d.result) << observer.FormattedLog();
        EXPECT_TRUE(server.WaitDone(std::chrono::seconds(10)))
            << ::testing::PrintToString(server.Failures());
        Lines commands = Commands();
        for (std::string& line : commands) line = line.starts_with("port ") ? "port" : line;
        EXPECT_EQ(commands, d.commands);
        EXPECT_TRUE(d.logLine.empty() || Logged(d.logLine)) << observer.FormattedLog();
    }
};

// A script of plain exchanges: each command answered by its reply.
inline std::function<void(ScriptedFtpServer&)> Replies(
    std::vector<std::pair<std::string, std::string>> steps) {
    return [steps](ScriptedFtpServer& server) {
        for (const auto& [command, reply] : steps) server.Expect(command).Reply(reply);
    };
}

inline std::string DialogueName(const ::testing::TestParamInfo<Dialogue>& info) {
    return info.param.name;
}

}  // namespace tarnwick::test
