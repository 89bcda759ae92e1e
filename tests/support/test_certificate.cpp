#include "test_certificate.h"

#include <cstdio>
#include <cstdlib>

#include "scratch_directory.h"

namespace tarnwick::test {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

fs::path MakeCertificate(const fs::path& dir, const std::string& name,
                         const std::string& altNames) {
    const fs::path key = dir / (name + ".key"), cert = dir / (name + ".crt"),
                   both = dir / (name + ".pem");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 "
        "-subj '/CN=localhost' -addext 'subjectAltName=" +
        altNames + "' -keyout '" + key.string() + "' -out '" + cert.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    WriteFile(both, ReadFile(key) + ReadFile(cert));
    return both;
}

std::string OpenSslLine(const std::string& arguments) {
    FILE* pipe = popen(("openssl " + arguments + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return {};
    char buffer[512];
    std::string line = fgets(buffer, sizeof buffer, pipe) != nullptr ? buffer : "";
    pclose(pipe);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string CertificateFingerprint(const fs::path& pem) {
    const std::string line =
        OpenSslLine("x509 -noout -fingerprint -sha256 -in '" + pem.string() + "'");
    const size_t equals = line.find('=');
    return equals == std::string::npos ? "" : line.substr(equals + 1);
}

}  // namespace tarnwick::test
