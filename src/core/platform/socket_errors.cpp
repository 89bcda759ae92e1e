#include "platform/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace tarnwick::platform {

namespace {

struct ErrnoPair {
    int posix;
    int windows;
};

// Every errno a socket, poll, eventfd or timerfd call can report. The Windows numbers are
// 10000 plus the BSD errno, whose numbering differs from Linux, hence a table.
constexpr ErrnoPair kErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},  // connect refused by a local firewall rule
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},   // the system's file table is full
    {ENOMEM, WSAENOBUFS},  // the kernel could not allocate socket buffers
    {ENOSPC, WSAENOBUFS},
    {EPIPE, WSAESHUTDOWN},  // sending on a connection that is shut down or already broken
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},  // the same as EAGAIN on Linux, not everywhere
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {ENOTSUP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENONET, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {EPROTO, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

}  // namespace

int SocketErrorFromErrno(int error) {
    if (error == 0) return 0;
    for (const ErrnoPair& pair : kErrnoTable) {
        if (pair.posix == error) return pair.windows;
    }
    return WSASYSCALLFAILURE;
}

int SocketErrorFromAddrInfo(int eaiError, int savedErrno) {
    switch (eaiError) {
        case 0:
            return 0;
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:  // the host exists but has no address of the requested family
            return WSANO_DATA;
#endif
        case EAI_FAMILY:
            return WSAEAFNOSUPPORT;
        case EAI_SOCKTYPE:
            return WSAESOCKTNOSUPPORT;
        case EAI_SERVICE:
            return WSATYPE_NOT_FOUND;
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_BADFLAGS:
            return WSAEINVAL;
        case EAI_OVERFLOW:
            return WSAEFAULT;
        case EAI_SYSTEM: {
            const int mapped = SocketErrorFromErrno(savedErrno);
            return mapped == 0 ? WSANO_RECOVERY : mapped;
        }
        default:
            return WSANO_RECOVERY;
    }
}

}  // namespace tarnwick::platform
