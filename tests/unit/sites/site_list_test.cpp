// Finding the site for a host named in a URL.
#include "sites/site_list.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tarnwick {
namespace {

TEST(SiteForHostTest, LastSiteOfTheHostWinsElseANewAnonymousSite) {
    const auto site = [](std::string name, std::string address, int port) {
        SiteSetting site;
        std::tie(site.name, site.address, site.port, site.logintype) =
            std::tuple(name, address, port, kLoginNormal);
        return site;
    };
    const std::vector<SiteSetting> sites = {site("First", "host", 2121), site("Other", "x", 22),
                                            site("Second", "host", 990)};
    const SiteSetting known = SiteForHost(sites, "host", "me@example.com");
    EXPECT_EQ(known.name, "Second");
    EXPECT_EQ(known.port, 990);
    EXPECT_EQ(known.logintype, kLoginNormal);

    const SiteSetting unknown = SiteForHost(sites, "HOST", "me@example.com");  // case matters
    EXPECT_EQ(unknown.address, "HOST");
    EXPECT_EQ(unknown.name, "");
    EXPECT_EQ(unknown.port, 21);
    EXPECT_EQ(unknown.username, "anonymous");
    EXPECT_EQ(unknown.password, "me@example.com");
    EXPECT_EQ(unknown.logintype, kLoginAnonymous);
}

}  // namespace
}  // namespace tarnwick
