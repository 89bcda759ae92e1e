// Self-tests of the scripted FTP server, driven by a raw socket client.
#include "scripted_ftp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raw_ftp_client.h"

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

// Bytes that catch any text-mode or NUL handling on the way.
std::string BinaryPayload(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    bytes.replace(0, 4, "\r\n\0\n", 4);
    return bytes;
}

TEST(ScriptedFtpServerTest, RecordsTheTranscriptAndSendsChunksSeparately) {
    ScriptedFtpServer srv;
    srv.OnConnect().ReplyInChunks({"220-Welcome\r\n", "220-to the\r\n", "220 test\r\n"}, 300ms);
    srv.Expect("user anonymous").Reply("331 pw\r\n");
    srv.ExpectPrefix("pass ").Delay(50ms).Reply("230 ok\r\n");
    srv.ExpectMatch("a NOOP", [](std::string_view line) { return line == "NOOP"; })
        .Reply("200 ok\r\n");

    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
    Lines pieces;
    for (int i = 0; i < 3; ++i) pieces.push_back(client.ReceiveOnce());
    EXPECT_THAT(pieces, ElementsAre("220-Welcome\r\n", "220-to the\r\n", "220 test\r\n"));
    EXPECT_EQ(client.Command("user anonymous"), "331 pw\r\n");
    EXPECT_EQ(client.Command("pass guest@example.com"), "230 ok\r\n");
    EXPECT_EQ(client.Command("NOOP"), "200 ok\r\n");

    EXPECT_TRUE(srv.WaitDone());
    EXPECT_EQ(srv.Transcript(), (Lines{"user anonymous", "pass guest@example.com", "NOOP"}));
    EXPECT_THAT(srv.Failures(), ElementsAre());
}

TEST(ScriptedFtpServerTest, AnUnexpectedCommandFailsTheScript) {
    for (const bool closeOnUnexpected : {false, true}) {
        SCOPED_TRACE(closeOnUnexpected ? "close" : "answer 500");
        ScriptedFtpServer srv(ScriptOptions{.closeOnUnexpected = closeOnUnexpected});
        srv.Greeting("220 hi\r\n");
        srv.Expect("user a").Reply("331 pw\r\n");

        RawFtpClient client;
        ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
        ASSERT_EQ(client.ReadReply(), "220 hi\r\n");
        if (closeOnUnexpected) {
            EXPECT_EQ(client.Command("syst"), "");
            EXPECT_EQ(client.WaitForEnd(), IoStatus::kClosed);
        } else {
            EXPECT_EQ(client.Command("syst"), "500 unexpected\r\n");
            EXPECT_EQ(client.Command("user a"), "331 pw\r\n");  // the step is still waiting
        }

        EXPECT_FALSE(srv.WaitDone());
        EXPECT_THAT(srv.Failures(), ElementsAre(AllOf(HasSubstr("\"user a\""), HasSubstr("syst"))));
        EXPECT_EQ(srv.Transcript().front(), "syst");
    }
}

TEST(ScriptedFtpServerTest, PassiveDataConnectionsCarryListingsAndUploads) {
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan 01 2020 a.txt\r\ndrwxr-xr-x 2 u g 0 b\r\n";
    const std::string upload = BinaryPayload(300 * 1024);
    ScriptedFtpServer srv;
    srv.Greeting("220 hi\r\n");
    srv.Expect("pasv").Passive();
    srv.Expect("list")
        .Reply("150 here\r\n")
        .SendData(listing, {.chunkSize = 7, .gap = 5ms})
        .Reply("226 done\r\n");
    srv.Expect("pasv").Passive({.announcedAddress = "127.0.0.2"});
    srv.Expect("stor up.bin").Reply("150 go\r\n").ReceiveData().Reply("226 stored\r\n");

    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
    client.ReadReply();
    const auto address = ParsePassiveReply(client.Command("pasv"));
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, "127.0.0.1");
    UniqueFd data;
    ASSERT_EQ(ConnectLoopback(address->host, address->port, DeadlineAfter(5s), data),
              IoStatus::kOk);
    EXPECT_EQ(client.Command("list"), "150 here\r\n");
    std::string received;
    EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kClosed);
    EXPECT_EQ(received, listing);
    EXPECT_EQ(client.ReadReply(), "226 done\r\n");

    // The announced address differs; the listener is still on 127.0.0.1.
    const std::string reply = client.Command("pasv");
    EXPECT_THAT(reply, HasSubstr("(127,0,0,2,"));
    const auto announced = ParsePassiveReply(reply);
    ASSERT_TRUE(announced);
    ASSERT_EQ(ConnectLoopback("127.0.0.1", announced->port, DeadlineAfter(5s), data),
              IoStatus::kOk);
    EXPECT_EQ(client.Command("stor up.bin"), "150 go\r\n");
    EXPECT_EQ(SendAll(data.Get(), upload, DeadlineAfter(5s)), IoStatus::kOk);
    data.Reset();
    EXPECT_EQ(client.ReadReply(), "226 stored\r\n");

    EXPECT_TRUE(srv.WaitDone());
    EXPECT_EQ(srv.ReceivedData(), Lines{upload});
}

