// Reading and writing the site file.
#include "sites/site_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "../listing/scratch_directory.h"
#include "listing/line_reader.h"
#include "listing/text_utils.h"

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

bool SameSite(const SiteSetting& a, const SiteSetting& b) {
    return a.name == b.name && a.address == b.address && a.port == b.port &&
           a.username == b.username && a.password == b.password && a.logintype == b.logintype &&
           a.hosttype == b.hosttype && a.deflocaldir == b.deflocaldir &&
           a.defremotedir == b.defremotedir && a.passive == b.passive;
}

std::string EveryNonZeroByte() {
    std::string bytes;
    for (int c = 1; c <= 255; ++c) bytes.push_back(static_cast<char>(c));
    return bytes;
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

TEST(SiteFileTest, WritesTheBlockFormatExactly) {
    ScratchDirectory scratch;
    SiteSetting site = Site("Mirror", "ftp.example.org", 2121);
    site.username = "bob";
    site.password = "pw";
    site.logintype = kLoginNormal;
    site.deflocaldir = "/home/bob";
    site.defremotedir = "/pub";
    site.passive = 1;
    ASSERT_EQ(SaveSiteFile(scratch / "site.dat", {site, Site("", "h")}), SiteFileResult::kOk);
    EXPECT_EQ(ReadFile(scratch / "site.dat"),
              "[Mirror]\naddress=ftp.example.org\nport=2121\nusername=bob\npassword=" +
                  EncodePassword("pw") +
                  "\nlogintype=0\nhosttype=0\ndeflocaldir=/home/bob\ndefremotedir=/pub\n"
                  "passive=1\n\n"
                  "[]\naddress=h\nport=21\nusername=anonymous\npassword=\nlogintype=1\n"
                  "hosttype=0\ndeflocaldir=\ndefremotedir=\npassive=0\n\n");
}

TEST(SiteFileTest, SaveAndLoadKeepEverySiteAndPasswordByte) {
    ScratchDirectory scratch;
    SiteSetting full = Site("All bytes", "10.0.0.1", 990);
    full.password = EveryNonZeroByte();
    full.logintype = kLoginDouble;
    full.hosttype = 0;
    full.deflocaldir = "/tmp/dir with spaces";
    full.defremotedir = "/a=b/c";
    full.passive = 1;
    SiteSetting longValues = Site(std::string(300, 'n'), std::string(1000, 'h'));
    longValues.password = std::string(400, 'p');  // 800 characters encoded
    const std::vector<SiteSetting> sites = {full, Site("[odd] name", "::1", -5), longValues,
                                            Site("Empty password", "host")};
    ASSERT_EQ(SaveSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);

    const std::string text = ReadFile(scratch / "site.dat");
    const size_t start = text.find("password=") + 9;
    const std::string stored = text.substr(start, text.find('\n', start) - start);
    EXPECT_EQ(stored.size(), 2 * 255u);
    EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos) << stored;

    std::vector<SiteSetting> loaded = {Site("already listed", "x")};
    ASSERT_EQ(LoadSiteFile(scratch / "site.dat", loaded), SiteFileResult::kOk);
    ASSERT_EQ(loaded.size(), sites.size() + 1);
    for (size_t i = 0; i < sites.size(); ++i) EXPECT_TRUE(SameSite(loaded[i + 1], sites[i])) << i;
}

