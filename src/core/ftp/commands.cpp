// Login and the commands that need no data connection: CWD, CDUP, PWD, DELE, MKD, RMD,
// RNFR/RNTO, TYPE, REST, ABOR, QUIT. Command words go out in lower case.
#include <algorithm>

#include "ftp/control_socket.h"
#include "ftp/ftp_internal.h"
#include "listing/directory_cache.h"
#include "listing/paths.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace {

std::string TrimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

int CControlSocket::ConnectAndLogin() {
    lastVerb = "login";
    session.serverFeatures = {};  // a new connection may reach another server
    session.Log("Connecting to " + session.hostAddress + " ...", LOG_STATE);
    ResetReply();
    int result = ConnectSocket();
    if (result != kResultOk) return result;
    if (session.tlsMode == kTlsImplicit) {
        result = NegotiateTls();
        if (result != kResultOk) return result;
    }
    result = WaitReplyDone();
    if (result != kResultOk) return result;
    loginMessage = replyText;
    if (replyCount == 0 || replyCodes[replyCount - 1] != "220") return kResultFailed;
    if (session.tlsMode == kTlsExplicit || session.tlsMode == kTlsIfAvailable) {
        result = SecureAfterWelcome();
    } else if (session.tlsMode == kTlsImplicit) {
        result = ProtectData();
    }
    if (result != kResultOk) return result;
    result = SendUserAndPassword();
    if (result != kResultOk) return result;
    session.loggedIn = true;
    session.Observer().OnLoginMessage(session, loginMessage);
    return RequestFeatures();
}

int CControlSocket::RequestFeatures() {
    int result = SendCommand("feat", true);
    if (result != kResultOk) return result;
    // Anything but a feature list (500, 502: FEAT unknown) means no features, not a failure.
    session.serverFeatures = ParseFeatReply(replyText);
    // Names travel as the bytes they are either way; a server that announces UTF8 may want
    // to be told that the client's bytes are UTF-8 (RFC 2640).
    if (session.serverFeatures.utf8) {
        result = SendCommand("opts utf8 on", true);
        if (result != kResultOk) return result;
        if (replyCount == 0 || !replyCodes[replyCount - 1].starts_with('2')) {
            session.Log("The server refused UTF-8 names; names are sent as they are.", LOG_STATE);
        }
    }
    // Many servers leave the Unix mode out of machine listings unless asked: ask for it with
    // the facts the listing reads, so the attribute column shows modes, not bare permissions.
    const std::vector<std::string>& offered = session.serverFeatures.mlstFacts;
    const auto offers = [&offered](std::string_view fact) {
        return std::find(offered.begin(), offered.end(), fact) != offered.end();
    };
    if (session.serverFeatures.mlst && offers("unix.mode")) {
        std::string facts;
        for (std::string_view fact : {"type", "size", "modify", "perm", "unix.mode"})
            if (offers(fact)) facts += std::string(fact) + ";";
        return SendCommand("opts mlst " + facts, true);  // a refusal leaves the default facts
    }
    return kResultOk;
}

int CControlSocket::ConnectSocket() {
    if (Connect(session.hostAddress, session.port)) return kResultOk;
    int error = GetLastError();
    if (error != platform::WSAEWOULDBLOCK) {
        session.Log(SocketErrorText(error), LOG_ERROR);
        return kResultFailed;
    }
    int result = session.WaitWithTimer(connectDone, 0);
    if (result != kResultOk) return result;
    return lastError != 0 ? kResultFailed : kResultOk;  // OnConnect has logged why
}

int CControlSocket::SendUserAndPassword() {
    int result = SendCommand("user " + session.user, true);
    if (result != kResultOk) return result;
    loginMessage += replyText;
    const std::string& userCode = replyCodes[0];
    if (userCode == "230") return kResultOk;  // no password wanted
    if (userCode != "530" && userCode != "331" && userCode != "332") return kResultFailed;
    result = SendCommand("pass " + session.password, true);
    if (result != kResultOk) return result;
    const std::string& passCode = replyCodes[0];
    if (passCode != "230" && passCode != "332" && passCode != "202") return kResultFailed;
    loginMessage += replyText;
    return kResultOk;
}

int CControlSocket::ListAfter(int opt) {
    if ((opt & kOptListAfter) == 0) return kResultOk;
    return ListDir("", "", 0);
}

