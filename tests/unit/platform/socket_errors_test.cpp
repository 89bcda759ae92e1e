// Windows Sockets numbers from errno and getaddrinfo codes.
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "platform/socket_errors.h"

namespace tarnwick::platform {
namespace {

// The FTP code treats WSAEWOULDBLOCK as "try later" and 0 as success: no other errno may turn
// into either, or a real failure would be swallowed.
TEST(SocketErrors, NoFailureLooksLikeSuccessOrWouldBlock) {
    for (int error = 1; error < 200; ++error) {
        const int mapped = SocketErrorFromErrno(error);
        EXPECT_NE(mapped, 0) << "errno " << error;
        EXPECT_TRUE(error == EAGAIN || mapped != WSAEWOULDBLOCK) << "errno " << error;
    }
}

TEST(SocketErrors, LookupFailuresMapToTheHostErrors) {
    const struct {
        int eai, savedErrno, expected;
    } cases[] = {
        {0, 0, 0},
        {EAI_NONAME, 0, 11001},
        {EAI_AGAIN, 0, 11002},
        {EAI_FAIL, 0, 11003},
        {EAI_NODATA, 0, 11004},
        {EAI_SYSTEM, ECONNREFUSED, WSAECONNREFUSED},
        {EAI_SYSTEM, 0, WSANO_RECOVERY},  // a system failure without errno is still a failure
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SocketErrorFromAddrInfo(c.eai, c.savedErrno), c.expected) << "EAI " << c.eai;
    }
}

}  // namespace
}  // namespace tarnwick::platform
