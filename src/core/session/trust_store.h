// TrustStore: the server certificates the user chose to trust although they did not verify,
// one SHA-256 fingerprint per host and port, in the text file "certificates.dat" of the
// program home ("HOST:PORT FINGERPRINT" lines). The desktop program remembers what the user
// accepted; the CLI opens the same file read-only, so that a certificate accepted there is
// trusted by both.
//
// Threads: any; sessions of several workers may share one store (a mutex orders their
// writes). The file is read at every lookup, so a change made by another process is seen.
// Ownership: shared (std::shared_ptr) by the front end that made it and its sessions.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr std::string_view kTrustStoreFileName = "certificates.dat";

// A SHA-256 fingerprint as the program writes and compares it: 32 upper-case hex pairs
// joined by ':'. The input is 64 hex digits of either case, colons anywhere between them
// optional; empty when it is not such a fingerprint.
std::string NormalizeFingerprint(std::string_view text);

class TrustStore {
public:
    enum class Access { kReadWrite, kReadOnly };

    TrustStore(std::string path, Access access);
    // The store of the program home (ProgramDirectory() + kTrustStoreFileName).
    static std::shared_ptr<TrustStore> OfProgramHome(Access access);

    const std::string& Path() const { return path; }
    // The fingerprint remembered for `host` (compared without case) and `port`; empty when
    // none is, or when the file cannot be read.
    std::string Find(const std::string& host, int port) const;
    // Remembers `fingerprint` for the host and port, replacing an earlier one; the file is
    // written whole and readable by its owner only. False, with the reason in `error`, for a
    // read-only store or when the file cannot be written.
    bool Remember(const std::string& host, int port, const std::string& fingerprint,
                  std::string& error);

private:
    const std::string path;
    const Access access;
    mutable std::mutex mutex;  // one Remember at a time in this process
};

}  // namespace tarnwick
