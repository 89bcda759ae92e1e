// Turning a command's URL and the credential options into the site a session is opened with.
// Pure functions; called on the main thread before any session exists.
#pragma once

#include <string>
#include <string_view>

#include "cli_options.h"
#include "sites/site_setting.h"

namespace tarnwick::cli {

struct RemoteTarget {
    SiteSetting site;  // address, port, login data and data connection mode
    std::string path;  // the URL's path, "/" when it names none
};

// Parses an ftp:// URL. Credentials: the URL's user and password, else --user and
// --password, else an anonymous login. False (with a one-line `error`) when the text is no
// ftp URL.
bool MakeRemoteTarget(std::string_view url, const CliOptions& options, RemoteTarget& target,
                      std::string& error);

}  // namespace tarnwick::cli
