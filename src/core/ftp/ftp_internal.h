// Helpers shared by the protocol engine's source files (not part of its interface).
// Same threading rules as CControlSocket: the session's protocol thread only.
#pragma once

#include <string>

namespace tarnwick {

class CFtpSession;

namespace internal {

// A remote path as the directory cache needs it: relative paths are taken relative to the
// session's current directory.
std::string AbsoluteRemotePath(const CFtpSession& session, const std::string& path);

// Results that end an operation even where a refusal would be ignored: interrupted, timed
// out, connection closed.
inline bool EndsOperation(int result) {
    return result >= 2 && result <= 4;
}

}  // namespace internal
}  // namespace tarnwick
