// AsyncSocket over loopback: notifications, their order and their re-enabling rules, name
// lookups (and the family they lead to), errors, and handlers that close or destroy sockets
// while being dispatched.
// Everything runs on the test thread; every wait is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/async_socket.h"
#include "platform/message_pump.h"

namespace tarnwick::platform {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// Writes every notification into a shared transcript ("name kind error"), signals
// `progress`, then runs the test's hook for it. A hook may destroy the socket.
class TestSocket : public AsyncSocket {
public:
    using Hook = std::function<void(TestSocket&, int)>;
    TestSocket(std::string name, Lines& transcript, Event& progress)
        : name(std::move(name)), transcript(transcript), progress(progress) {}

    Hook onReceive, onSend, onConnect, onClose, onAccept;
    std::string received;

    void ReadSome(size_t limit = 64 * 1024) {
        std::string buffer(limit, '\0');
        const int count = Receive(buffer.data(), buffer.size());
        if (count > 0) received.append(buffer, 0, count);
    }

protected:
    void OnReceive(int error) override { Notify("receive", error, onReceive); }
    void OnSend(int error) override { Notify("send", error, onSend); }
    void OnConnect(int error) override { Notify("connect", error, onConnect); }
    void OnClose(int error) override { Notify("close", error, onClose); }
    void OnAccept(int error) override { Notify("accept", error, onAccept); }

private:
    void Notify(const char* kind, int error, const Hook& hook) {
        transcript.push_back(name + " " + kind + " " + std::to_string(error));
        progress.Set();
        if (hook) hook(*this, error);  // last: it may destroy *this
    }
    std::string name;
    Lines& transcript;
    Event& progress;
};

class AsyncSocketTest : public testing::Test {
protected:
    Lines transcript;
    Event progress;
    std::vector<std::unique_ptr<TestSocket>> accepted;  // "server", "server2", ...

    std::unique_ptr<TestSocket> MakeSocket(const std::string& name) {
        return std::make_unique<TestSocket>(name, transcript, progress);
    }

    // Listens on `address` port 0 and accepts every connection into `accepted`; the port.
    int Listen(TestSocket& listener, const std::string& address, int family = AF_INET) {
        if (!listener.Create(0, SOCK_STREAM, family, address) || !listener.Listen()) return 0;
        listener.onAccept = [this](TestSocket& self, int) {
            auto server = MakeSocket(accepted.empty() ? "server" : "server2");
            if (self.Accept(*server)) accepted.push_back(std::move(server));
        };
        std::string host;
        int port = 0;
        return listener.GetSockName(host, port) ? port : 0;
    }

    bool PumpUntil(const std::function<bool()>& done, int seconds = 5) {
        const auto limit = Clock::now() + std::chrono::seconds(seconds);
        while (!done() && Clock::now() < limit) MessagePumpWait(progress, 1);
        return done();
    }
    void PumpFor(int ms) {  // dispatches whatever comes within `ms`
        for (const auto limit = Clock::now() + milliseconds(ms); Clock::now() < limit;) {
            MessagePumpWait(progress, 0);
            std::this_thread::sleep_for(milliseconds(10));
        }
    }
    Lines Of(const std::string& prefix) const {
        Lines lines;
        for (const std::string& line : transcript) {
            if (line.starts_with(prefix)) lines.push_back(line);
        }
        return lines;
    }

    // The error of connecting `client` (named "client"), whether it failed at once or was
    // reported by OnConnect; -1 if neither happened in time.
    int ConnectAndWait(TestSocket& client, const std::string& host, int port) {
        if (!client.Connect(host, port) && AsyncSocket::GetLastError() != WSAEWOULDBLOCK) {
            return AsyncSocket::GetLastError();
        }
        if (!PumpUntil([&] { return !Of("client connect").empty(); }, 20)) return -1;
        const std::string line = Of("client connect").back();
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }
};

// client (test side) connected to accepted[0] (server side), over IPv4 and IPv6 loopback. The
// connect is reported first, then that the client may send.
class ConnectedPair : public AsyncSocketTest, public testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        if (AsyncSocket probe; !probe.Create(0, SOCK_STREAM, GetParam(), loopback)) {
            GTEST_SKIP() << loopback << " is not available here";
        }
        port = Listen(*listener, loopback, GetParam());
        ASSERT_TRUE(client->Create(0, SOCK_STREAM, GetParam()));
        ASSERT_EQ(ConnectAndWait(*client, loopback, port), 0);
        ASSERT_TRUE(PumpUntil([&] { return !accepted.empty(); }));
        server = accepted[0].get();
        PumpFor(50);  // the initial "ready to send" notifications
        EXPECT_EQ(Of("client"), (Lines{"client connect 0", "client send 0"}));
        transcript.clear();
    }
    const std::string loopback = GetParam() == AF_INET6 ? "::1" : "127.0.0.1";
    std::unique_ptr<TestSocket> listener = MakeSocket("listener"), client = MakeSocket("client");
    TestSocket* server = nullptr;
    int port = 0;
};

