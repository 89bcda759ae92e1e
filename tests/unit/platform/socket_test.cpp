// AsyncSocket over loopback: notifications, their order and their re-enabling rules, name
// lookups, errors, and handlers that close or destroy sockets while being dispatched.
// Everything runs on the test thread; every wait is bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/async_socket.h"
#include "platform/message_pump.h"

namespace tarnwick::platform {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A socket that writes every notification into a shared transcript ("name kind error"),
// signals `progress`, then runs the test's hook for it. Hooks may destroy the socket.
class TestSocket : public AsyncSocket {
public:
    using Hook = std::function<void(TestSocket&, int)>;

    TestSocket(std::string name, std::vector<std::string>& transcript, Event& progress)
        : name(std::move(name)), transcript(transcript), progress(progress) {}

    Hook onReceive, onSend, onConnect, onClose, onAccept;
    std::string received;

    // Reads what is there (one Receive) and keeps it.
    void ReadSome(size_t limit = 4096) {
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
        if (hook) hook(*this, error);  // last: the hook may destroy *this
    }

    std::string name;
    std::vector<std::string>& transcript;
    Event& progress;
};

bool CanBindLoopback(int family) {
    const int fd = socket(family, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof v4;
    }
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    return bound;
}

class AsyncSocketTest : public testing::Test {
protected:
    std::vector<std::string> transcript;
    Event progress;
    std::vector<std::unique_ptr<TestSocket>> accepted;  // server ends, in order of arrival
    TestSocket::Hook acceptedOnReceive;                 // given to every accepted socket

    std::unique_ptr<TestSocket> MakeSocket(const std::string& name) {
        return std::make_unique<TestSocket>(name, transcript, progress);
    }

    // A listener on `address` port 0 that accepts every connection into `accepted` (named
    // "server", "server2", ...). Returns its port, 0 on failure.
    int Listen(TestSocket& listener, const std::string& address, int family = AF_INET) {
        if (!listener.Create(0, SOCK_STREAM, family, address) || !listener.Listen()) return 0;
        listener.onAccept = [this](TestSocket& self, int) {
            const std::string suffix = accepted.empty() ? "" : std::to_string(accepted.size() + 1);
            auto server = MakeSocket("server" + suffix);
            server->onReceive = acceptedOnReceive;
            if (self.Accept(*server)) accepted.push_back(std::move(server));
        };
        std::string host;
        int port = 0;
        return listener.GetSockName(host, port) ? port : 0;
    }

    // Dispatches until `done` holds; false if it did not within `seconds`.
    bool PumpUntil(const std::function<bool()>& done, int seconds = 5) {
        const auto limit = Clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (Clock::now() > limit) return false;
            MessagePumpWait(progress, 1);
        }
        return true;
    }

    // Dispatches whatever is pending for about `ms` milliseconds.
    void PumpFor(int ms) {
        const auto limit = Clock::now() + milliseconds(ms);
        while (Clock::now() < limit) {
            MessagePumpWait(progress, 0);
            std::this_thread::sleep_for(milliseconds(10));
        }
    }

    bool Logged(const std::string& line) const {
        return std::find(transcript.begin(), transcript.end(), line) != transcript.end();
    }
    long CountOf(const std::string& line) const {
        return std::count(transcript.begin(), transcript.end(), line);
    }
    std::vector<std::string> Lines(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const std::string& line : transcript) {
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        }
        return lines;
    }

    // Connects `client` to `port` on `host` and dispatches until the connect is reported.
    // Returns the connect's error number (a failure at once counts the same).
    int ConnectAndWait(TestSocket& client, const std::string& host, int port) {
        if (client.Connect(host, port)) return -1;  // never completes at once
        const int error = AsyncSocket::GetLastError();
        if (error != WSAEWOULDBLOCK) return error;
        const size_t before = transcript.size();
        auto connectLine = [&] {
            return std::find_if(transcript.begin() + before, transcript.end(),
                                [](const std::string& line) {
                                    return line.find(" connect ") != std::string::npos;
                                });
        };
        if (!PumpUntil([&] { return connectLine() != transcript.end(); })) return -2;
        const std::string line = *connectLine();
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }
};

