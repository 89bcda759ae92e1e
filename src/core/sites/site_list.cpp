// Questions asked of the site list.
#include "sites/site_list.h"

#include <string>

#include "sites/site_file.h"

namespace tarnwick {

SiteSetting SiteForHost(const std::vector<SiteSetting>& sites, std::string_view host,
                        std::string_view anonymousPass) {
    SiteSetting result = NewSiteSetting(anonymousPass);
    for (const SiteSetting& site : sites) {
        if (site.address == host) result = site;
    }
    result.address = std::string(host);
    return result;
}

}  // namespace tarnwick
