// Reading and writing the site file, and finding the site for a host named in a URL.
#include "sites/site_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "listing/line_reader.h"
#include "listing/text_utils.h"
#include "scratch_directory.h"
#include "sites/site_list.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

// A site with the defaults of a new one.
SiteSetting Site(std::string name, std::string address, int port = 21) {
    return {
        std::move(name), std::move(address), port, "anonymous", "", kLoginAnonymous, 0, "", "", 0};
}

// "name address port" of each site.
std::vector<std::string> Summary(const std::vector<SiteSetting>& sites) {
    std::vector<std::string> lines;
    for (const SiteSetting& s : sites) {
        lines.push_back(s.name + " " + s.address + " " + std::to_string(s.port));
    }
    return lines;
}

int PermissionBits(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return static_cast<int>(info.st_mode & 07777);
}

TEST(SiteFileTest, WritesTheBlockFormatOwnerOnlyAndReadsItBack) {
    ScratchDirectory scratch;
    const std::string path = scratch / "site.dat";
    std::string password;  // every byte but NUL
    for (int c = 1; c <= 255; ++c) password.push_back(static_cast<char>(c));
    // Line breaks in a value are left out.
    const SiteSetting site{"Mir\nror", "ftp.example.org", 2121,   "bob", password,    kLoginNormal,
                           0,          "/home/\r\nbob",   "/a=b", 1,     kTlsImplicit};
    ASSERT_EQ(SaveSiteFile(path, {site, Site("", "h")}), SiteFileResult::kOk);
    EXPECT_EQ(PermissionBits(path), 0600);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text, "[Mirror]\naddress=ftp.example.org\nport=2121\nusername=bob\npassword=" +
                        EncodePassword(password) +
                        "\nlogintype=0\nhosttype=0\ndeflocaldir=/home/bob\ndefremotedir=/a=b\n"
                        "passive=1\ntls=2\n\n"
                        "[]\naddress=h\nport=21\nusername=anonymous\npassword=\nlogintype=1\n"
                        "hosttype=0\ndeflocaldir=\ndefremotedir=\npassive=0\ntls=0\n\n");

    std::vector<SiteSetting> loaded = {Site("listed before", "x")};
    ASSERT_EQ(LoadSiteFile(path, loaded), SiteFileResult::kOk);
    ASSERT_EQ(Summary(loaded), (std::vector<std::string>{"listed before x 21",
                                                         "Mirror ftp.example.org 2121", " h 21"}));
    EXPECT_EQ(loaded[1].password, password);
    EXPECT_EQ(loaded[1].tls, kTlsImplicit);
    loaded.erase(loaded.begin());
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);  // an older file, written without care
    ASSERT_EQ(SaveSiteFile(path, loaded), SiteFileResult::kOk);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_EQ(PermissionBits(path), 0600);
}

// A block's lines are read by position, whatever their keys; the value is what follows the
// first '=' (or the whole line), numbers are read as atoi does and saturate, CR LF lines are
// read as LF ones, lines outside blocks are skipped, and a block cut short is left out.
TEST(SiteFileTest, ReadsBlocksByPosition) {
    const std::string rest = "\n1\n2\n3\n4\n5\n6\n7\n";
    ScratchDirectory scratch;
    WriteFile(scratch / "site.dat",
              "junk\n\n   [k]  \nhost = h2 \nPORT=  2121" + rest + "x=[y]\n" +
                  "[v]\naddress=a=b\nport=7" + rest + "[n]\n h \nport=12x" + rest +
                  "[o]\nh\nport=99999999999" + rest +
                  "[c]\r\naddress=crlf\r\nport=44\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n" +
                  "[cut]\nh\n21\nu\n\n1\n0\n");
    std::vector<SiteSetting> sites;
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);
    EXPECT_EQ(Summary(sites), (std::vector<std::string>{"k h2 2121", "v a=b 7", "n h 12",
                                                        "o h 2147483647", "c crlf 44"}));
}

// The TLS mode is an optional line after the nine: a block without it (an older file) is plain
// FTP and the line after it may begin the next block; a value that names no mode is plain.
TEST(SiteFileTest, TlsLineIsOptional) {
    const std::string nine = "h\n21\nu\n\n1\n0\n\n\n1\n";
    ScratchDirectory scratch;
    WriteFile(scratch / "site.dat", "[old]\n" + nine + "[next]\n" + nine + " tls= 1 \n\n[bad]\n" +
                                        nine + "tls=7\n[ssl]\n" + nine + "tls=3\n[no]\n" + nine +
                                        "tlsx=2\n");
    std::vector<SiteSetting> sites;
    ASSERT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kOk);
    std::vector<std::string> got;
    for (const SiteSetting& s : sites) got.push_back(s.name + std::to_string(s.tls));
    EXPECT_EQ(got, (std::vector<std::string>{"old0", "next1", "bad0", "ssl3", "no0"}));
}

TEST(SiteFileTest, MissingOverlongAndUnwritableFilesFailCleanly) {
    ScratchDirectory scratch;
    std::vector<SiteSetting> sites = {Site("kept", "h")};
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kMissing);
    EXPECT_EQ(Summary(sites), std::vector<std::string>{"kept h 21"});

    const std::string block = "[a]\nh\n21\nu\n\n1\n0\n\n\n0\n\n";
    const std::string overlong(kMaxTextFileLine + 100, 'x');
    WriteFile(scratch / "site.dat", block + "[b]\naddress=" + overlong + "\n" + block);
    sites.clear();
    EXPECT_EQ(LoadSiteFile(scratch / "site.dat", sites), SiteFileResult::kLineTooLong);
    EXPECT_EQ(Summary(sites), std::vector<std::string>{"a h 21"});

    // A target that cannot be replaced (a directory) is left alone, without temporary files.
    std::filesystem::create_directory(scratch / "dir.dat");
    const int directoryMode = PermissionBits(scratch / "dir.dat");
    EXPECT_EQ(SaveSiteFile(scratch / "dir.dat", sites), SiteFileResult::kCannotWrite);
    EXPECT_EQ(PermissionBits(scratch / "dir.dat"), directoryMode);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);
}

// The last site of the host wins (names are compared exactly); otherwise a new anonymous site.
TEST(SiteForHostTest, LastSiteOfTheHostWinsElseANewAnonymousSite) {
    const std::vector<SiteSetting> sites = {Site("First", "host", 2121), Site("Other", "x", 22),
                                            Site("Second", "host", 990)};
    EXPECT_EQ(Summary({SiteForHost(sites, "host", "me@example.com")}),
              std::vector<std::string>{"Second host 990"});
    const SiteSetting unknown = SiteForHost(sites, "HOST", "me@example.com");
    EXPECT_EQ(Summary({unknown}), std::vector<std::string>{" HOST 21"});
    EXPECT_EQ(unknown.username + " " + unknown.password, "anonymous me@example.com");
    EXPECT_EQ(unknown.logintype, kLoginAnonymous);
}

}  // namespace
}  // namespace tarnwick