// The client sends once it may, the server echoes and closes; both ends see the order the
// FTP code relies on: connect, send, receive(s), one close, and the addresses line up.
class LoopbackEcho : public AsyncSocketTest, public testing::WithParamInterface<int> {};

TEST_P(LoopbackEcho, NotificationsArriveInOrderAndCloseOnce) {
    const int family = GetParam();
    const std::string loopback = family == AF_INET6 ? "::1" : "127.0.0.1";
    if (!CanBindLoopback(family)) GTEST_SKIP() << loopback << " is not available here";

    auto listener = MakeSocket("listener");
    const int port = Listen(*listener, loopback, family);
    ASSERT_NE(port, 0);
    auto client = MakeSocket("client");
    ASSERT_TRUE(client->Create(0, SOCK_STREAM, family));
    client->onSend = [](TestSocket& self, int) { self.Send("hello", 5); };
    client->onReceive = [](TestSocket& self, int) { self.ReadSome(); };
    ASSERT_EQ(ConnectAndWait(*client, loopback, port), 0);

    ASSERT_TRUE(PumpUntil([&] { return !accepted.empty(); }));
    TestSocket& server = *accepted.front();
    server.onReceive = [](TestSocket& self, int) {
        self.ReadSome();
        if (self.received == "hello") {
            self.Send("hello", 5);
            self.Close();
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return Logged("client close 0"); }));
    PumpFor(100);  // nothing more may follow the close

    const std::vector<std::string> expected = {"client connect 0", "client send 0",
                                               "client receive 0", "client close 0"};
    EXPECT_EQ(Lines("client"), expected);
    EXPECT_EQ(client->received, "hello");

    std::string peerHost, localHost;
    int peerPort = 0, localPort = 0;
    ASSERT_TRUE(client->GetPeerName(peerHost, peerPort));
    ASSERT_TRUE(listener->GetSockName(localHost, localPort));
    EXPECT_EQ(peerHost, loopback);
    EXPECT_EQ(localHost, loopback);
    EXPECT_EQ(peerPort, port);
    EXPECT_EQ(client->Family(), family);
}

INSTANTIATE_TEST_SUITE_P(Families, LoopbackEcho, testing::Values(AF_INET, AF_INET6),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == AF_INET6 ? "IPv6" : "IPv4";
                         });

// A pair of connected sockets: client (test side) and accepted.front() (server side).
class ConnectedPair : public AsyncSocketTest {
protected:
    void SetUp() override {
        listener = MakeSocket("listener");
        port = Listen(*listener, "127.0.0.1");
        ASSERT_NE(port, 0);
        client = MakeSocket("client");
        ASSERT_TRUE(client->Create());
        ASSERT_EQ(ConnectAndWait(*client, "127.0.0.1", port), 0);
        ASSERT_TRUE(PumpUntil([&] { return !accepted.empty(); }));
        server = accepted.front().get();
        PumpFor(50);  // the initial "ready to send" notifications
        transcript.clear();
    }

    std::unique_ptr<TestSocket> listener, client;
    TestSocket* server = nullptr;
    int port = 0;
};

TEST_F(ConnectedPair, ReceiveIsNotRepeatedUntilTheHandlerReads) {
    ASSERT_EQ(server->Send("abc", 3), 3);
    ASSERT_TRUE(PumpUntil([&] { return Logged("client receive 0"); }));
    EXPECT_EQ(MessagePumpWait(progress, 1), WAIT_TIMEOUT);  // no busy repetition
    EXPECT_EQ(CountOf("client receive 0"), 1);

    client->ReadSome(1);  // reading re-enables the notification; two bytes are still there
    ASSERT_TRUE(PumpUntil([&] { return CountOf("client receive 0") == 2; }));
    EXPECT_EQ(client->received, "a");
}

