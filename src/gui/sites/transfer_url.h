// URL entry shared by the Paste URL and Shell Transfer dialogs: turning the typed text into
// ftp URL parts, and building the upload items a shell hand-over queues.
//
// Pure functions of their arguments (the disk facts are passed in); any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing/url.h"
#include "queue/queue_item.h"

namespace tarnwick {
class CFtpSession;
}

namespace tarnwick::gui {

// The session a URL's items go to: an open one for the URL's host (unless `forceNew`), else a
// new one made from the site list's record for the host. A URL that asks for TLS (ftps://,
// ftpes://) never goes to a session in clear. Supplied by the main window, which owns the
// open sessions.
using SessionForHost =
    std::function<std::shared_ptr<CFtpSession>(const UrlParts& url, bool forceNew)>;

// The site a new session for the URL's items is made from: the site list's record for the
// host, secured as the URL asks when the record is not (a URL's TLS is never dropped).
SiteSetting SiteForUrl(const std::vector<SiteSetting>& sites, const UrlParts& url,
                       std::string_view anonymousPass);
// Whether an open session with TLS mode `sessionTls` may take the URL's items: not a session
// in clear for a URL that asks for TLS.
inline bool SessionMayServe(int sessionTls, const UrlParts& url) {
    return url.tls == kTlsNone || sessionTls != kTlsNone;
}

// The text as an ftp URL. With `prefixOptional` a leading "ftp://" (exactly, lower case) may
// be left out: it is removed if present and put back in front before parsing ("ftps://" and
// "ftpes://", lower case, are kept). Nothing for
// text that does not parse or is not an ftp URL.
std::optional<UrlParts> ParseFtpUrlText(std::string_view text, bool prefixOptional);

// What the file system says about one handed-over path.
struct LocalPathFacts {
    std::string path;
    bool exists = false;
    bool isDirectory = false;
    int64_t size = kUnknownSize;
};

// One upload item per existing path, in order, with the remote directory `remoteDir`;
// directories are marked so the queue run walks them. The paths that do not exist are
// appended to `missing` instead.
std::vector<std::shared_ptr<QueueItem>> BuildUploadItems(const std::vector<LocalPathFacts>& paths,
                                                         const std::string& remoteDir,
                                                         std::vector<std::string>& missing);

// The facts for `path` from the disk (follows links).
LocalPathFacts LookUpLocalPath(const std::string& path);

}  // namespace tarnwick::gui
