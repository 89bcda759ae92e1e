// A scripted FTP server for dialogue tests of the FTP engine. It listens on 127.0.0.1 on a
// port chosen by the system and serves control connections on its own thread, one after the
// other, each with its own script: what the server sends when the client connects (usually
// the greeting), then steps that each expect one command line and carry out actions (replies,
// pauses, data connections, faults). It records every line the client sent, without CR LF.
//
//     ScriptedFtpServer srv;
//     srv.Greeting("220 hi\r\n");
//     srv.Expect("user anonymous").Reply("331 pw\r\n");
//     srv.Expect("pass guest@example.com").Reply("230 ok\r\n");
//     srv.Expect("pasv").Passive();
//     srv.Expect("list").Reply("150 here\r\n").SendData(listing).Reply("226 done\r\n");
//     ... run the client against 127.0.0.1:srv.Port() ...
//     EXPECT_TRUE(srv.WaitDone());
//     EXPECT_EQ(srv.Transcript(), (std::vector<std::string>{"user anonymous", ...}));
//
// A command that does not match the current step is a failure (see Failures()); the server
// answers "500 unexpected" and keeps expecting the same step. The one exception is FEAT where
// the script does not expect it: it gets "502 Command not implemented." and is not recorded,
// so a script plays a server without extensions unless it says otherwise. Every wait of the server
// is bounded (10 s a step); the destructor stops the thread and closes every socket at once,
// whether the script finished or not.
//
// Threads: build the script and read the results from any thread (all state is guarded by a
// lock); the server thread reads each step when it gets there, so steps may also be added
// while a client runs, as long as they are added before the client needs them. The server
// object owns its thread and all its sockets.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::test {

struct DataOptions {
    size_t chunkSize = 0;              // send in pieces of this size; 0 = all at once
    std::chrono::milliseconds gap{0};  // pause before every piece after the first
    // Send only this many bytes, then reset the connection (RST) instead of closing it.
    std::optional<size_t> resetAfter{};
    // Keep the data connection open after sending (no end of data); it is closed when the
    // control connection ends.
    bool stall = false;
};

struct ScriptedServerState;

// Adds actions to one step of a script; returned by ScriptedFtpServer's Expect... methods.
// Actions run in the order they were added. A handle stays usable as long as its server lives.
class ScriptStep {
public:
    // Sends these exact bytes on the control connection.
    ScriptStep& Reply(std::string bytes);
    // Waits before the next action.
    ScriptStep& Delay(std::chrono::milliseconds duration);

    // PASV: opens a data listener on 127.0.0.1, port 0, and replies
    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)\r\n" announcing `address` (dotted IPv4;
    // the listener stays on 127.0.0.1 whatever it says).
    ScriptStep& Passive(std::string address = "127.0.0.1");
    // PORT: takes the data address from the matched command line (loopback only;
    // anything else is a failure). Sends no reply: add one. The server connects only when a
    // data action needs the connection, so a PORT step without data actions never connects.
    ScriptStep& Active();

    // Data actions: open the data connection (accept after Passive, connect after Active),
    // move the bytes and close it, unless the options say otherwise.
    ScriptStep& SendData(std::string bytes, DataOptions options = {});
    // Receives until the client closes the data connection; see ReceivedData().
    ScriptStep& ReceiveData();

    // Faults that end the control connection. Steps added after one of these can never run
    // and are reported as a failure.
    ScriptStep& Drop();   // orderly close
    ScriptStep& Reset();  // close with RST
    // Sends nothing more: keeps the connection open (recording what the client sends) until
    // the client closes it, the next scripted connection arrives or the step bound passes.
    ScriptStep& Stall();
    // Sends `line` over and over (a reply that never ends) until the client closes the
    // connection or stops reading, or 64 MiB were sent; then closes.
    ScriptStep& Flood(std::string line);

private:
    friend class ScriptedFtpServer;
    ScriptStep(ScriptedServerState& state, size_t connection, size_t step)
        : state_(&state), connection_(connection), step_(step) {}
    template <typename Action>
    ScriptStep& Add(Action action);

    ScriptedServerState* state_;
    size_t connection_;
    size_t step_;  // 0: the actions run when the client connects
};

class ScriptedFtpServer {
public:
    ScriptedFtpServer();
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    uint16_t Port() const;

    // Script building; each call applies to the connection opened last by NextConnection()
    // (the first connection at the start).
    ScriptStep Greeting(std::string bytes);  // sent when the client connects
    ScriptStep Expect(std::string line);     // the exact line, without CR LF
    ScriptStep ExpectPrefix(std::string prefix);
    // Starts the script of the next control connection (a reconnect). The server accepts it
    // once the previous connection ended, or as soon as it arrives when the previous script is
    // finished or stalled.
    void NextConnection();

    // Waits until every step of every connection has run, or a failure was recorded, or the
    // timeout passed (default: the step bound). True when all ran and nothing failed.
    bool WaitDone(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // Every line the client sent, in order, without CR LF, of all connections.
    std::vector<std::string> Transcript() const;
    // What each ReceiveData action received, in order.
    std::vector<std::string> ReceivedData() const;
    // Descriptions of everything that went against the script, each starting with
    // "connection C, step S" (both counted from 0; step 0 is the connecting); empty when all
    // went to plan.
    std::vector<std::string> Failures() const;
    // Scripted control connections accepted so far.
    size_t AcceptedConnections() const;

private:
    ScriptStep AddStep(std::string description, std::function<bool(std::string_view)> match);

    std::unique_ptr<ScriptedServerState> state_;
};

}  // namespace tarnwick::test
