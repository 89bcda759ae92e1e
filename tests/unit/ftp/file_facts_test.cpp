// Listings through MLSD and file times through MDTM/SIZE and MFMT: exact sizes and times
// against a real server.
#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include "ftp_fixture.h"
#include "real_ftp_server.h"

namespace tarnwick::test {
namespace {

void SetTime(const std::string& path, int64_t seconds) {
    const timeval times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

int64_t TimeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : -2;
}

TEST_F(FtpTest, RealServerSizesAndTimesSurviveListingDownloadAndUpload) {
    RealFtpServer real;
    ASSERT_TRUE(real.Running()) << real.Error();
    const std::string small = (real.Root() / "a b;c.txt").string();
    const std::string big = (real.Root() / "big.bin").string();
    WriteFile(small, Pattern(1000));
    SetTime(small, 1234567890);
    const uint64_t bigSize = (uint64_t{5} << 30) + 3;  // sparse
    WriteFile(big, "");
    std::filesystem::resize_file(big, bigSize);
    SetTime(big, 1700000000);

    SiteSetting site = SiteOn(real.Port());
    site.username = RealFtpServer::kUser;
    ConnectTo(site).transferType = 1;

    // No listing yet: SIZE and MDTM tell the file's size and time (both needed to set it).
    ASSERT_EQ(Control().RetrieveFile(scratch.string(), "/a b;c.txt", 0), kResultOk)
        << observer.FormattedLog();
    EXPECT_EQ(TimeOf(scratch / "a b;c.txt"), 1234567890);

    ASSERT_EQ(Control().ListDir("/", "", 0), kResultOk) << observer.FormattedLog();
    ASSERT_TRUE(session->listingEntries && session->listingEntries->size() == 2);
    // Exact to the second and past 4 GiB: what a LIST line cannot tell.
    const FileEntryList& entries = *session->listingEntries;
    EXPECT_TRUE(entries[0].Size() == 1000 && entries[0].modified == 1234567890);
    EXPECT_TRUE(entries[1].Size() == bigSize && entries[1].modified == 1700000000);
    // The Unix mode, asked for with OPTS MLST, not the bare permission letters.
    EXPECT_EQ(entries[0].attributes.substr(0, 4), "-rw-") << observer.FormattedLog();

    const std::string upload = scratch / "up.txt";
    WriteFile(upload, "uploaded");
    SetTime(upload, 1000000000);
    ASSERT_EQ(Control().StoreFile(upload, "/", 0), kResultOk) << observer.FormattedLog();
    EXPECT_EQ(TimeOf((real.Root() / "up.txt").string()), 1000000000) << observer.FormattedLog();
}

}  // namespace
}  // namespace tarnwick::test