TEST(SiteFileTest, ReadsBlocksByPosition) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> names;
        std::string address;  // of the last site
        int port;             // of the last site
    };
    const std::string block =
        "address=h\nport=21\nusername=u\npassword=\nlogintype=0\n"
        "hosttype=0\ndeflocaldir=\ndefremotedir=\npassive=0\n\n";
    const std::string truncated =
        "[b]\naddress=h\nport=21\nusername=u\npassword=\nlogintype=0\nhosttype=0\n";
    const std::string longName(300, 'L');
    // clang-format off
    const Case cases[] = {
        {"other key names", "[k]\nhost = h2 \nPORT=  2121\nx\ny=\nz=\nw=\nv=\nu=\nt=\n",
         {"k"}, "h2", 2121},
        {"value after the first '='", "[v]\naddress=a=b\nport=7\n1\n2\n3\n4\n5\n6\n7\n",
         {"v"}, "a=b", 7},
        {"line without '=' is its own value", "[w]\n  bare host  \nport\n1\n2\n3\n4\n5\n6\n7\n",
         {"w"}, "bare host", 0},
        {"numbers read as atoi does", "[n]\nh\nport=12x\n1\n2\n3\n4\n5\n6\n7\n",
         {"n"}, "h", 12},
        {"overflowing number saturates", "[o]\nh\nport=99999999999\n1\n2\n3\n4\n5\n6\n7\n",
         {"o"}, "h", 2147483647},
        {"header without ']'", "[abc\n" + block,
         {"ab"}, "h", 21},
        {"junk and indented headers",
         "junk\n\n  ; note\n   [a]  \n" + block + "x=[y]\n[b]\n" + block,
         {"a", "b"}, "h", 21},
        {"CR LF lines", "[a]\r\naddress=crlf\r\nport=44\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n",
         {"a"}, "crlf", 44},
        {"last block ends after hosttype", "[a]\n" + block + truncated,
         {"a"}, "h", 21},
        {"a long line is one line", "[" + longName + "]\n" + block + "[z]\n" + block,
         {longName, "z"}, "h", 21},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDirectory scratch;
        WriteFile(scratch / "site.dat", c.text);
        std::vector<SiteSetting> sites;
        EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);
        EXPECT_EQ(Names(sites), c.names);
        if (sites.empty()) continue;
        EXPECT_EQ(sites.back().address, c.address);
        EXPECT_EQ(sites.back().port, c.port);
    }
}

TEST(SiteFileTest, MissingAndOverlongFilesFailCleanly) {
    ScratchDirectory scratch;
    std::vector<SiteSetting> sites = {Site("kept", "h")};
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kMissing);
    EXPECT_EQ(sites.size(), 1u);

    const std::string block = "[a]\nh\n21\nu\n\n1\n0\n\n\n0\n\n";
    WriteFile(scratch / "site.dat",
              block + "[b]\naddress=" + std::string(kMaxTextFileLine + 100, 'x') + "\n" + block);
    sites.clear();
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kLineTooLong);
    EXPECT_EQ(Names(sites), std::vector<std::string>{"a"});

    EXPECT_EQ(SaveSiteFile(scratch / "no such dir/site.dat", sites), SiteFileResult::kCannotWrite);
    // A target that cannot be replaced (a directory) fails, leaves it as it was and leaves no
    // temporary file behind.
    std::filesystem::create_directory(scratch / "dir.dat");
    const int directoryMode = PermissionBits(scratch / "dir.dat");
    EXPECT_EQ(SaveSiteFile(scratch / "dir.dat", sites), SiteFileResult::kCannotWrite);
    EXPECT_EQ(PermissionBits(scratch / "dir.dat"), directoryMode);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);
}

TEST(SiteFileTest, OnlyTheOwnerMayReadTheFile) {
    ScratchDirectory scratch;
    const std::string path = scratch / "site.dat";
    ASSERT_EQ(SaveSiteFile(path, {Site("a", "h")}), SiteFileResult::kOk);
    EXPECT_EQ(PermissionBits(path), 0600);

    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);  // an older file, written without care
    ASSERT_EQ(SaveSiteFile(path, {Site("b", "h")}), SiteFileResult::kOk);
    EXPECT_EQ(PermissionBits(path), 0600);
}

TEST(SiteFileTest, LineBreaksInValuesCannotSplitABlock) {
    ScratchDirectory scratch;
    SiteSetting tricky = Site("evil\n[injected]", "host\r\nport=1");
    tricky.deflocaldir = "/a\nb";
    ASSERT_EQ(SaveSiteFile(scratch / "site.dat", {tricky, Site("next", "h2", 2121)}),
              SiteFileResult::kOk);
    std::vector<SiteSetting> sites;
    ASSERT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);
    ASSERT_EQ(Names(sites), (std::vector<std::string>{"evil[injected]", "next"}));
    EXPECT_EQ(sites[0].address, "hostport=1");
    EXPECT_EQ(sites[0].port, 21);
    EXPECT_EQ(sites[0].deflocaldir, "/ab");
    EXPECT_EQ(sites[1].address, "h2");
    EXPECT_EQ(sites[1].port, 2121);
}

}  // namespace
}  // namespace tarnwick