TEST_F(ConnectedPair, PendingDataIsOfferedBeforeTheGracefulClose) {
    client->onReceive = [](TestSocket& self, int) { self.ReadSome(1); };
    ASSERT_EQ(server->Send("xyz", 3), 3);
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return Logged("client close 0"); }));
    PumpFor(100);
    const std::vector<std::string> expected = {"client receive 0", "client receive 0",
                                               "client receive 0", "client close 0"};
    EXPECT_EQ(Lines("client"), expected);
    EXPECT_EQ(client->received, "xyz");
    EXPECT_EQ(client->Receive(nullptr, 0), 0);  // still open: the handler decides when to close
}

TEST_F(ConnectedPair, ResetByPeerIsReportedAsConnectionReset) {
    const linger abortive{1, 0};  // closing with linger 0 sends a reset instead of a FIN
    ASSERT_TRUE(server->SetSockOpt(SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive));
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return !Lines("client close").empty(); }));
    EXPECT_EQ(Lines("client close"), std::vector<std::string>{"client close 10054"});
    // Sending on the broken connection fails; it must not raise SIGPIPE and end the process.
    EXPECT_EQ(client->Send("x", 1), SOCKET_ERROR);
    EXPECT_NE(AsyncSocket::GetLastError(), WSAEWOULDBLOCK);
}

TEST_F(ConnectedPair, AttachedDescriptorKeepsItsConnectionAndNotifications) {
    auto adopted = MakeSocket("adopted");
    const int fd = client->Detach();
    EXPECT_FALSE(client->IsOpen());
    ASSERT_TRUE(adopted->Attach(fd));
    adopted->onReceive = [](TestSocket& self, int) { self.ReadSome(); };
    ASSERT_EQ(server->Send("late", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return adopted->received == "late"; }));
    EXPECT_TRUE(Lines("client").empty());
    EXPECT_EQ(adopted->Send("ok", 2), 2);  // attached as connected, not merely open
}

TEST_F(ConnectedPair, SendThatWouldBlockIsFollowedByOneSendNotification) {
    bool drain = false;
    server->onReceive = [&](TestSocket& self, int) {
        if (drain) self.ReadSome(64 * 1024);
    };
    ASSERT_TRUE(client->SetSendBufferSize(4096));
    ASSERT_TRUE(server->SetReceiveBufferSize(4096));
    const std::string chunk(64 * 1024, 'x');
    size_t sent = 0;
    for (int i = 0; i < 10000; ++i) {  // fill every buffer on the way
        const int count = client->Send(chunk.data(), chunk.size());
        if (count == SOCKET_ERROR) break;
        sent += count;
    }
    ASSERT_EQ(AsyncSocket::GetLastError(), WSAEWOULDBLOCK);
    PumpFor(100);
    EXPECT_TRUE(Lines("client send").empty());  // no room yet, no notification

    // The server drains everything; then, and only once, the client hears it may send again.
    drain = true;
    server->ReadSome(64 * 1024);  // its receive notification came while not draining
    ASSERT_TRUE(PumpUntil([&] { return server->received.size() == sent; }, 20));
    ASSERT_TRUE(PumpUntil([&] { return Logged("client send 0"); }));
    PumpFor(100);
    EXPECT_EQ(CountOf("client send 0"), 1);
}

