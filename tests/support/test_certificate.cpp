#include "test_certificate.h"

#include <cstdio>
#include <cstdlib>

#include "scratch_directory.h"

namespace tarnwick::test {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

fs::path MakeCertificate(const fs::path& dir, const CertificateRequest& request) {
    const fs::path key = dir / (request.name + ".key"), cert = dir / (request.name + ".crt"),
                   both = dir / (request.name + ".pem");
    const std::string validity = " -days " + std::to_string(request.days);
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes" + validity +
                                " -subj '/CN=" + request.commonName + "' -addext " +
                                "'subjectAltName=" + request.altNames + "' -keyout '" +
                                key.string() + "' -out '" + cert.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    WriteFile(both, ReadFile(key) + ReadFile(cert));
    return both;
}

std::string CertificateFingerprint(const fs::path& pem) {
    const std::string command =
        "openssl x509 -noout -fingerprint -sha256 -in '" + pem.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
    const size_t equals = output.find('=');
    if (equals == std::string::npos) return {};
    std::string fingerprint = output.substr(equals + 1);
    while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r')) {
        fingerprint.pop_back();
    }
    return fingerprint;
}

}  // namespace tarnwick::test
