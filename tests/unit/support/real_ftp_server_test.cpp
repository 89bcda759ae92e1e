// Self-tests of the real-server harness (python3-pyftpdlib), driven by a raw socket client.
#include "real_ftp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "raw_ftp_client.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;
using ::testing::StartsWith;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Payload() {
    std::string bytes;
    for (int i = 0; i < 200'000; ++i) bytes += static_cast<char>(i % 253);
    return bytes;
}

// Logs in and returns the last reply.
std::string LogIn(RawFtpClient& client, const RealFtpServer& server, const std::string& user,
                  const std::string& password) {
    if (!client.Connect(server.Host(), server.Port())) return "no connection";
    client.ReadReply();
    client.Command("USER " + user);
    return client.Command("PASS " + password);
}

// Opens a data connection for `command` in passive or active mode, sends the command and
// returns the data socket once the server answered with a preliminary reply.
UniqueFd OpenTransfer(RawFtpClient& client, bool passive, const std::string& command) {
    UniqueFd data;
    if (passive) {
        const auto address = ParsePassiveReply(client.Command("PASV"));
        if (!address || ConnectLoopback(address->host, address->port, DeadlineAfter(5s), data) !=
                            IoStatus::kOk) {
            return {};
        }
        return client.Command(command)[0] == '1' ? std::move(data) : UniqueFd();
    }
    UniqueFd listener = ListenLoopback();
    if (client.Command(PortCommand(LocalPort(listener.Get()))).rfind("200", 0) != 0) return {};
    if (client.Command(command)[0] != '1') return {};
    AcceptWithin(listener.Get(), DeadlineAfter(5s), data);
    return data;
}

TEST(RealFtpServerTest, TransfersFilesInBothDataModesWithTheAccountsPermissions) {
    RealFtpServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string file = Payload();
    WriteFile(server.Root() / "file.bin", file);

    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        RawFtpClient client;
        ASSERT_THAT(LogIn(client, server, RealFtpServer::kUser, RealFtpServer::kPassword),
                    StartsWith("230"));
        EXPECT_THAT(client.Command("TYPE I"), StartsWith("200"));

        UniqueFd data = OpenTransfer(client, passive, "RETR file.bin");
        ASSERT_TRUE(data);
        std::string received;
        EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kClosed);
        EXPECT_EQ(received, file);
        EXPECT_THAT(client.ReadReply(), StartsWith("226"));

        const std::string name = passive ? "up-passive.bin" : "up-active.bin";
        data = OpenTransfer(client, passive, "STOR " + name);
        ASSERT_TRUE(data);
        EXPECT_EQ(SendAll(data.Get(), file, DeadlineAfter(5s)), IoStatus::kOk);
        data.Reset();
        EXPECT_THAT(client.ReadReply(), StartsWith("226"));
        EXPECT_EQ(ReadFile(server.Root() / name), file);
    }

    RawFtpClient anonymous;
    ASSERT_THAT(LogIn(anonymous, server, "anonymous", "guest@example.com"), StartsWith("230"));
    EXPECT_THAT(anonymous.Command("DELE file.bin"), StartsWith("550"));
    EXPECT_TRUE(std::filesystem::exists(server.Root() / "file.bin"));
}

TEST(RealFtpServerTest, RestartsOnTheSamePort) {
    RealFtpServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const uint16_t port = server.Port();
    RawFtpClient before;
    ASSERT_THAT(LogIn(before, server, RealFtpServer::kUser, RealFtpServer::kPassword),
                StartsWith("230"));

    ASSERT_TRUE(server.Restart()) << server.Error();
    EXPECT_EQ(server.Port(), port);
    EXPECT_NE(before.WaitForEnd(), IoStatus::kTimedOut);  // the old connection was cut
    RawFtpClient after;
    EXPECT_THAT(LogIn(after, server, RealFtpServer::kUser, RealFtpServer::kPassword),
                StartsWith("230"));
}

}  // namespace
}  // namespace tarnwick::test