TEST(ScriptedFtpServerTest, ActiveModeConnectsBackToTheAnnouncedLoopbackAddress) {
    UniqueFd listener = ListenLoopback();
    ASSERT_TRUE(listener);
    const uint16_t port = LocalPort(listener.Get());
    const std::string file = BinaryPayload(100 * 1024);
    for (const std::string& command :
         {PortCommand(port), "EPRT |1|127.0.0.1|" + std::to_string(port) + "|"}) {
        SCOPED_TRACE(command);
        ScriptedFtpServer srv;
        srv.Greeting("220 hi\r\n");
        srv.Expect(command).Active().Reply("200 ok\r\n");
        srv.Expect("retr f").Reply("150 go\r\n").SendData(file).Reply("226 done\r\n");

        RawFtpClient client;
        ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
        client.ReadReply();
        EXPECT_EQ(client.Command(command), "200 ok\r\n");
        EXPECT_EQ(client.Command("retr f"), "150 go\r\n");
        UniqueFd data;
        ASSERT_EQ(AcceptWithin(listener.Get(), DeadlineAfter(5s), data), IoStatus::kOk);
        std::string received;
        EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kClosed);
        EXPECT_EQ(received, file);
        EXPECT_EQ(client.ReadReply(), "226 done\r\n");
        EXPECT_TRUE(srv.WaitDone());
    }

    // Tests only talk to the loopback: any other announced address is refused.
    ScriptedFtpServer srv;
    srv.Greeting("220 hi\r\n");
    srv.Expect("PORT 10,0,0,1,4,1").Active().Reply("200 ok\r\n");
    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
    client.ReadReply();
    client.Command("PORT 10,0,0,1,4,1");
    EXPECT_THAT(srv.Failures(), ElementsAre(HasSubstr("non-loopback")));
}

