// vsftpd for tests: /usr/sbin/vsftpd run as the launching user, serving Root() to anonymous
// users (read only), with explicit TLS (AUTH TLS required for the login and data) or implicit
// TLS (TLS from the first byte), on a self-signed certificate made for the server. Without a
// chroot the server's paths are the real ones: a file F in Root() is at the remote path
// Root() / F. Tests check Installed() first and skip when vsftpd is missing; the rest (start,
// stop, failures) is ServerProcess's.
//
// Threads: one test thread uses the object.
#pragma once

#include "server_process.h"

namespace tarnwick::test {

class VsftpdServer : public ServerProcess {
public:
    enum class Mode { kExplicitTls, kImplicitTls };

    static bool Installed();

    explicit VsftpdServer(Mode mode);
};

}  // namespace tarnwick::test
