#include "cli_options.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "session/trust_store.h"

namespace tarnwick::cli {

namespace {

struct CommandShape {
    std::string_view name;
    size_t minArgs;
    size_t maxArgs;
    std::string_view synopsis;
    bool takesUrl = true;  // works on a server: --site applies
};

constexpr size_t kAnyNumber = std::numeric_limits<size_t>::max();

constexpr CommandShape kCommands[] = {
    {"ls", 1, 1, "ls URL"},
    {"get", 1, 2, "get URL [LOCALDIR]"},
    {"put", 2, kAnyNumber, "put PATH... URL"},
    {"rm", 1, 1, "rm URL"},
    {"rmdir", 1, 1, "rmdir URL"},
    {"mkdir", 1, 1, "mkdir URL"},
    {"rename", 2, 2, "rename URL NEWNAME"},
    {"cache", 1, 1, "cache URL"},
    {"search", 1, kAnyNumber, "search [--regex] PATTERN [HOST...]", false},
    {"queue", 2, 2, "queue run|show FILE.que", false},
    {"sites", 0, 0, "sites", false},
};

const CommandShape* FindCommand(std::string_view name) {
    for (const CommandShape& shape : kCommands) {
        if (shape.name == name) return &shape;
    }
    return nullptr;
}

// A whole decimal number within [min, max].
bool ParseNumber(std::string_view text, int min, int max, int& value) {
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

bool ParseOverwrite(std::string_view text, int& action) {
    constexpr std::pair<std::string_view, int> kNames[] = {
        {"skip", kSkip}, {"resume", kResume}, {"overwrite", kOverwrite}, {"auto", kAuto}};
    for (const auto& [name, value] : kNames) {
        if (text == name) {
            action = value;
            return true;
        }
    }
    return false;
}

bool IsValuedOption(std::string_view name) {
    return name == "--home" || name == "--user" || name == "--password" || name == "--overwrite" ||
           name == "--retries" || name == "--retry-delay" || name == "--timeout" ||
           name == "--site" || name == "--trust-fingerprint" || name == "--ca-file";
}

// Applies an option that takes a value; false (with `error`) for a bad value.
bool ApplyValuedOption(std::string_view name, const std::string& value, CliOptions& options,
                       std::string& error) {
    constexpr int kMaxNumber = 1'000'000;
    int number = 0;
    if (name == "--home") {
        options.home = value;
    } else if (name == "--user") {
        options.user = value;
    } else if (name == "--password") {
        options.password = value;
    } else if (name == "--site") {
        options.site = value;
    } else if (name == "--trust-fingerprint") {
        const std::string pin = NormalizeFingerprint(value);
        if (pin.empty()) {
            error =
                "--trust-fingerprint takes a SHA-256 fingerprint (64 hex digits, colons "
                "optional), not '" +
                value + "'";
            return false;
        }
        options.trustFingerprint = pin;
    } else if (name == "--ca-file") {
        options.caFile = value;
    } else if (name == "--overwrite") {
        int action = kAuto;
        if (!ParseOverwrite(value, action)) {
            error = "--overwrite takes skip, resume, overwrite or auto, not '" + value + "'";
            return false;
        }
        options.overwrite = action;
    } else if (!ParseNumber(value, name == "--timeout" ? 1 : 0, kMaxNumber, number)) {
        error = std::string(name) + " takes a whole number of " +
                (name == "--retries" ? "retries" : "seconds") + ", not '" + value + "'";
        return false;
    } else if (name == "--retries") {
        options.retries = number;
    } else if (name == "--retry-delay") {
        options.retryDelay = number;
    } else {
        options.timeout = number;
    }
    return true;
}

// Applies a flag; false when `name` is no known flag.
bool ApplyFlag(std::string_view name, CliOptions& options) {
    if (name == "--active") {
        options.active = true;
    } else if (name == "--tls") {
        options.tls = true;
    } else if (name == "--insecure") {
        options.insecure = true;
    } else if (name == "-v" || name == "--verbose") {
        options.verbose = true;
    } else if (name == "--quiet" || name == "-q") {
        options.quiet = true;
    } else if (name == "--regex") {
        options.regex = true;
    } else {
        return false;
    }
    return true;
}

bool CheckArguments(const CliOptions& options, std::string& error) {
    if (options.command.empty()) {
        error = "no command given (see --help)";
        return false;
    }
    const CommandShape* shape = FindCommand(options.command);
    if (shape == nullptr) {
        error = "unknown command '" + options.command + "' (see --help)";
        return false;
    }
    const size_t count = options.arguments.size();
    if (count < shape->minArgs || count > shape->maxArgs) {
        error = std::string(count < shape->minArgs ? "missing" : "too many") +
                " arguments; usage: tarnwick-cli [options] " + std::string(shape->synopsis);
        return false;
    }
    if (options.command == "queue" && options.arguments[0] != "run" &&
        options.arguments[0] != "show") {
        error = "queue takes run or show, not '" + options.arguments[0] + "'";
        return false;
    }
    if (options.site && !shape->takesUrl) {
        error = "--site is not an option of " + options.command;
        return false;
    }
    if (options.regex && options.command != "search") {
        error = "--regex is an option of search only";
        return false;
    }
    return true;
}

}  // namespace

ParseOutcome ParseCommandLine(std::span<char* const> args, CliOptions& options,
                              std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string arg = args[i];
        const bool looksLikeOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!looksLikeOption) {
            if (options.command.empty()) {
                options.command = arg;
            } else {
                options.arguments.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            return ParseOutcome::kHelp;
        } else if (arg == "--version") {
            return ParseOutcome::kVersion;
        } else if (ApplyFlag(arg, options)) {
            continue;
        } else {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (!IsValuedOption(name)) {
                error = "unknown option '" + arg + "' (see --help)";
                return ParseOutcome::kUsageError;
            }
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + name + " needs a value";
                return ParseOutcome::kUsageError;
            }
            if (!ApplyValuedOption(name, value, options, error)) return ParseOutcome::kUsageError;
        }
    }
    return CheckArguments(options, error) ? ParseOutcome::kRun : ParseOutcome::kUsageError;
}