// Like an upload that runs inside its connection's notification: the connect handler sends
// and then waits (and so dispatches) while its own socket's "ready to send" notifications,
// the accept and the peer's receives come in.
TEST_F(AsyncSocketTest, HandlerMayWaitWhileItsOwnNotificationsAreDispatched) {
    const std::string payload = [] {
        std::string bytes(2 * 1024 * 1024, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
        return bytes;
    }();
    auto listener = MakeSocket("listener");
    const int port = Listen(*listener, "127.0.0.1");
    ASSERT_NE(port, 0);
    acceptedOnReceive = [](TestSocket& self, int) { self.ReadSome(64 * 1024); };

    Event chunkSent(Event::kManualReset);
    size_t offset = 0;
    int nestedResult = -1;
    auto sendRest = [&](TestSocket& self) {
        while (offset < payload.size()) {
            const int count = self.Send(payload.data() + offset, payload.size() - offset);
            if (count == SOCKET_ERROR) return;  // WSAEWOULDBLOCK: OnSend goes on
            offset += count;
        }
        chunkSent.Set();
    };
    auto uploader = MakeSocket("client");
    uploader->onConnect = [&](TestSocket& self, int) {
        sendRest(self);
        nestedResult = MessagePumpWait(chunkSent, 10);
        self.ShutDown();
    };
    uploader->onSend = [&](TestSocket& self, int) { sendRest(self); };
    ASSERT_TRUE(uploader->Create());
    uploader->Connect("127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return nestedResult != -1; }, 20));
    EXPECT_EQ(nestedResult, WAIT_OBJECT_0);
    ASSERT_EQ(accepted.size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return accepted[0]->received.size() == payload.size(); }, 20));
    EXPECT_TRUE(accepted[0]->received == payload);
}

TEST_F(ConnectedPair, DeadlinePassingWhileDispatchingEndsTheWaitAtOnce) {
    Event awaited;
    client->onReceive = [&](TestSocket& self, int) {
        self.ReadSome();
        std::this_thread::sleep_for(milliseconds(2100));  // a handler that takes too long
        awaited.Set();
    };
    ASSERT_EQ(server->Send("x", 1), 1);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(MessagePumpWait(awaited, 1), WAIT_TIMEOUT);
    EXPECT_TRUE(awaited.TryWait());  // the late signal is kept, not lost
}

TEST_F(ConnectedPair, SocketMayDestroyItselfInItsCloseHandler) {
    client->onClose = [&](TestSocket&, int) { client.reset(); };
    server->Close();
    ASSERT_TRUE(PumpUntil([&] { return client == nullptr; }));
    PumpFor(50);
    EXPECT_EQ(Lines("client"), std::vector<std::string>{"client close 0"});
}

TEST_F(ConnectedPair, HandlerMayDestroyAnotherSocketThatIsReadyInTheSamePass) {
    auto second = MakeSocket("client2");
    ASSERT_TRUE(second->Create());
    ASSERT_EQ(ConnectAndWait(*second, "127.0.0.1", port), 0);
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == 2; }));
    PumpFor(50);
    // The first server end, registered first, is dispatched first and destroys the second.
    server->onReceive = [&](TestSocket& self, int) {
        self.ReadSome();
        accepted[1].reset();
    };
    ASSERT_EQ(client->Send("1", 1), 1);
    ASSERT_EQ(second->Send("2", 1), 1);
    std::this_thread::sleep_for(milliseconds(50));  // both are readable before the next pass
    ASSERT_TRUE(PumpUntil([&] { return accepted[1] == nullptr; }));
    PumpFor(50);
    EXPECT_EQ(server->received, "1");
    EXPECT_FALSE(Logged("server2 receive 0"));
}

TEST_F(AsyncSocketTest, ListenerMayReopenItselfInItsAcceptHandler) {
    // As the active-mode listener does: accept, close, open again on a fresh port.
    auto listener = MakeSocket("listener");
    ASSERT_TRUE(listener->Create(0, SOCK_STREAM, AF_INET, "127.0.0.1"));
    ASSERT_TRUE(listener->Listen());
    listener->onAccept = [this](TestSocket& self, int) {
        auto server = MakeSocket("server");
        ASSERT_TRUE(self.Accept(*server));
        accepted.push_back(std::move(server));
        self.Close();
        ASSERT_TRUE(self.Create(0, SOCK_STREAM, AF_INET, "127.0.0.1"));
        ASSERT_TRUE(self.Listen());
    };
    std::vector<int> ports;
    std::vector<std::unique_ptr<TestSocket>> clients;
    for (int i = 0; i < 2; ++i) {
        std::string host;
        int port = 0;
        ASSERT_TRUE(listener->GetSockName(host, port));
        ports.push_back(port);
        clients.push_back(MakeSocket("client"));
        ASSERT_TRUE(clients.back()->Create());
        ASSERT_EQ(ConnectAndWait(*clients.back(), host, port), 0);
        ASSERT_TRUE(PumpUntil([&] { return accepted.size() == static_cast<size_t>(i + 1); }));
    }
    EXPECT_NE(ports[0], ports[1]);
    EXPECT_EQ(CountOf("listener accept 0"), 2);
}

