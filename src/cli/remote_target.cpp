#include "remote_target.h"

#include <algorithm>
#include <cctype>

#include "listing/paths.h"
#include "listing/text_utils.h"
#include "listing/url.h"

namespace tarnwick::cli {

namespace {

void SetAnonymous(SiteSetting& site) {
    site.logintype = kLoginAnonymous;
    site.username = "anonymous";
    site.password.clear();  // the session sends the AnonymousPass setting
}

// `known`: the site of site.dat for this host, if any. The URL's user and password are
// given as `urlUser` and `urlPassword` (empty when it names none). Returns what is left open.
OpenLogin ApplyCredentials(const std::string& urlUser, const std::string& urlPassword,
                           const CliOptions& options, const SiteSetting* known, SiteSetting& site) {
    const std::string user = !urlUser.empty() ? urlUser : options.user.value_or("");
    const bool passwordGiven = !urlPassword.empty() || options.password.has_value();
    const std::string password = !urlPassword.empty() ? urlPassword : options.password.value_or("");
    if (known != nullptr && !passwordGiven && (user.empty() || user == known->username)) {
        site.logintype = known->logintype;
        site.username = known->username;
        site.password = known->password;
        if (site.logintype == kLoginAnonymous) SetAnonymous(site);
        return site.logintype == kLoginNormal && site.password.empty() ? OpenLogin::kPassword
                                                                       : OpenLogin::kNone;
    }
    if (user.empty() && !passwordGiven) {
        SetAnonymous(site);
        return OpenLogin::kUserAndPassword;
    }
    site.logintype = kLoginNormal;
    site.username = user.empty() ? "anonymous" : user;
    site.password = password;
    return passwordGiven ? OpenLogin::kNone : OpenLogin::kPassword;
}

const SiteSetting* FindSiteByAddress(const std::vector<SiteSetting>& sites,
                                     std::string_view address) {
    // The last one wins, as in the site list's own lookup.
    const auto found = std::ranges::find_if(
        sites.rbegin(), sites.rend(), [&](const auto& site) { return site.address == address; });
    return found == sites.rend() ? nullptr : &*found;
}

// --tls and --insecure apply to every site of the run; an ftpes:// or ftps:// URL chooses
// its own kind of TLS.
void ApplyTlsOptions(const CliOptions& options, TlsMode urlTls, SiteSetting& site) {
    if (urlTls != kTlsNone) {
        site.tls = urlTls;
    } else if (options.tls) {
        site.tls = kTlsExplicit;
    }
    if (options.insecure) site.tlsAcceptUnverified = true;
    if (options.trustFingerprint) site.tlsPinnedFingerprint = *options.trustFingerprint;
    if (options.caFile) site.tlsCaFile = *options.caFile;
}

bool TargetOfUrl(std::string_view url, const CliOptions& options,
                 const std::vector<SiteSetting>& sites, RemoteTarget& target, std::string& error) {
    UrlParts parts;
    std::string reason;
    if (!ParseUrl(url, parts, reason)) {
        error = reason;
        return false;
    }
    if (parts.service != kServiceFtp) {
        error = "not an ftp URL: '" + std::string(url) + "'";
        return false;
    }
    target.site.name = parts.server;
    target.site.address = parts.server;
    target.site.port = parts.port;
    target.site.passive = options.active ? 0 : 1;
    ApplyTlsOptions(options, parts.tls, target.site);
    target.openLogin = ApplyCredentials(parts.user, parts.password, options,
                                        FindSiteByAddress(sites, parts.server), target.site);
    target.path = parts.path.empty() ? "/" : parts.path;
    return true;
}

bool TargetOfSite(std::string_view path, const CliOptions& options,
                  const std::vector<SiteSetting>& sites, RemoteTarget& target, std::string& error) {
    const SiteSetting* site = FindSiteByName(sites, *options.site);
    if (site == nullptr) {
        error = "no site named '" + *options.site + "' in " + "site.dat";
        return false;
    }
    if (path.find("://") != std::string_view::npos) {
        error = "with --site, give a remote path, not a URL: '" + std::string(path) + "'";
        return false;
    }
    target.site = *site;
    if (options.active) target.site.passive = 0;
    ApplyTlsOptions(options, kTlsNone, target.site);
    target.openLogin = ApplyCredentials({}, {}, options, site, target.site);
    const std::string base = site->defremotedir.empty() ? "/" : site->defremotedir;
    target.path = path.starts_with('/') ? std::string(path) : JoinPath(base, path, '/');
    if (target.path.empty()) target.path = "/";
    return true;
}

}  // namespace

const SiteSetting* FindSiteByName(const std::vector<SiteSetting>& sites, std::string_view name) {
    const auto found = std::ranges::find_if(
        sites, [&](const SiteSetting& site) { return EqualsIgnoringCase(site.name, name); });
    return found == sites.end() ? nullptr : &*found;
}

SiteSetting SiteForQueueHost(const std::string& host, const CliOptions& options,
                             const std::vector<SiteSetting>& sites, OpenLogin* openLogin) {
    const SiteSetting* known = FindSiteByAddress(sites, host);
    SiteSetting site;
    if (known != nullptr) {
        site = *known;
    } else {
        site.name = host;
        site.address = host;
        site.passive = 1;
    }
    if (options.active) site.passive = 0;
    ApplyTlsOptions(options, kTlsNone, site);
    const OpenLogin open = ApplyCredentials({}, {}, options, known, site);
    if (openLogin != nullptr) *openLogin = open;
    return site;
}

bool MakeRemoteTarget(std::string_view argument, const CliOptions& options,
                      const std::vector<SiteSetting>& sites, RemoteTarget& target,
                      std::string& error) {
    target = RemoteTarget{};
    return options.site ? TargetOfSite(argument, options, sites, target, error)
                        : TargetOfUrl(argument, options, sites, target, error);
}

}  // namespace tarnwick::cli
