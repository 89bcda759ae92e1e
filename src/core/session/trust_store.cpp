#include "session/trust_store.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "listing/atomic_file.h"
#include "listing/local_files.h"
#include "listing/text_utils.h"

namespace tarnwick {

namespace {

std::string Key(const std::string& host, int port) {
    return ToLowerAscii(host) + ":" + std::to_string(port);
}

// The lines of the file; empty when it is missing or unreadable.
std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// Splits "HOST:PORT FINGERPRINT" at its last space; false for a line of another shape.
bool SplitLine(const std::string& line, std::string& key, std::string& fingerprint) {
    const size_t space = line.rfind(' ');
    if (space == std::string::npos || space == 0) return false;
    key = ToLowerAscii(line.substr(0, space));
    fingerprint = NormalizeFingerprint(line.substr(space + 1));
    return !fingerprint.empty();
}

}  // namespace

std::string NormalizeFingerprint(std::string_view text) {
    constexpr size_t kHexDigits = 64;
    std::string normal;
    size_t digits = 0;
    for (const char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits == kHexDigits) return "";
        if (digits > 0 && digits % 2 == 0) normal += ':';
        normal += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ++digits;
    }
    return digits == kHexDigits ? normal : "";
}

TrustStore::TrustStore(std::string filePath, Access fileAccess)
    : path(std::move(filePath)), access(fileAccess) {}

std::shared_ptr<TrustStore> TrustStore::OfProgramHome(Access access) {
    return std::make_shared<TrustStore>(ProgramDirectory() + std::string(kTrustStoreFileName),
                                        access);
}

std::string TrustStore::Find(const std::string& host, int port) const {
    const std::string wanted = Key(host, port);
    std::string found;
    for (const std::string& line : ReadLines(path)) {
        std::string key, fingerprint;
        if (SplitLine(line, key, fingerprint) && key == wanted) found = fingerprint;
    }
    return found;
}

bool TrustStore::Remember(const std::string& host, int port, const std::string& fingerprint,
                          std::string& error) {
    if (access == Access::kReadOnly) {
        error = path + " is only read here";
        return false;
    }
    std::lock_guard lock(mutex);
    const std::string wanted = Key(host, port);
    std::ostringstream out;
    for (const std::string& line : ReadLines(path)) {
        std::string key, known;
        // Lines of other hosts stay as they were; the host's own line is replaced below.
        if (!SplitLine(line, key, known) || key != wanted) out << line << '\n';
    }
    out << wanted << ' ' << fingerprint << '\n';
    AtomicWriteOptions options;
    options.ownerOnly = true;
    if (WriteFileAtomically(path, out.str(), options) != AtomicWriteResult::kWritten) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tarnwick