INSTANTIATE_TEST_SUITE_P(Families, ConnectedPair, testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET6 ? "IPv6" : "IPv4"; });

// A receive is not repeated until the handler reads, and data sent before a graceful close
// is offered before the close.
TEST_P(ConnectedPair, ReceiveWaitsForAReadAndCloseComesAfterPendingData) {
    ASSERT_EQ(server->Send("xyz", 3), 3);
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return !Of("client receive 0").empty(); }));
    EXPECT_EQ(MessagePumpWait(progress, 1), WAIT_TIMEOUT);  // no busy repetition
    client->onReceive = [](TestSocket& self, int) { self.ReadSome(1); };
    client->ReadSome(1);  // reading re-enables it; two bytes are still there
    ASSERT_TRUE(PumpUntil([&] { return !Of("client close").empty(); }));
    PumpFor(100);
    EXPECT_EQ(Of("client"), (Lines{"client receive 0", "client receive 0", "client receive 0",
                                   "client close 0"}));
    EXPECT_EQ(client->received, "xyz");
}

// A reset is told from a graceful close; sending on the broken connection fails and must not
// raise SIGPIPE and end the process.
TEST_P(ConnectedPair, ResetIsReportedAndSendingAfterItFails) {
    const linger abortive{1, 0};  // closing with linger 0 sends a reset
    ASSERT_TRUE(server->SetSockOpt(SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive));
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return !Of("client close").empty(); }));
    EXPECT_EQ(Of("client close"), Lines{"client close 10054"});
    EXPECT_EQ(client->Send("x", 1), SOCKET_ERROR);
}

TEST_P(ConnectedPair, SendThatWouldBlockIsFollowedByOneSendNotification) {
    ASSERT_TRUE(client->SetSendBufferSize(4096));
    ASSERT_TRUE(server->SetReceiveBufferSize(4096));
    const std::string chunk(64 * 1024, 'x');
    size_t sent = 0;
    for (int i = 0, count = 0; i < 10000 && count != SOCKET_ERROR; ++i) {  // fill the buffers
        count = client->Send(chunk.data(), chunk.size());
        if (count > 0) sent += count;
    }
    ASSERT_EQ(AsyncSocket::GetLastError(), WSAEWOULDBLOCK);
    PumpFor(100);
    EXPECT_TRUE(Of("client send").empty());  // no room yet, no notification

    server->onReceive = [](TestSocket& self, int) { self.ReadSome(); };
    server->ReadSome();  // its receive notification came while it was not draining
    ASSERT_TRUE(PumpUntil([&] { return server->received.size() == sent; }, 20));
    ASSERT_TRUE(PumpUntil([&] { return Of("client send 0").size() == 1; }));
    PumpFor(100);
    EXPECT_EQ(Of("client send 0").size(), 1u);
}

// After a dispatch the next pass waits only for what remains of the deadline, to the
// millisecond; a handler that runs past the deadline ends the wait at once, and a signal that
// came meanwhile is kept, not lost.
TEST_P(ConnectedPair, DeadlineHoldsAcrossDispatches) {
    for (const int handlerMs : {500, 2100}) {
        Event awaited;
        client->onReceive = [&](TestSocket& self, int) {
            self.ReadSome();
            std::this_thread::sleep_for(milliseconds(handlerMs));
            if (handlerMs > 1000) awaited.Set();
        };
        ASSERT_EQ(server->Send("x", 1), 1);
        std::this_thread::sleep_for(milliseconds(20));
        const auto start = Clock::now();
        EXPECT_EQ(MessagePumpWait(awaited, 1), WAIT_TIMEOUT);
        EXPECT_GE(Clock::now() - start, milliseconds(std::min(handlerMs, 950)));
        EXPECT_LT(Clock::now() - start, milliseconds(std::max(handlerMs, 1000) + 300));
        EXPECT_EQ(awaited.TryWait(), handlerMs > 1000);
    }
    client->onReceive = nullptr;
}