TEST_F(AsyncSocketTest, ConnectToAClosedPortIsRefused) {
    int freePort = 0;
    {
        AsyncSocket probe;
        std::string host;
        ASSERT_TRUE(probe.Create(0, SOCK_STREAM, AF_INET, "127.0.0.1"));
        ASSERT_TRUE(probe.GetSockName(host, freePort));
    }  // closed again: nothing listens there
    auto client = MakeSocket("client");
    ASSERT_TRUE(client->Create());
    EXPECT_EQ(ConnectAndWait(*client, "127.0.0.1", freePort), WSAECONNREFUSED);
    EXPECT_EQ(client->Send("x", 1), SOCKET_ERROR);
    EXPECT_EQ(AsyncSocket::GetLastError(), WSAENOTCONN);
}

TEST_F(AsyncSocketTest, HostNamesAreLookedUpWithoutBlocking) {
    auto listener = MakeSocket("listener");
    const int port = Listen(*listener, "127.0.0.1");
    ASSERT_NE(port, 0);
    const std::pair<const char*, int> cases[] = {
        {"localhost", 0},
        {"nonexistent.invalid", WSAHOST_NOT_FOUND},
    };
    for (const auto& [host, expected] : cases) {
        SCOPED_TRACE(host);
        auto client = MakeSocket("client");
        ASSERT_TRUE(client->Create());
        EXPECT_FALSE(client->Connect(host, port));
        EXPECT_EQ(AsyncSocket::GetLastError(), WSAEWOULDBLOCK);  // reported by OnConnect
        transcript.clear();
        ASSERT_TRUE(PumpUntil([&] { return !Lines("client connect").empty(); }, 20));
        EXPECT_EQ(Lines("client connect"),
                  std::vector<std::string>{"client connect " + std::to_string(expected)});
    }
}

TEST_F(AsyncSocketTest, ConnectRejectsAnAddressOfTheOtherFamilyAndAnEmptyHost) {
    AsyncSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect("::1", 21));
    EXPECT_EQ(AsyncSocket::GetLastError(), WSAEAFNOSUPPORT);
    EXPECT_FALSE(client.Connect("", 21));
    EXPECT_EQ(AsyncSocket::GetLastError(), WSAEINVAL);
}

// A socket closed or destroyed while its name lookup runs never hears of the late result,
// and the lookup's helper finishes into its own shared state.
TEST_F(AsyncSocketTest, LookupResultAfterCloseOrDestructionIsDiscarded) {
    auto closed = MakeSocket("closed");
    auto destroyed = MakeSocket("destroyed");
    ASSERT_TRUE(closed->Create());
    ASSERT_TRUE(destroyed->Create());
    closed->Connect("localhost", 21);
    destroyed->Connect("localhost", 21);
    closed->Close();
    destroyed.reset();
    std::this_thread::sleep_for(milliseconds(200));  // let the helpers finish
    PumpFor(100);
    EXPECT_TRUE(transcript.empty());

    // The closed object is usable again.
    auto listener = MakeSocket("listener");
    const int port = Listen(*listener, "127.0.0.1");
    ASSERT_TRUE(closed->Create());
    EXPECT_FALSE(closed->Connect("localhost", port));
    ASSERT_TRUE(PumpUntil([&] { return Logged("closed connect 0"); }, 20));
}

}  // namespace
}  // namespace tarnwick::platform
