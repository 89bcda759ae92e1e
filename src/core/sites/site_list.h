// Questions asked of the site list.
//
// Ownership and threads: the caller owns the list and the returned records; pure functions,
// callable from any thread that may read the list.
#pragma once

#include <string_view>
#include <vector>

#include "sites/site_setting.h"

namespace tarnwick {

// The site to open for a host named in a URL: a new record (NewSiteSetting) overwritten by
// every site whose address equals `host` exactly (case matters) in list order, so the last
// such site wins; its address is then `host`. The URL's own port, user and password are
// not the caller's to pass here: they are not used.
SiteSetting SiteForHost(const std::vector<SiteSetting>& sites, std::string_view host,
                        std::string_view anonymousPass);

}  // namespace tarnwick
