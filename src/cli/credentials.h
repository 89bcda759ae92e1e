// Where a command's login comes from when its URL and options leave it open: a URL without a
// password takes one from ~/.netrc (as curl reads it), then from TARNWICK_PASSWORD, then from
// a prompt on the terminal (only when the URL names a user). A URL without a user may take
// its whole login from .netrc; otherwise it stays anonymous and needs no password.
//
// Threads: the main thread, before any session exists (the prompt changes the terminal).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "remote_target.h"

namespace tarnwick::cli {

struct NetrcLogin {
    std::string login;
    std::string password;
};

// The login .netrc text gives for `host`: the first "machine" entry naming the host (without
// regard to case) and, when `user` is not empty, that login; else the "default" entry on the
// same terms. Tokens are separated by white space; a token may be a double-quoted string
// with backslash escapes; "macdef" bodies (up to an empty line) are skipped and "account" is
// read and ignored. Nothing when no entry fits.
std::optional<NetrcLogin> FindNetrcLogin(std::string_view text, std::string_view host,
                                         std::string_view user);

// The sources of a login; SystemCredentialSources() reads the real ones.
struct CredentialSources {
    std::string netrcPath;  // empty: none
    std::optional<std::string> environmentPassword;
    // Asks for a password with the given prompt; null when stdin is no terminal.
    std::function<std::optional<std::string>(const std::string& prompt)> prompt;
};

// $HOME/.netrc (none without HOME), TARNWICK_PASSWORD, and the terminal prompt when stdin
// is a terminal.
CredentialSources SystemCredentialSources();

// Fills in the login of `target` where target.openLogin says it is open. A .netrc that
// group or others may read is not used: `warn` gets the reason.
void CompleteLogin(RemoteTarget& target, const CredentialSources& sources,
                   const std::function<void(const std::string&)>& warn);

// Writes `prompt` to stderr and reads one line from stdin with echo off. The terminal's
// mode is restored on every way out: the line read, end of file, an error, and a signal
// that ends the process. Nothing on end of file or error.
std::optional<std::string> ReadPasswordFromTerminal(const std::string& prompt);

}  // namespace tarnwick::cli