TEST_P(ConnectedPair, HandlersMayDestroyTheirOwnAndOtherReadySockets) {
    auto second = MakeSocket("client2");
    ASSERT_TRUE(second->Create(0, SOCK_STREAM, GetParam()));
    second->Connect(loopback, port);
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == 2; }));
    // The first server end, registered first, is dispatched first and destroys the second,
    // which is ready in the same pass.
    server->onReceive = [&](TestSocket& self, int) {
        self.ReadSome();
        accepted[1].reset();
    };
    ASSERT_EQ(client->Send("1", 1), 1);
    ASSERT_EQ(second->Send("2", 1), 1);
    std::this_thread::sleep_for(milliseconds(50));
    ASSERT_TRUE(PumpUntil([&] { return accepted[1] == nullptr; }));
    EXPECT_TRUE(Of("server2 receive 0").empty());

    client->onClose = [&](TestSocket&, int) { client.reset(); };
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return client == nullptr; }));
    PumpFor(50);
}

TEST_F(AsyncSocketTest, ConnectReportsRefusalLookupsAndBadAddresses) {
    auto listener = MakeSocket("listener");
    const int listening = Listen(*listener, "127.0.0.1");
    auto gone = MakeSocket("gone");
    const int closed = Listen(*gone, "127.0.0.1");
    gone->Close();  // nothing listens there any more
    ASSERT_NE(closed, 0);
    using Case = std::tuple<const char*, int, int>;  // host, port, error
    for (const auto& [host, port, expected] : {
             Case{"127.0.0.1", closed, WSAECONNREFUSED},
             Case{"localhost", listening, 0},
             Case{"nonexistent.invalid", listening, WSAHOST_NOT_FOUND},
             Case{"::1", listening, WSAEAFNOSUPPORT},  // an address, but of another family
             Case{"", listening, WSAEINVAL},
         }) {
        SCOPED_TRACE(host);
        transcript.clear();
        auto client = MakeSocket("client");
        ASSERT_TRUE(client->Create());
        EXPECT_EQ(ConnectAndWait(*client, host, port), expected);
    }
}

// A host name is looked up for every family: a socket opened for IPv6 connects to an IPv4
// address of the name, unless it was bound to an address of its own.
TEST_F(AsyncSocketTest, NameLookupFollowsTheAddressUnlessTheSocketIsBound) {
    auto listener = MakeSocket("listener");
    const int port = Listen(*listener, "127.0.0.1");
    for (const auto& [bindAddress, connects] : {std::pair{"", true}, std::pair{"::1", false}}) {
        SCOPED_TRACE(bindAddress);
        transcript.clear();
        auto client = MakeSocket("client");
        if (!client->Create(0, SOCK_STREAM, AF_INET6, bindAddress)) GTEST_SKIP() << "no IPv6";
        EXPECT_EQ(ConnectAndWait(*client, "localhost", port) == 0, connects);
        EXPECT_EQ(client->Family(), connects ? AF_INET : AF_INET6);
    }
}

// A socket closed or destroyed while its name lookup runs never hears of the late result.
TEST_F(AsyncSocketTest, LookupResultAfterCloseOrDestructionIsDiscarded) {
    auto closed = MakeSocket("client"), destroyed = MakeSocket("client");
    for (TestSocket* socket : {closed.get(), destroyed.get()}) {
        ASSERT_TRUE(socket->Create());
        socket->Connect("localhost", 21);
    }
    closed->Close();
    destroyed.reset();
    std::this_thread::sleep_for(milliseconds(200));  // let the lookups finish
    PumpFor(100);
    EXPECT_TRUE(transcript.empty());
}

}  // namespace
}  // namespace tarnwick::platform
