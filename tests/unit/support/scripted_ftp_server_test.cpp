// Self-tests of the scripted FTP server, driven by a raw socket client: the features whose
// failure the engine tests would not notice themselves.
#include "scripted_ftp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "raw_ftp_client.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

// Bytes that catch any text-mode or NUL handling on the way.
std::string BinaryPayload(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes.replace(0, 4, "\r\n\0\n", 4);
}

// Chunks arrive as separate reads, data flows both ways, a reset is a reset, and the server
// records what the client sent and uploaded.
TEST(ScriptedFtpServerTest, DialogueWithChunksPassiveDataAndADataReset) {
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan 01 2020 a.txt\r\ndrwxr-xr-x 2 u g 0 b\r\n";
    const std::string upload = BinaryPayload(300 * 1024);
    ScriptedFtpServer srv;
    srv.OnConnect().ReplyInChunks({"220-Welcome\r\n", "220-to the\r\n", "220 test\r\n"}, 300ms);
    srv.ExpectPrefix("user ").Delay(50ms).Reply("230 ok\r\n");
    srv.Expect("PASV").Passive();
    srv.Expect("list").Reply("150 here\r\n").SendData(listing, {.chunkSize = 7, .gap = 5ms});
    srv.Expect("PASV").Passive({.announcedAddress = "127.0.0.2"});
    srv.Expect("stor up.bin").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");
    srv.Expect("PASV").Passive();
    srv.Expect("retr cut").Reply("150 go\r\n").SendData(upload, {.resetAfter = 1000});

    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Port()));
    Lines pieces;
    for (int i = 0; i < 3; ++i) pieces.push_back(client.ReceiveOnce());
    EXPECT_THAT(pieces, ElementsAre("220-Welcome\r\n", "220-to the\r\n", "220 test\r\n"));
    EXPECT_EQ(client.Command("user anonymous"), "230 ok\r\n");

    UniqueFd data = client.OpenPassive();
    ASSERT_TRUE(data);
    EXPECT_EQ(client.Command("list"), "150 here\r\n");
    std::string received;
    EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kClosed);
    EXPECT_EQ(received, listing);

    data = client.OpenPassive();  // announced as 127.0.0.2, listening on 127.0.0.1
    ASSERT_TRUE(data);
    EXPECT_EQ(client.Command("stor up.bin"), "150 go\r\n");
    EXPECT_EQ(SendAll(data.Get(), upload, DeadlineAfter(5s)), IoStatus::kOk);
    data.Reset();
    EXPECT_EQ(client.ReadReply(), "226 stored\r\n");

    data = client.OpenPassive();
    ASSERT_TRUE(data);
    EXPECT_EQ(client.Command("retr cut"), "150 go\r\n");
    received.clear();
    EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kFailed);
    EXPECT_EQ(received, upload.substr(0, received.size()));

    EXPECT_TRUE(srv.WaitDone());
    EXPECT_EQ(srv.Transcript(),
              (Lines{"user anonymous", "PASV", "list", "PASV", "stor up.bin", "PASV", "retr cut"}));
    EXPECT_EQ(srv.ReceivedData(), Lines{upload});
}

// An unexpected command is answered "500 unexpected" and fails the script, which still waits
// for its step; an active-mode address off the loopback is refused.
TEST(ScriptedFtpServerTest, UnexpectedCommandsAndForeignAddressesFailTheScript) {
    ScriptedFtpServer srv;
    srv.Greeting("220 hi\r\n");
    srv.Expect("user a").Reply("331 pw\r\n");
    srv.Expect("PORT 10,0,0,1,4,1").Active().Reply("200 ok\r\n");

    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Port()));
    ASSERT_EQ(client.ReadReply(), "220 hi\r\n");
    EXPECT_EQ(client.Command("syst"), "500 unexpected\r\n");
    EXPECT_EQ(client.Command("user a"), "331 pw\r\n");
    client.Command("PORT 10,0,0,1,4,1");

    EXPECT_FALSE(srv.WaitDone());
    EXPECT_THAT(srv.Failures(), ElementsAre(HasSubstr("syst"), HasSubstr("non-loopback")));
    EXPECT_EQ(srv.Transcript().front(), "syst");
}

}  // namespace
}  // namespace tarnwick::test
