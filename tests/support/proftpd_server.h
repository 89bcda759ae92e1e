// ProFTPD for tests: /usr/sbin/proftpd (with mod_tls) run in the foreground as the launching
// user, with explicit TLS required for the login and for data (AUTH TLS, PROT P) on a
// self-signed certificate made for the server. One login, RealFtpServer::kUser / kPassword from
// a password file of its own, whose home is Root(); no chroot, so a file F in Root() is at the
// remote path Root() / F. Its system and TLS logs stay in its directory, where Log() finds
// them. Tests check Installed() first and skip when ProFTPD or mod_tls is missing; the rest
// (start, stop, failures) is ServerProcess's.
//
// Threads: one test thread uses the object.
#pragma once

#include "server_process.h"

namespace tarnwick::test {

class ProftpdServer : public ServerProcess {
public:
    static bool Installed();

    ProftpdServer();
};

}  // namespace tarnwick::test
