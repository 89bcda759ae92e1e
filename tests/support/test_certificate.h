// Server certificates made at test time with the openssl command: a self-signed
// certificate and its key in one PEM file, as pyftpdlib and vsftpd read them; and the
// openssl command's other answers.
//
// Threads: called from one test thread; each call writes only files under `dir`.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick::test {

// Writes DIR/NAME.pem (key and certificate) and DIR/NAME.crt (the certificate alone), for
// CN=localhost with the subjectAltName `altNames`, valid two days, and returns the .pem path,
// or an empty path when openssl failed.
std::filesystem::path MakeCertificate(const std::filesystem::path& dir,
                                      const std::string& name = "server",
                                      const std::string& altNames = "IP:127.0.0.1");

// The first line `openssl ARGUMENTS` writes, without its line end; empty when it wrote none.
std::string OpenSslLine(const std::string& arguments);

// The SHA-256 fingerprint of a PEM certificate as upper-case hex pairs joined by ':' (as
// `openssl x509 -fingerprint -sha256` writes it), or empty on failure.
std::string CertificateFingerprint(const std::filesystem::path& pem);

}  // namespace tarnwick::test
