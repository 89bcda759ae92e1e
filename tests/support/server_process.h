// What the real servers of the tests share: a server program started for one test in a process
// group of its own, on 127.0.0.1 (or ::1) and a port the system chose, with stdin from /dev/null
// and its output in server.log of a scratch directory that also holds its configuration and the
// directory it serves, Root(). Stop() and the destructor end the group (SIGTERM, bounded wait,
// SIGKILL) and then the directory goes. RealFtpServer, VsftpdServer and ProftpdServer write
// their configuration and name their command line.
//
// A server that cannot start is a test failure, never a skip: ADD_FAILURE() reports the reason
// (Error()) and Running() is then false.
//
// Threads: one test thread uses the object; it owns the process group and the directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "scratch_directory.h"

namespace tarnwick::test {

// How Spawn() sets up a child: stdin from /dev/null, stdout and stderr appended to files, the
// parent's descriptors `inherited` (parent's, child's), the test's environment with the
// "NAME=value" entries of `environment` replacing or adding variables, no signal blocked and
// SIGINT at its default whatever the test runner's own state.
struct ChildSetup {
    std::filesystem::path out;
    std::filesystem::path err;
    std::vector<std::pair<int, int>> inherited{};
    std::vector<std::string> environment{};
    bool ownGroup = false;  // in a process group of its own
};

// Starts `argv` (argv[0] a path): its pid, or -1 with `error` saying why.
pid_t Spawn(std::vector<std::string> argv, const ChildSetup& setup, std::string& error);
// Waits up to `limit` for the child `pid` to end, then sends `target` (the child, or minus its
// group) SIGKILL and waits on; `status` is its wait status. False when it had to be killed.
bool ReapWithin(pid_t pid, pid_t target, std::chrono::milliseconds limit, int& status);

class ServerProcess {
public:
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }  // why it is not running
    uint16_t Port() const { return port_; }
    const std::string& Address() const { return address_; }
    // The directory served: tests create and compare files here directly.
    const std::filesystem::path& Root() const { return root_; }
    // The server's output and every other *.log file of its directory.
    std::string Log() const;

    // Stops the server for good; open connections are cut, later ones refused.
    void Stop();

protected:
    // `name` introduces the failure messages.
    explicit ServerProcess(std::string name, std::string address = "127.0.0.1");
    ~ServerProcess();

    // Sets Port() to one that is free now, for a server that binds it itself.
    void ChooseFreePort();
    // Runs `argv` (argv[0] a path) with the descriptors `inherited` (parent's, child's) and
    // waits until the server takes a connection on Port(), with `greeting` until it also sends
    // a 220 line. False when it did not start (reported).
    bool Launch(std::vector<std::string> argv,
                const std::vector<std::pair<int, int>>& inherited = {}, bool greeting = false);
    void Fail(std::string reason);

    tarnwick::testing::ScratchDirectory directory_;
    std::filesystem::path root_ = directory_ / "root";
    uint16_t port_ = 0;

private:
    std::string name_;
    std::string address_;
    pid_t pid_ = -1;
    std::string error_;
};

}  // namespace tarnwick::test
