// Windows Sockets error numbers and their mapping from POSIX errno and getaddrinfo codes.
// The FTP engine logs and compares these numbers exactly as the Windows version did, so every
// failure of a platform socket call is reported as one of them (see AsyncSocket).
// Everything here is a pure function: callable from any thread.
#pragma once

namespace tarnwick::platform {

// The numbers the system knows, by their Windows Sockets names.
enum SocketError : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAEDISCON = 10101,
    WSASYSCALLFAILURE = 10107,
    WSATYPE_NOT_FOUND = 10109,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// The value socket operations return on failure (Send, Receive).
inline constexpr int SOCKET_ERROR = -1;

// errno → Windows Sockets number. 0 stays 0. An errno with no Windows counterpart gives
// WSASYSCALLFAILURE, so a failure is never reported as success or as a misleading number.
int SocketErrorFromErrno(int error);

// getaddrinfo result (EAI_*) → Windows Sockets number (11001…11004 for the lookup failures).
// `savedErrno` is errno as it was right after getaddrinfo, used for EAI_SYSTEM. 0 stays 0.
int SocketErrorFromAddrInfo(int eaiError, int savedErrno);

}  // namespace tarnwick::platform
