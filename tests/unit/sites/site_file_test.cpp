// Reading and writing the site file.
#include "sites/site_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "listing/line_reader.h"
#include "listing/text_utils.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

SiteSetting Site(std::string name, std::string address, int port = 21) {
    SiteSetting site;
    site.name = std::move(name);
    site.address = std::move(address);
    site.port = port;
    return site;
}

std::vector<std::string> Names(const std::vector<SiteSetting>& sites) {
    std::vector<std::string> names;
    for (const SiteSetting& site : sites) names.push_back(site.name);
    return names;
}

int PermissionBits(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return static_cast<int>(info.st_mode & 07777);
}

TEST(SiteFileTest, WritesTheBlockFormatOwnerOnlyAndReadsItBack) {
    ScratchDirectory scratch;
    const std::string path = scratch / "site.dat";
    SiteSetting site = Site("Mir\nror", "ftp.example.org", 2121);  // a line break is left out
    site.username = "bob";
    for (int c = 1; c <= 255; ++c) site.password.push_back(static_cast<char>(c));
    site.logintype = kLoginNormal;
    site.deflocaldir = "/home/\r\nbob";
    site.defremotedir = "/a=b";
    site.passive = 1;
    ASSERT_EQ(SaveSiteFile(path, {site, Site("", "h")}), SiteFileResult::kOk);
    EXPECT_EQ(PermissionBits(path), 0600);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text, "[Mirror]\naddress=ftp.example.org\nport=2121\nusername=bob\npassword=" +
                        EncodePassword(site.password) +
                        "\nlogintype=0\nhosttype=0\ndeflocaldir=/home/bob\ndefremotedir=/a=b\n"
                        "passive=1\n\n"
                        "[]\naddress=h\nport=21\nusername=anonymous\npassword=\nlogintype=1\n"
                        "hosttype=0\ndeflocaldir=\ndefremotedir=\npassive=0\n\n");

    std::vector<SiteSetting> loaded = {Site("listed before", "x")};
    ASSERT_EQ(LoadSiteFile(path, loaded), SiteFileResult::kOk);
    ASSERT_EQ(Names(loaded), (std::vector<std::string>{"listed before", "Mirror", ""}));
    EXPECT_EQ(loaded[1].password, site.password);
    loaded.erase(loaded.begin());
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);  // an older file, written without care
    ASSERT_EQ(SaveSiteFile(path, loaded), SiteFileResult::kOk);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_EQ(PermissionBits(path), 0600);
}

TEST(SiteFileTest, ReadsBlocksByPosition) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> names;
        std::string address;  // of the last site
        int port;             // of the last site
    };
    const std::string block = "h\n21\nu\n\n0\n0\n\n\n0\n\n";
    // clang-format off
    const Case cases[] = {
        {"other key names", "[k]\nhost = h2 \nPORT=  2121\nx\ny=\nz=\nw=\nv=\nu=\nt=\n",
         {"k"}, "h2", 2121},
        {"value after the first '='", "[v]\naddress=a=b\nport=7\n1\n2\n3\n4\n5\n6\n7\n",
         {"v"}, "a=b", 7},
        {"numbers read as atoi does", "[n]\n h \nport=12x\n1\n2\n3\n4\n5\n6\n7\n",
         {"n"}, "h", 12},
        {"overflowing number saturates", "[o]\nh\nport=99999999999\n1\n2\n3\n4\n5\n6\n7\n",
         {"o"}, "h", 2147483647},
        {"junk and indented headers", "junk\n\n   [a]  \n" + block + "x=[y]\n[b]\n" + block,
         {"a", "b"}, "h", 21},
        {"CR LF lines", "[a]\r\naddress=crlf\r\nport=44\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n",
         {"a"}, "crlf", 44},
        {"last block ends after hosttype", "[a]\n" + block + "[b]\nh\n21\nu\n\n1\n0\n",
         {"a"}, "h", 21},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDirectory scratch;
        WriteFile(scratch / "site.dat", c.text);
        std::vector<SiteSetting> sites;
        EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);
        EXPECT_EQ(Names(sites), c.names);
        ASSERT_FALSE(sites.empty());
        EXPECT_EQ(sites.back().address, c.address);
        EXPECT_EQ(sites.back().port, c.port);
    }
}

TEST(SiteFileTest, MissingOverlongAndUnwritableFilesFailCleanly) {
    ScratchDirectory scratch;
    std::vector<SiteSetting> sites = {Site("kept", "h")};
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kMissing);
    EXPECT_EQ(Names(sites), std::vector<std::string>{"kept"});

    const std::string block = "[a]\nh\n21\nu\n\n1\n0\n\n\n0\n\n";
    const std::string overlong(kMaxTextFileLine + 100, 'x');
    WriteFile(scratch / "site.dat", block + "[b]\naddress=" + overlong + "\n" + block);
    sites.clear();
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kLineTooLong);
    EXPECT_EQ(Names(sites), std::vector<std::string>{"a"});

    // A target that cannot be replaced (a directory) is left alone, without temporary files.
    std::filesystem::create_directory(scratch / "dir.dat");
    const int directoryMode = PermissionBits(scratch / "dir.dat");
    EXPECT_EQ(SaveSiteFile(scratch / "dir.dat", sites), SiteFileResult::kCannotWrite);
    EXPECT_EQ(PermissionBits(scratch / "dir.dat"), directoryMode);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);
}

}  // namespace
}  // namespace tarnwick
