// Shared pieces of the session tests: settings with small delays, a site on the scripted
// server, the scripted dialogue of a login and of the worker's start-up, and a fixture that
// owns server, observer and session in the right order (the session goes first).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "recording_observer.h"
#include "scripted_ftp_server.h"
#include "session/ftp_session.h"

namespace tarnwick::test {

// Every wait of a test is bounded by this; a passing test never comes near it.
inline constexpr auto kWait = std::chrono::milliseconds(10'000);

inline constexpr const char* kListing = "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 pub\r\n";

// Small delays, and a cache home of the tests' own, so no test writes outside the build tree.
inline std::shared_ptr<AppSettings> QuickSettings() {
    auto settings = std::make_shared<AppSettings>();
    settings->retryDelay = 0;
    settings->errorRetry = settings->fileRetry = 2;
    settings->keepAlive = settings->enableCache = false;
    const char* tmp = std::getenv("TARNWICK_TEST_TMP");
    const std::filesystem::path home =
        std::filesystem::path(tmp != nullptr ? tmp : "/tmp") / "session-cache";
    std::filesystem::create_directories(home);
    settings->cacheHomeDirectory = home.string();
    return settings;
}

inline SiteSetting SiteOn(uint16_t port, const std::string& startDirectory = "/") {
    // Name, address, port, user, password, login type, host type, local and remote start
    // directory, passive.
    return {"scripted",   "127.0.0.1", port, "tester",       "secret",
            kLoginNormal, 0,           "",   startDirectory, 1};
}

// Greeting, USER and PASS of one connection.
inline void ScriptLogin(ScriptedFtpServer& server) {
    server.Greeting("220 scripted server ready\r\n");
    server.Expect("user tester").Reply("331 password please\r\n");
    server.Expect("pass secret").Reply("230 logged in\r\n");
}

// What the worker does right after logging in: PWD, CWD into the start directory unless it
// is the root (a PWD follows a CWD that succeeded), and a listing of the current directory.
inline void ScriptStartup(ScriptedFtpServer& server, const std::string& startDirectory = "/",
                          const std::string& cwdReply = "250 directory changed\r\n") {
    ScriptLogin(server);
    server.Expect("pwd").Reply("257 \"/\" is the current directory\r\n");
    if (startDirectory != "/") {
        server.Expect("cwd " + startDirectory).Reply(cwdReply);
        if (cwdReply.starts_with("250")) {
            server.Expect("pwd").Reply("257 \"" + startDirectory + "\"\r\n");
        }
    }
    server.Expect("pasv").Passive();
    server.Expect("list").Reply("150 listing\r\n").SendData(kListing).Reply("226 done\r\n");
}

// TYPE I, PASV and a RETR of `path` that sends `data`.
inline void ScriptBinaryRetr(ScriptedFtpServer& server, const std::string& path,
                             const std::string& data) {
    server.Expect("type i").Reply("200 binary\r\n");
    server.Expect("pasv").Passive();
    server.Expect("retr " + path).Reply("150 sending\r\n").SendData(data).Reply("226 done\r\n");
}

// A UNIX listing line for a file or a directory.
inline std::string Line(const std::string& name, bool directory = false, int size = 5) {
    return std::string(directory ? "drwxr-xr-x" : "-rw-r--r--") + " 1 ftp ftp " +
           std::to_string(size) + " Jan 01 2020 " + name + "\r\n";
}

// CWD into a directory followed by its listing, as the remote expansion and a retried
// upload do it.
inline void ScriptEnterAndList(ScriptedFtpServer& server, const std::string& dir,
                               const std::string& listing) {
    server.Expect("cwd " + dir).Reply("250 ok\r\n");
    server.Expect("pwd").Reply("257 \"" + dir + "\"\r\n");
    server.Expect("pasv").Passive();
    server.Expect("list").Reply("150 listing\r\n").SendData(listing).Reply("226 done\r\n");
}

class SessionTest : public ::testing::Test {
protected:
    // Opens the session on the scripted server (the script is written by the test first).
    CFtpSession& Open(const std::string& startDirectory = "/") {
        session = std::make_unique<CFtpSession>(SiteOn(server.Port(), startDirectory), settings,
                                                observer);
        return *session;
    }

    // Opens the session, starts the worker and waits until its first connect has finished.
    void OpenAndStart(const std::string& startDirectory = "/", int expected = kResultOk) {
        Open(startDirectory);
        ASSERT_TRUE(session->StartWorker());
        ASSERT_EQ(observer.WaitForCommandFinished(CmdConnect, kWait), expected)
            << observer.FormattedLog();
    }

    // Posts a command and waits for its result.
    std::optional<int> Run(const SessionCommand& cmd) {
        if (!session->PostCommand(cmd)) return std::nullopt;
        return observer.WaitForCommandFinished(cmd.code, kWait);
    }

    static SessionCommand Command(int code, std::string firstArg = "") {
        SessionCommand cmd;
        cmd.code = code;
        cmd.firstArg = std::move(firstArg);
        return cmd;
    }

    ScriptedFtpServer server;
    RecordingObserver observer;
    std::shared_ptr<AppSettings> settings = QuickSettings();
    std::unique_ptr<CFtpSession> session;  // last: destroyed (worker stopped) first
};

}  // namespace tarnwick::test