int CControlSocket::ChangeDir(std::string dir, int opt) {
    dir = TrimBlanks(dir);
    if (dir.empty() || PathsEqual(session.currentDirectory, dir)) dir.assign(1, '.');
    // Already there: nothing to send, but a listing asked for is still made.
    if (dir == "." && (opt & kOptForceCwd) == 0) return ListAfter(opt);
    int result = SendCommand(std::string("cwd ").append(dir), true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "250") return kResultFailed;
    if (dir != ".") {
        result = PrintDir();
        if (result != kResultOk) return result;
    }
    return ListAfter(opt);
}

int CControlSocket::ParentDir(int opt) {
    int result = SendCommand("cdup", true);
    if (result != kResultOk) return result;
    if (!replyCodes[0].starts_with('2')) return kResultFailed;
    result = PrintDir();
    if (result != kResultOk) return result;
    return ListAfter(opt);
}

int CControlSocket::PrintDir() {
    int result = SendCommand("pwd", true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "257") return kResultFailed;
    session.currentDirectory = DirectoryFromPwdReply(replyText);
    session.Observer().OnDirectoryChanged(session, session.currentDirectory);
    return kResultOk;
}

int CControlSocket::DeleteRemoteFile(const std::string& path, int opt) {
    DeleteCachedListing(CacheHome(), session.hostAddress,
                        ParentPath(internal::AbsoluteRemotePath(session, path)));
    int result = SendCommand("dele " + path, true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "250") return kResultFailed;
    return ListAfter(opt);
}

int CControlSocket::MakeDir(const std::string& path, int opt) {
    std::string fullPath = internal::AbsoluteRemotePath(session, path);
    if ((opt & kOptFreshCheckBeforeMkd) != 0) {
        // Only to refresh the cached listing the check below reads; a refusal is no reason
        // not to try MKD, but a stop or a lost connection is.
        int listed = ListDir(ParentPath(fullPath), "", 0);
        if (internal::EndsOperation(listed)) return listed;
    }
    // Only a directory of that name makes MKD needless: a file in the way is the server's to
    // refuse.
    FileEntry entry;
    if (LookupCachedEntry(CacheHome(), session.hostAddress, fullPath, entry) && entry.isDirectory) {
        session.Log("Directory " + path + " already exists. No need to create.", LOG_STATE);
        return kResultOk;
    }
    int result = SendCommand("mkd " + path, true);
    if (result != kResultOk) return result;
    if (!replyCodes[0].starts_with('2')) return kResultRefused;
    return ListAfter(opt);
}

int CControlSocket::RemoveDir(const std::string& path, int opt) {
    std::string parent = ParentPath(path);
    if (parent.empty()) return kResultFailed;
    // Leave the directory first; a refused CWD does not stop RMD with its full path.
    int changed = ChangeDir(parent, kOptPrintDir);
    if (internal::EndsOperation(changed)) return changed;
    DeleteCachedListing(CacheHome(), session.hostAddress, path);
    int result = SendCommand("rmd " + path, true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "250") return kResultFailed;
    return ListAfter(opt);
}

int CControlSocket::RenameFile(const std::string& from, const std::string& to, int opt) {
    int result = SendCommand("rnfr " + from, true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "350") return kResultFailed;
    result = SendCommand("rnto " + to, true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "250") return kResultFailed;
    return ListAfter(opt);
}

int CControlSocket::SetType(int type) {
    if (type == currentType) return kResultOk;
    int result = SendCommand(type == 0 ? "type a" : "type i", true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "200") return kResultFailed;
    currentType = type;
    return kResultOk;
}

int CControlSocket::Restart(uint64_t offset, int* supported) {
    int result = SendCommand("rest " + std::to_string(offset), true);
    if (result != kResultOk) return result;
    if (replyCodes[0] == "350") {
        *supported = 1;
        return kResultOk;
    }
    if (replyCodes[0].starts_with('5')) {
        session.Log("This site can't resume broken downloads.", LOG_STATE);
        *supported = 0;
        return kResultOk;
    }
    return kResultFailed;
}

int CControlSocket::Abort() {
    int result = SendCommand("abor", true);
    if (result != kResultOk) return result;
    // After a broken transfer the server first reports it (426) and then answers ABOR: the
    // last reply is the answer.
    return replyCodes[replyCount - 1].starts_with('2') ? kResultOk : kResultFailed;
}

int CControlSocket::Quit() {
    return SendCommand("quit", true);
}

std::string CControlSocket::CacheHome() const {
    return session.CommandSettings().cacheHomeDirectory;
}

}  // namespace tarnwick
