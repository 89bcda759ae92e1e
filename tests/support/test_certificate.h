// Server certificates made at test time with the openssl command: a self-signed
// certificate and its key in one PEM file, as pyftpdlib and vsftpd read them.
//
// Threads: called from one test thread; each call writes only files under `dir`.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick::test {

struct CertificateRequest {
    std::string name = "server";  // the files are NAME.pem (certificate and key) and NAME.crt
    std::string commonName = "localhost";
    std::string altNames = "IP:127.0.0.1";  // the subjectAltName value
    int days = 2;
};

// Writes DIR/NAME.pem (key and certificate) and DIR/NAME.crt (the certificate alone) and
// returns the .pem path, or an empty path when openssl failed.
std::filesystem::path MakeCertificate(const std::filesystem::path& dir,
                                      const CertificateRequest& request = {});

// The SHA-256 fingerprint of a PEM certificate as upper-case hex pairs joined by ':' (as
// `openssl x509 -fingerprint -sha256` writes it), or empty on failure.
std::string CertificateFingerprint(const std::filesystem::path& pem);

}  // namespace tarnwick::test
