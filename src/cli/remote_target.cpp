#include "remote_target.h"

#include "listing/url.h"

namespace tarnwick::cli {

namespace {

// The URL's own user and password first, then the options; no user and no password at all
// is an anonymous login (the session sends the AnonymousPass setting).
void ApplyCredentials(const UrlParts& parts, const CliOptions& options, SiteSetting& site) {
    std::string user = !parts.user.empty() ? parts.user : options.user.value_or("");
    std::string password = !parts.password.empty() ? parts.password : options.password.value_or("");
    if (user.empty() && password.empty() && !options.password) {
        site.logintype = kLoginAnonymous;
        site.username = "anonymous";
        site.password.clear();
        return;
    }
    site.logintype = kLoginNormal;
    site.username = user.empty() ? "anonymous" : std::move(user);
    site.password = std::move(password);
}

}  // namespace

bool MakeRemoteTarget(std::string_view url, const CliOptions& options, RemoteTarget& target,
                      std::string& error) {
    UrlParts parts;
    if (!ParseUrl(url, parts) || parts.service != kServiceFtp) {
        error = "not an ftp URL: '" + std::string(url) + "'";
        return false;
    }
    target = RemoteTarget{};
    target.site.name = parts.server;
    target.site.address = parts.server;
    target.site.port = parts.port;
    target.site.passive = options.active ? 0 : 1;
    ApplyCredentials(parts, options, target.site);
    target.path = parts.path.empty() ? "/" : parts.path;
    return true;
}

}  // namespace tarnwick::cli
