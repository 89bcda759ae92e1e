#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "platform/socket_errors.h"

namespace tarnwick::platform {
namespace {

TEST(SocketErrors, ErrnoMapsToTheWindowsSocketsNumber) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {EINTR, WSAEINTR},
        {EBADF, 10009},
        {EACCES, 10013},
        {EINVAL, 10022},
        {EMFILE, 10024},
        {EAGAIN, WSAEWOULDBLOCK},
        {EINPROGRESS, 10036},
        {ENOTSOCK, 10038},
        {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},
        {ENETUNREACH, 10051},
        {ECONNABORTED, 10053},
        {ECONNRESET, WSAECONNRESET},
        {ENOBUFS, 10055},
        {EISCONN, 10056},
        {ENOTCONN, 10057},
        {EPIPE, WSAESHUTDOWN},
        {ETIMEDOUT, WSAETIMEDOUT},
        {ECONNREFUSED, WSAECONNREFUSED},
        {EHOSTDOWN, 10064},
        {EHOSTUNREACH, WSAEHOSTUNREACH},
        {EIO, WSASYSCALLFAILURE},  // no Windows Sockets twin
    };
    for (const auto& [posix, windows] : cases) {
        EXPECT_EQ(SocketErrorFromErrno(posix), windows) << "errno " << posix;
    }
}

// The FTP code treats WSAEWOULDBLOCK as "try later" and 0 as success: no other errno may turn
// into either, or a real failure would be swallowed.
TEST(SocketErrors, NoFailureLooksLikeSuccessOrWouldBlock) {
    for (int error = 1; error < 200; ++error) {
        const int mapped = SocketErrorFromErrno(error);
        EXPECT_NE(mapped, 0) << "errno " << error;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            EXPECT_NE(mapped, WSAEWOULDBLOCK) << "errno " << error;
        }
    }
}

TEST(SocketErrors, LookupFailuresMapToTheHostErrors) {
    struct Case {
        int eai;
        int savedErrno;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {EAI_NONAME, 0, WSAHOST_NOT_FOUND},
        {EAI_AGAIN, 0, WSATRY_AGAIN},
        {EAI_FAIL, 0, WSANO_RECOVERY},
        {EAI_NODATA, 0, WSANO_DATA},
        {EAI_ADDRFAMILY, 0, WSANO_DATA},
        {EAI_FAMILY, 0, WSAEAFNOSUPPORT},
        {EAI_MEMORY, 0, WSAENOBUFS},
        {EAI_SYSTEM, ECONNREFUSED, WSAECONNREFUSED},
        {EAI_SYSTEM, 0, WSANO_RECOVERY},  // a system failure without errno is still a failure
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SocketErrorFromAddrInfo(c.eai, c.savedErrno), c.expected) << "EAI " << c.eai;
    }
}

}  // namespace
}  // namespace tarnwick::platform
