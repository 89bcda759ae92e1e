// Round trips against a real FTP server (pyftpdlib): files of 0 bytes, 1 byte and several
// MiB up and down byte-identical, a resumed download, in passive and in active mode.
#include "ftp_fixture.h"
#include "real_ftp_server.h"

namespace tarnwick::test {
namespace {

class RealServerTest : public FtpTest, public ::testing::WithParamInterface<bool> {
protected:
    bool Passive() const { return GetParam(); }
    RealFtpServer real;
};

TEST_P(RealServerTest, FilesGoUpAndComeBackByteIdentical) {
    ASSERT_TRUE(real.Running()) << real.Error();
    Connect(Passive(), real.Port(), RealFtpServer::kUser);
    const std::filesystem::path down = scratch / "down";
    for (size_t size : {size_t{0}, size_t{1}, size_t{3} * 1024 * 1024 + 17}) {
        SCOPED_TRACE(size);
        const std::string name = "f" + std::to_string(size) + ".bin";
        const std::string data = Pattern(size);
        WriteFile(scratch / name, data);
        ASSERT_EQ(Control().StoreFile((scratch / name).string(), "/", 0), kResultOk)
            << observer.FormattedLog();
        EXPECT_EQ(ReadFile(real.Root() / name), data);
        session->remoteSize = static_cast<int64_t>(size);
        ASSERT_EQ(Control().RetrieveFile(down.string(), "/" + name, 0), kResultOk)
            << observer.FormattedLog();
        EXPECT_EQ(ReadFile(down / name), data);
    }
    ASSERT_EQ(Control().ListDir("/", "", 0), kResultOk) << observer.FormattedLog();
    EXPECT_NE(session->listingText.find("f1.bin"), std::string::npos);
}

TEST_P(RealServerTest, ResumedDownloadCompletesThePartialFile) {
    ASSERT_TRUE(real.Running()) << real.Error();
    const std::string data = Pattern(2 * 1024 * 1024);
    WriteFile(real.Root() / "r.bin", data);
    WriteFile(scratch / "r.bin", data.substr(0, 700'000));
    Connect(Passive(), real.Port(), RealFtpServer::kUser);
    Control().overwriteChoice.fill(kResume);
    session->remoteSize = static_cast<int64_t>(data.size());
    ASSERT_EQ(Control().RetrieveFile(scratch.string(), "/r.bin", 0), kResultOk)
        << observer.FormattedLog();
    EXPECT_EQ(session->resumeOffset, 700'000u);
    EXPECT_EQ(ReadFile(scratch / "r.bin"), data);
}

INSTANTIATE_TEST_SUITE_P(Modes, RealServerTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

}  // namespace
}  // namespace tarnwick::test
