// Finding the site for a host named in a URL.
#include "sites/site_list.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

SiteSetting Site(std::string name, std::string address, int port, std::string user) {
    SiteSetting site;
    site.name = std::move(name);
    site.address = std::move(address);
    site.port = port;
    site.username = std::move(user);
    site.logintype = kLoginNormal;
    return site;
}

TEST(SiteForHostTest, UnknownHostGetsANewAnonymousSite) {
    const std::vector<SiteSetting> sites = {Site("Other", "other.org", 2121, "bob"),
                                            Site("Upper", "FTP.EXAMPLE.ORG", 99, "eve")};
    const SiteSetting site = SiteForHost(sites, "ftp.example.org", "me@example.com");
    EXPECT_EQ(site.address, "ftp.example.org");  // case matters: "FTP.EXAMPLE.ORG" is another
    EXPECT_EQ(site.name, "");
    EXPECT_EQ(site.port, 21);
    EXPECT_EQ(site.username, "anonymous");
    EXPECT_EQ(site.password, "me@example.com");
    EXPECT_EQ(site.logintype, kLoginAnonymous);
}

TEST(SiteForHostTest, LastSiteOfTheHostWins) {
    const std::vector<SiteSetting> sites = {Site("First", "host", 2121, "bob"),
                                            Site("Other", "elsewhere", 22, "x"),
                                            Site("Second", "host", 990, "alice")};
    const SiteSetting site = SiteForHost(sites, "host", "me@example.com");
    EXPECT_EQ(site.name, "Second");
    EXPECT_EQ(site.address, "host");
    EXPECT_EQ(site.port, 990);
    EXPECT_EQ(site.username, "alice");
    EXPECT_EQ(site.logintype, kLoginNormal);
}

}  // namespace
}  // namespace tarnwick
