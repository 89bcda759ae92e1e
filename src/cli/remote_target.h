// Turning a command's URL (or, with --site, a remote path) and the credential options into
// the site a session is opened with. Pure functions; called on the main thread before any
// session exists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli_options.h"
#include "sites/site_setting.h"

namespace tarnwick::cli {

// What of the login the URL, the options and the site list left open (credentials.h fills
// it in): nothing; the password of a named user; or the whole login of a URL without a user
// (anonymous unless something else has one).
enum class OpenLogin { kNone, kPassword, kUserAndPassword };

struct RemoteTarget {
    SiteSetting site;  // address, port, login data and data connection mode
    std::string path;  // the remote path, "/" when the URL names none
    OpenLogin openLogin = OpenLogin::kNone;
};

// The site of `sites` named `name` (names are compared without regard to case, as the site
// list keeps them unique that way); null when there is none.
const SiteSetting* FindSiteByName(const std::vector<SiteSetting>& sites, std::string_view name);

// Makes the target of a command.
// Without --site, `argument` is an ftp://, ftpes:// or ftps:// URL (which chooses the TLS); its
// host address selects the site of `sites` with that address (the last one, as the site list's
// lookup does), if any. With --site NAME, the site comes from `sites` by name and `argument` is a
// remote path: an absolute one, or one relative to the site's default remote directory.
// Credentials, first found wins: the URL's user and password; --user and --password; the
// site's login (its password only for the site's own user name); else an anonymous login.
// `target.openLogin` tells what is still open.
// Passive data connections unless --active; a --site site keeps its own mode.
// False (with a one-line `error`) for a bad URL or path, or an unknown site name.
bool MakeRemoteTarget(std::string_view argument, const CliOptions& options,
                      const std::vector<SiteSetting>& sites, RemoteTarget& target,
                      std::string& error);

// The site for a host address named by a queue file: the site of `sites` with that address
// (the last one), else a new site on port 21; logins as MakeRemoteTarget finds them. The
// site's own data connection mode, else passive; active with --active.
// `openLogin`, when given, gets what of the login is left open.
SiteSetting SiteForQueueHost(const std::string& host, const CliOptions& options,
                             const std::vector<SiteSetting>& sites, OpenLogin* openLogin = nullptr);

}  // namespace tarnwick::cli