std::string UsageText() {
    return "usage: tarnwick-cli [options] COMMAND ARGUMENTS\n"
           "\n"
           "commands:\n"
           "  ls URL                  list a remote directory: d|-, size, date, name\n"
           "  get URL [LOCALDIR]      download a file into LOCALDIR (default: the current\n"
           "                          directory); a URL ending in \"/\" downloads the whole\n"
           "                          directory into LOCALDIR/NAME/\n"
           "  put PATH... URL         upload files and directories (recursively) into the\n"
           "                          remote directory URL\n"
           "  rm URL                  delete a remote file; a URL ending in \"/\" deletes the\n"
           "                          directory with everything in it\n"
           "  rmdir URL               remove an empty remote directory\n"
           "  mkdir URL               make a remote directory\n"
           "  rename URL NEWNAME      rename a remote file or directory\n"
           "  cache URL               store the listings of the directory URL and of every\n"
           "                          directory below it in the cache\n"
           "  search [--regex] PATTERN [HOST...]\n"
           "                          search the cached listings (no connection) for names\n"
           "                          matching PATTERN, a wildcard (* and ?) or with --regex\n"
           "                          a regular expression; all cached hosts when none is\n"
           "                          named; prints one ftp:// URL a line\n"
           "  queue show FILE.que     print a queue file: host, operation, kind, server path,\n"
           "                          client path, size (TAB-separated, one item a line)\n"
           "  queue run FILE.que      run every queue of the file to the end, one host after\n"
           "                          the other in file order (port and login from the site\n"
           "                          of site.dat with the host's address); the status is\n"
           "                          the highest result of the hosts (1 when items were\n"
           "                          left over), and Ctrl-C ends the whole run with 2\n"
           "  sites                   list the sites of site.dat: name, address, port, user,\n"
           "                          login type, data connection mode (never the password)\n"
           "\n"
           "URLs: ftp://[user[:password]@]host[:port]/path; with --site, a remote path.\n"
           "The path, user and password are %XX-decoded (a space may be %20, \"%\" is %25).\n"
           "ftpes:// URLs (or --tls) use explicit TLS: AUTH TLS before the login, and every\n"
           "data connection over TLS; a server that refuses it ends the run with 6.\n"
           "ftps:// URLs use implicit TLS: TLS from the first byte, port 990 by default.\n"
           "Certificates accepted in the graphical client (certificates.dat of the program\n"
           "home) are trusted here too; one that changed since fails with 6.\n"
           "Login: the URL's user and password, else --user/--password, else the site of\n"
           "site.dat with the URL's host address, else anonymous. A user without a password\n"
           "takes it from ~/.netrc (ignored with a warning when others may read it), then\n"
           "$TARNWICK_PASSWORD, then, on a terminal, a prompt without echo.\n"
           "Settings: those of the graphical client; the options below override them for\n"
           "this run only and are never saved.\n"
           "\n"
           "options:\n"
           "  --home DIR              program home for this run (site.dat, cache)\n"
           "  --site NAME             connect with the site NAME of site.dat\n"
           "  --active                active data connections (PORT); else passive (with\n"
           "                          --site: the site's mode)\n"
           "  --tls                   require explicit TLS, as an ftpes:// URL does\n"
           "  --insecure              accept a server certificate that does not verify\n"
           "                          (else it fails with 6: \"certificate of HOST not\n"
           "                          trusted: REASON\")\n"
           "  --trust-fingerprint HEX accept only the server certificate with this SHA-256\n"
           "                          fingerprint (64 hex digits, colons optional), even\n"
           "                          one that would verify; another fails with 6\n"
           "  --ca-file PEM           trust the certificates of PEM besides the system's\n"
           "                          (the server's own certificate, or its CA); the host\n"
           "                          name or IP address must still match\n"
           "  --user U                user name when the URL names none\n"
           "  --password P            password when the URL names none; a password on\n"
           "                          the command line (here or in the URL) is visible\n"
           "                          to other users of this computer\n"
           "  -v                      the session log on stderr (with the TLS version and\n"
           "                          cipher of a secured connection)\n"
           "  --quiet                 no progress line and no error lines\n"
           "  --overwrite ACTION      existing targets: skip, resume, overwrite or auto\n"
           "                          (default: the settings' default overwrite action)\n"
           "  --retries N             connection and per-file retries, queue cycles\n"
           "  --retry-delay S         seconds to wait before a retry\n"
           "  --timeout S             seconds an operation may wait for the server\n"
           "  --help                  show this help\n"
           "  --version               show the version\n"
           "\n"
           "exit status: 0 success, 1 failure, 2 interrupted, 3 timed out, 4 connection\n"
           "closed, 5 gave up connecting, 6 refused, 64 bad usage\n";
}

}  // namespace tarnwick::cli
