// The command line of tarnwick-cli: options, the command and its arguments.
// Pure parsing without side effects; called once by main() on the main thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "session/session_observer.h"

namespace tarnwick::cli {

// Exit status for bad usage (an unknown option or command, a missing argument, an unparsable
// URL, a missing local file); every other non-zero status is a session result code.
inline constexpr int kExitUsage = 64;

struct CliOptions {
    std::optional<std::string> home;  // --home: the program home for this run
    bool active = false;              // --active: PORT instead of PASV
    bool tls = false;                 // --tls: explicit TLS (AUTH TLS) is required
    bool insecure = false;            // --insecure: accept a certificate that does not verify
    std::optional<std::string> trustFingerprint;  // --trust-fingerprint: the pin, normalized
    std::optional<std::string> caFile;            // --ca-file: extra trusted certificates
    std::optional<std::string> user;
    std::optional<std::string> password;
    bool verbose = false;  // -v: the session log on stderr
    bool quiet = false;    // --quiet: no progress line, no error lines
    // --overwrite: the answer for an existing target; without it, the settings' default
    // overwrite action (the one the GUI's prompt preselects) is taken.
    std::optional<int> overwrite;
    std::optional<int> retries;       // connection and per-file retries
    std::optional<int> retryDelay;    // seconds
    std::optional<int> timeout;       // seconds: the deadline of the session's waits
    std::optional<std::string> site;  // --site: a site of site.dat by name
    bool regex = false;               // --regex (search): the pattern is a regular expression

    std::string command;  // "ls", "get", ... ("queue" takes "run" or "show" as argument 0)
    std::vector<std::string> arguments;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// Parses argv[1..]. Options may come before or after the command; "--" ends the options.
// On kUsageError, `error` holds one line (without "tarnwick-cli: " and newline).
ParseOutcome ParseCommandLine(std::span<char* const> args, CliOptions& options, std::string& error);

// The text of --help.
std::string UsageText();

}  // namespace tarnwick::cli