TEST(ScriptedFtpServerTest, ControlConnectionFaultsHappenOnCue) {
    struct Case {
        const char* name;
        std::function<void(ScriptStep)> fault;
        IoStatus end;  // how the client sees the connection end
    };
    const Case cases[] = {
        {"drop", [](ScriptStep step) { step.Reply("221 bye\r\n").Drop(); }, IoStatus::kClosed},
        {"reset", [](ScriptStep step) { step.Reply("221 bye\r\n").Reset(); }, IoStatus::kFailed},
        // A stalled server keeps the connection until its step timeout, then lets go.
        {"stall", [](ScriptStep step) { step.Stall(); }, IoStatus::kClosed},
        {"flood", [](ScriptStep step) { step.Flood("220-more\r\n"); }, IoStatus::kOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer srv(ScriptOptions{.stepTimeout = 1s, .floodLimit = 16 << 20});
        srv.Greeting("220 hi\r\n");
        c.fault(srv.Expect("quit"));

        RawFtpClient client(3s);
        ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
        ASSERT_EQ(client.ReadReply(), "220 hi\r\n");
        ASSERT_TRUE(client.Send("quit"));
        if (c.end == IoStatus::kOk) {
            // A never-ending reply: keep reading well past any sane reply size, then give up.
            size_t received = 0;
            while (received < (2u << 20)) {
                const std::string bytes = client.ReceiveOnce();
                ASSERT_FALSE(bytes.empty());
                received += bytes.size();
            }
        } else {
            EXPECT_EQ(client.WaitForEnd(), c.end);
        }
        client = RawFtpClient();
        EXPECT_TRUE(srv.WaitDone()) << ::testing::PrintToString(srv.Failures());
    }
}

TEST(ScriptedFtpServerTest, DataConnectionFaultsHappenOnCue) {
    const std::string file = BinaryPayload(64 * 1024);
    ScriptedFtpServer srv;
    srv.Greeting("220 hi\r\n");
    srv.Expect("pasv").Passive();
    srv.Expect("retr cut").Reply("150 go\r\n").SendData(file, {.resetAfter = 1000});
    srv.Expect("pasv").Passive();
    srv.Expect("retr stalled")
        .Reply("150 go\r\n")
        .SendData(file, {.stall = true})
        .Reply("226 done\r\n");

    RawFtpClient client;
    ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
    client.ReadReply();
    for (const bool reset : {true, false}) {
        const auto address = ParsePassiveReply(client.Command("pasv"));
        ASSERT_TRUE(address);
        UniqueFd data;
        ASSERT_EQ(ConnectLoopback(address->host, address->port, DeadlineAfter(5s), data),
                  IoStatus::kOk);
        EXPECT_EQ(client.Command(reset ? "retr cut" : "retr stalled"), "150 go\r\n");
        std::string received;
        if (reset) {
            EXPECT_EQ(ReadToEnd(data.Get(), received), IoStatus::kFailed);
            EXPECT_LE(received.size(), 1000u);
            EXPECT_EQ(received, file.substr(0, received.size()));
        } else {
            // All bytes and the final reply arrive, but the data connection never ends.
            EXPECT_EQ(client.ReadReply(), "226 done\r\n");
            EXPECT_EQ(ReadToEnd(data.Get(), received, 300ms), IoStatus::kTimedOut);
            EXPECT_EQ(received, file);
        }
    }
    EXPECT_TRUE(srv.WaitDone());
}

TEST(ScriptedFtpServerTest, ServesReconnectsWithTheirOwnScripts) {
    ScriptedFtpServer srv;
    srv.Greeting("220 first\r\n");
    srv.Expect("user a").Reply("331 pw\r\n").Drop();
    srv.NextConnection();
    srv.Greeting("220 second\r\n").Drop();  // closes right after the greeting
    srv.NextConnection();
    srv.Greeting("220 third\r\n");
    srv.Expect("user a").Reply("331 pw\r\n");

    struct Visit {
        const char* greeting;
        bool logsIn;
        bool serverCloses;
    };
    for (const Visit& visit :
         {Visit{"220 first\r\n", true, true}, Visit{"220 second\r\n", false, true},
          Visit{"220 third\r\n", true, false}}) {
        SCOPED_TRACE(visit.greeting);
        RawFtpClient client;
        ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
        EXPECT_EQ(client.ReadReply(), visit.greeting);
        if (visit.logsIn) {
            EXPECT_EQ(client.Command("user a"), "331 pw\r\n");
        }
        if (visit.serverCloses) {
            EXPECT_EQ(client.WaitForEnd(), IoStatus::kClosed);
        }
    }
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_EQ(srv.AcceptedConnections(), 3u);
    EXPECT_EQ(srv.Transcript(0), Lines{"user a"});
    EXPECT_EQ(srv.Transcript(1), Lines{});
    EXPECT_EQ(srv.Transcript(2), Lines{"user a"});
}

TEST(ScriptedFtpServerTest, DestructionEndsAnUnfinishedScriptAtOnce) {
    const auto start = Clock::now();
    RawFtpClient client;
    {
        ScriptedFtpServer srv(ScriptOptions{.stepTimeout = 60s});
        srv.Greeting("220 hi\r\n");
        srv.Expect("pasv").Passive();
        srv.Expect("list").Reply("150 here\r\n").SendData("never accepted");
        ASSERT_TRUE(client.Connect(srv.Host(), srv.Port()));
        client.ReadReply();
        client.Command("pasv");
        client.Send("list");
        client.ReadReply();  // the server now waits for a data connection that never comes
    }
    EXPECT_EQ(client.WaitForEnd(), IoStatus::kClosed);
    // Far below the step timeout: the destructor did not wait for any step to time out.
    EXPECT_LT(Clock::now() - start, 30s);
}

}  // namespace
}  // namespace tarnwick::test
