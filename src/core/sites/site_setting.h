// One site definition: the connection parameters a session is opened with.
// A plain value; the site list owns its records. Reading and writing "site.dat" live beside it.
#pragma once

#include <string>

namespace tarnwick {

enum LoginType : int { kLoginNormal = 0, kLoginAnonymous = 1, kLoginDouble = 2 };

// How the connection is secured: not at all, AUTH TLS after the welcome (explicit), TLS
// from the first byte (implicit), or AUTH TLS when the server offers it and clear otherwise
// (the user allowed that fallback by choosing it).
enum TlsMode : int { kTlsNone = 0, kTlsExplicit = 1, kTlsImplicit = 2, kTlsIfAvailable = 3 };

struct SiteSetting {
    std::string name;
    std::string address;
    int port = 21;
    std::string username = "anonymous";
    std::string password;  // plain text in memory; encoded in the site file
    int logintype = kLoginAnonymous;
    int hosttype = 0;  // 0: automatic detection, the only value offered
    std::string deflocaldir;
    std::string defremotedir;
    int passive = 0;
    int tls = kTlsNone;  // a TlsMode; stored in the site file
    // Kept in memory only: set by the command line's options.
    bool tlsAcceptUnverified = false;  // a certificate that does not verify is accepted
    // The only certificate accepted, whether it verifies or not (SHA-256, upper-case hex
    // pairs joined by ':'); empty for none.
    std::string tlsPinnedFingerprint{};
    std::string tlsCaFile{};  // a PEM file of certificates trusted besides the system's
};

}  // namespace tarnwick
