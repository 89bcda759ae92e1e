#include "sites/transfer_url.h"

#include <filesystem>
#include <system_error>

#include "sites/site_list.h"
#include "sites/tls_url.h"

namespace tarnwick::gui {

std::optional<UrlParts> ParseFtpUrlText(std::string_view text, bool prefixOptional) {
    std::string url(text);
    if (prefixOptional && !url.starts_with("ftps://") && !url.starts_with("ftpes://")) {
        constexpr std::string_view prefix = "ftp://";
        if (url.starts_with(prefix)) url.erase(0, prefix.size());
        url.insert(0, prefix);
    }
    UrlParts parts;
    if (!ParseUrl(url, parts) || parts.service != kServiceFtp) return std::nullopt;
    return parts;
}

SiteSetting SiteForUrl(const std::vector<SiteSetting>& sites, const UrlParts& url,
                       std::string_view anonymousPass) {
    SiteSetting site = SiteForHost(sites, url.server, anonymousPass);
    if (url.tls != kTlsNone && site.tls == kTlsNone) {
        site.tls = url.tls;
        site.port = PortForTlsMode(site.port, kTlsNone, site.tls);
    }
    return site;
}

std::vector<std::shared_ptr<QueueItem>> BuildUploadItems(const std::vector<LocalPathFacts>& paths,
                                                         const std::string& remoteDir,
                                                         std::vector<std::string>& missing) {
    std::vector<std::shared_ptr<QueueItem>> items;
    for (const LocalPathFacts& facts : paths) {
        if (!facts.exists) {
            missing.push_back(facts.path);
            continue;
        }
        items.push_back(
            MakeQueueItem(QueueOperation::kUpload, facts.path, remoteDir,
                          facts.isDirectory ? kUnknownSize : facts.size,
                          facts.isDirectory ? QueueItemKind::kDirectory : QueueItemKind::kFile));
    }
    return items;
}

LocalPathFacts LookUpLocalPath(const std::string& path) {
    namespace fs = std::filesystem;
    LocalPathFacts facts;
    facts.path = path;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) return facts;
    facts.exists = true;
    facts.isDirectory = fs::is_directory(status);
    if (!facts.isDirectory) {
        const auto size = fs::file_size(path, error);
        if (!error) facts.size = static_cast<int64_t>(size);
    }
    return facts;
}

}  // namespace tarnwick::gui
