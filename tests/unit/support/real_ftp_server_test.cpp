// Self-test of the real-server harness (python3-pyftpdlib), driven by a raw socket client.
#include "real_ftp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "raw_ftp_client.h"
#include "scratch_directory.h"

namespace tarnwick::test {
namespace {

using ::testing::StartsWith;

std::string LogIn(RawFtpClient& client, const RealFtpServer& server) {
    if (!client.Connect(server.Port())) return "no connection";
    client.ReadReply();
    client.Command(std::string("USER ") + RealFtpServer::kUser);
    return client.Command(std::string("PASS ") + RealFtpServer::kPassword);
}

TEST(RealFtpServerTest, ServesItsRootAndRestartsOnTheSamePort) {
    RealFtpServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    std::string file(200'000, '\0');
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i % 253);
    testing::WriteFile(server.Root() / "file.bin", file);

    RawFtpClient before;
    ASSERT_THAT(LogIn(before, server), StartsWith("230"));
    EXPECT_THAT(before.Command("TYPE I"), StartsWith("200"));
    UniqueFd data = before.OpenPassive();
    ASSERT_TRUE(data);
    EXPECT_THAT(before.Command("RETR file.bin"), StartsWith("1"));
    std::string received;
    EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kClosed);
    EXPECT_EQ(received, file);
    EXPECT_THAT(before.ReadReply(), StartsWith("226"));

    const uint16_t port = server.Port();
    ASSERT_TRUE(server.Restart()) << server.Error();
    EXPECT_EQ(server.Port(), port);
    std::string ignored;
    EXPECT_NE(ReceiveUntilClosed(before.Fd(), ignored, RawFtpClient::kLimit),
              IoStatus::kTimedOut);  // the old connection was cut
    RawFtpClient after;
    EXPECT_THAT(LogIn(after, server), StartsWith("230"));
}

}  // namespace
}  // namespace tarnwick::test
