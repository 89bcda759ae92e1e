#include "credentials.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "listing/text_utils.h"

namespace tarnwick::cli {

namespace {

bool IsNetrcSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The tokens of .netrc text, "macdef" bodies and "#" comments left out.
std::vector<std::string> NetrcTokens(std::string_view text) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < text.size()) {
        if (IsNetrcSpace(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '#') {
            const size_t end = text.find('\n', i);
            i = end == std::string_view::npos ? text.size() : end;
            continue;
        }
        std::string token;
        if (text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                token += text[i];
            }
            ++i;  // the closing quote
        } else {
            while (i < text.size() && !IsNetrcSpace(text[i])) token += text[i++];
        }
        if (!tokens.empty() && tokens.back() == "macdef") {
            tokens.pop_back();  // the macro's name is this token; its body ends at an empty line
            const size_t end = text.find("\n\n", i);
            i = end == std::string_view::npos ? text.size() : end + 2;
            continue;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

struct NetrcEntry {
    bool isDefault = false;
    std::string machine;
    NetrcLogin login;
};

std::vector<NetrcEntry> NetrcEntries(std::string_view text) {
    const std::vector<std::string> tokens = NetrcTokens(text);
    std::vector<NetrcEntry> entries;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        const bool hasValue = i + 1 < tokens.size();
        if (token == "default") {
            entries.push_back({true, {}, {}});
        } else if (token == "machine" && hasValue) {
            entries.push_back({false, tokens[++i], {}});
        } else if ((token == "login" || token == "password" || token == "account") && hasValue) {
            const std::string& value = tokens[++i];
            if (entries.empty() || token == "account") continue;
            (token == "login" ? entries.back().login.login : entries.back().login.password) = value;
        }
    }
    return entries;
}

// The text of the .netrc at `path`, unless it is missing, no regular file, or open to
// group or others (then `warning` says so).
std::optional<std::string> ReadNetrc(const std::string& path, std::string& warning) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    std::optional<std::string> text;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            warning = path +
                      " may be read or changed by group or others; not using it (chmod 600 " +
                      path + ")";
        } else {
            text.emplace();
            std::array<char, 4096> buffer{};
            ssize_t got = 0;
            while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
                text->append(buffer.data(), static_cast<size_t>(got));
            }
        }
    }
    close(fd);
    return text;
}

// The terminal mode to restore if a signal ends the process during the prompt.
termios savedTerminal{};
volatile sig_atomic_t terminalChanged = 0;

constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreTerminalAndEnd(int signal) {
    if (terminalChanged != 0) tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    raise(signal);  // SA_RESETHAND made the default action current: it ends the process
}

}  // namespace

std::optional<NetrcLogin> FindNetrcLogin(std::string_view text, std::string_view host,
                                         std::string_view user) {
    const std::vector<NetrcEntry> entries = NetrcEntries(text);
    for (const bool defaults : {false, true}) {
        for (const NetrcEntry& entry : entries) {
            if (entry.isDefault != defaults) continue;
            if (!defaults && !EqualsIgnoringCase(entry.machine, host)) continue;
            const bool fits = user.empty() ? !entry.login.login.empty()
                                           : entry.login.login.empty() || entry.login.login == user;
            if (fits) return entry.login;
        }
    }
    return std::nullopt;
}

CredentialSources SystemCredentialSources() {
    CredentialSources sources;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        sources.netrcPath = std::string(home) + "/.netrc";
    }
    if (const char* password = std::getenv("TARNWICK_PASSWORD"); password != nullptr) {
        sources.environmentPassword = password;
    }
    if (isatty(STDIN_FILENO) == 1) sources.prompt = ReadPasswordFromTerminal;
    return sources;
}

void CompleteLogin(RemoteTarget& target, const CredentialSources& sources,
                   const std::function<void(const std::string&)>& warn) {
    if (target.openLogin == OpenLogin::kNone) return;
    SiteSetting& site = target.site;
    const bool userNamed = target.openLogin == OpenLogin::kPassword;
    std::string warning;
    const std::optional<std::string> netrc =
        sources.netrcPath.empty() ? std::nullopt : ReadNetrc(sources.netrcPath, warning);
    if (!warning.empty()) warn(warning);
    const std::optional<NetrcLogin> found =
        netrc ? FindNetrcLogin(*netrc, site.address, userNamed ? site.username : "") : std::nullopt;
    if (found && (!userNamed || !found->password.empty())) {
        site.logintype = kLoginNormal;
        if (!userNamed) site.username = found->login;
        site.password = found->password;
        return;
    }
    if (!userNamed) return;  // anonymous
    if (sources.environmentPassword) {
        site.password = *sources.environmentPassword;
    } else if (sources.prompt) {
        site.password = sources.prompt("Password for " + site.username + "@" + site.address + ": ")
                            .value_or("");
    }
}

std::optional<std::string> ReadPasswordFromTerminal(const std::string& prompt) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios quiet{};
    const bool isTerminal = tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    std::array<struct sigaction, kEndingSignals.size()> previous{};
    if (isTerminal) {
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndEnd;
        restore.sa_flags = SA_RESETHAND;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < kEndingSignals.size(); ++i) {
            sigaction(kEndingSignals[i], &restore, &previous[i]);
        }
        quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        terminalChanged = 1;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool complete = false;
    char c = 0;
    ssize_t got = 0;
    while ((got = read(STDIN_FILENO, &c, 1)) == 1 || (got < 0 && errno == EINTR)) {
        if (got != 1) continue;
        if (c == '\n') {
            complete = true;
            break;
        }
        line += c;
    }
    if (isTerminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        terminalChanged = 0;
        for (size_t i = 0; i < kEndingSignals.size(); ++i) {
            sigaction(kEndingSignals[i], &previous[i], nullptr);
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!complete && line.empty()) return std::nullopt;
    return line;
}

}  // namespace tarnwick::cli
