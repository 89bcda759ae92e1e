// Runs tarnwick-cli as a child process for the integration tests: stdin from /dev/null,
// stdout and stderr into files of the test's scratch directory, the test's environment plus
// a few overrides. Every wait is bounded; a child still running at its deadline is killed
// (and the test fails), and one still running when the object goes is killed and reaped.
//
// Threads: the test thread only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "scratch_directory.h"

namespace tarnwick::test {

struct CliResult {
    int status = -1;  // exit status; 128 + signal number for a child ended by a signal
    std::string out;
    std::string err;
};

class CliProcess {
public:
    // Starts TARNWICK_CLI_PATH with `args`; `env` entries ("NAME=value") replace or extend
    // the test's environment. Output files go into `scratch`.
    // With `stderrTerminal`, the child's stderr is a pseudo-terminal instead of a file (what
    // the child wrote there is collected all the same).
    CliProcess(const std::vector<std::string>& args, const std::filesystem::path& scratch,
               const std::vector<std::string>& env = {}, bool stderrTerminal = false);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const;
    // Waits for the end (at most `limit`) and collects the output.
    CliResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    void DrainTerminal();

    pid_t pid_ = -1;
    int terminal_ = -1;         // the pseudo-terminal's master side, when there is one
    std::string terminalText_;  // what the child wrote to it so far
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

}  // namespace tarnwick::test
