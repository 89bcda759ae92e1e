// A host name is looked up for every family: a socket opened for one family connects to an
// address of the other, unless it was bound to an address of its own.
#include <gtest/gtest.h>

#include "loopback_socket.h"
#include "platform/async_socket.h"
#include "platform/message_pump.h"

namespace tarnwick::platform {
namespace {

class ConnectingSocket : public AsyncSocket {
public:
    Event connected{Event::kManualReset};
    int error = -1;

protected:
    void OnConnect(int result) override {
        error = result;
        connected.Set();
    }
};

TEST(AddressFamilyTest, NameLookupFollowsTheAddressUnlessTheSocketIsBound) {
    const test::UniqueFd listener = test::ListenLoopback("127.0.0.1");
    ASSERT_TRUE(listener);
    const int port = test::LocalPort(listener.Get());
    struct Case {
        const char* bindAddress;  // "" leaves the socket free to change family
        bool connects;
    };
    for (const Case& c : {Case{"", true}, Case{"::1", false}}) {
        SCOPED_TRACE(c.bindAddress);
        ConnectingSocket client;
        if (!client.Create(0, SOCK_STREAM, AF_INET6, c.bindAddress)) GTEST_SKIP() << "no IPv6";
        EXPECT_FALSE(client.Connect("localhost", port));
        ASSERT_EQ(AsyncSocket::GetLastError(), WSAEWOULDBLOCK);
        ASSERT_EQ(MessagePumpWait(client.connected, 10), WAIT_OBJECT_0);
        EXPECT_EQ(client.error == 0, c.connects) << client.error;
        EXPECT_EQ(client.Family(), c.connects ? AF_INET : AF_INET6);
    }
}

}  // namespace
}  // namespace tarnwick::platform
