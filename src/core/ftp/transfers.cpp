// Transfers over a data connection: LIST, RETR, STOR and server-to-server transfers, with the
// per-file decisions made before them (overwrite decision, transfer type).
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "ftp/control_socket.h"
#include "ftp/ftp_internal.h"
#include "listing/directory_cache.h"
#include "listing/fact_listing.h"
#include "listing/local_files.h"
#include "listing/paths.h"
#include "listing/text_utils.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// A local file's size and modification time, as a FileEntry (false when it does not exist).
bool LocalFileEntry(const std::string& path, FileEntry& entry) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    entry.SetSize(S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0);
    entry.modified = static_cast<int64_t>(info.st_mtime);
    entry.isDirectory = S_ISDIR(info.st_mode);
    return true;
}

// Gives a downloaded file the remote file's time, so that a partial file is offered for
// resuming later (same time, remote bigger). Only regular files: a device in the way keeps
// its own time.
void SetLocalFileTime(const std::string& path, int64_t modified) {
    std::error_code error;
    if (modified < 0 || !fs::is_regular_file(path, error)) return;
    const auto sys = std::chrono::system_clock::time_point(std::chrono::seconds(modified));
    fs::last_write_time(path, std::chrono::file_clock::from_sys(sys), error);
}

// A name taken from a path that must not leave the directory it is joined to.
// The size of a "213 1234" reply to SIZE; -1 when it holds no size that fits 63 bits.
int64_t SizeFromReply(std::string_view reply) {
    reply = TrimFieldSpaces(reply.substr(std::min<size_t>(4, reply.size())));
    if (reply.empty()) return -1;
    int64_t size = 0;
    for (char c : reply) {
        if (c < '0' || c > '9') return -1;
        if (size > (INT64_MAX - (c - '0')) / 10) return -1;
        size = size * 10 + (c - '0');
    }
    return size;
}

// A machine listing is told from a LIST one by its first line (see ParseListingText), so
// whatever a server sends before its first fact line goes; fact lines are never dropped.
void DropLinesBeforeFacts(std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line =
            TrimFieldSpaces(std::string_view(text).substr(start, end - start));
        if (line.empty() || IsFactLine(line)) break;
        start = end + 1;
    }
    text.erase(0, std::min(start, text.size()));
}

bool IsSafeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

std::string internal::AbsoluteRemotePath(const CFtpSession& session, const std::string& path) {
    if (path.starts_with('/')) return path;
    return JoinPath(session.currentDirectory, path, '/');
}

int CControlSocket::WantedType(const std::string& fileName) const {
    int type = session.transferType;
    if (type != 2) return type;
    return AutoTransferType(fileName, session.CommandSettings().textFileExtension);
}

std::string CControlSocket::TransferArgument(const std::string& remotePath) const {
    if (PathsEqual(ParentPath(remotePath), session.currentDirectory)) {
        return LastComponent(remotePath);
    }
    return remotePath;
}

// ---- data connections ----

int CControlSocket::EnterPassive() {
    int result = SendCommand("pasv", true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "227") return kResultFailed;
    // A 227 without an address cannot lead to a data connection: fail now, not at a deadline.
    return ParsePasvReply(replyText, dataHost, dataPort) ? kResultOk : kResultFailed;
}

bool CControlSocket::UseExtended(bool refused, bool listed) const {
    return !refused && (Family() == AF_INET6 || listed);
}

int CControlSocket::RefusedOverIpv6(const char* command) {
    session.Log(std::string("The server refused ") + command +
                    "; an IPv6 connection has no other way to open a data connection.",
                LOG_ERROR);
    return kResultFailed;
}

int CControlSocket::EnterPassiveForData() {
    if (UseExtended(epsvRefused, session.serverFeatures.epsv)) {
        int result = SendCommand("epsv", true);
        if (result != kResultOk) return result;
        if (replyCodes[0] == "229") {
            // The reply names no host: the data connection goes where the control one does.
            int peerPort = 0;
            const bool parsed = ParseEpsvReply(replyText, dataPort);
            return parsed && GetPeerName(dataHost, peerPort) ? kResultOk : kResultFailed;
        }
        if (!replyCodes[0].starts_with('5')) return kResultFailed;
        epsvRefused = true;
    }
    if (Family() == AF_INET6) return RefusedOverIpv6("EPSV");
    return EnterPassive();
}

int CControlSocket::SendPort() {
    if (!session.listenSocket.IsOpen()) session.listenSocket.Open();
    std::string address;
    int port = 0;
    session.listenSocket.GetSockName(address, port);
    if (UseExtended(eprtRefused, session.serverFeatures.eprt)) {
        int result = SendCommand(MakeEprtCommand(session.localAddress, port), true);
        if (result != kResultOk) return result;
        if (replyCodes[0] == "200") return kResultOk;
        if (!replyCodes[0].starts_with('5')) return kResultFailed;
        eprtRefused = true;
    }
    if (Family() == AF_INET6) return RefusedOverIpv6("EPRT");
    return SendPortTo(session.localAddress, port);
}

int CControlSocket::EnterPassiveForPartner() {
    return Family() == AF_INET6 ? EnterPassiveForData() : EnterPassive();
}

int CControlSocket::SendPortTo(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    int result = SendCommand(v6 ? MakeEprtCommand(host, port) : MakePortCommand(host, port), true);
    if (result != kResultOk) return result;
    return replyCodes[0] == "200" ? kResultOk : kResultFailed;
}

int CControlSocket::PrepareDataConnection() {
    CDataSocket& data = session.dataSocket;
    data.NewConnection();  // a connection left over from an earlier transfer is not reused
    if (!session.passive) return SendPort();
    if (!data.Create(0, SOCK_STREAM, Family())) {
        int error = GetLastError();
        session.Log("Unable to create data socket.", LOG_ERROR);
        session.Log(SocketErrorText(error), LOG_ERROR);
        return kResultConnectionClosed;
    }
    return EnterPassiveForData();
}

void CControlSocket::ConnectDataSocket() {
    if (!session.passive) return;
    // The server's announced address is not trusted: a server (or a NAT in between) could
    // point the client at any host. The data connection goes to the control connection's
    // peer.
    std::string host = dataHost;
    std::string peer;
    int peerPort = 0;
    if (GetPeerName(peer, peerPort) && peer != dataHost) {
        session.Log("The server announced data address " + dataHost + "; connecting to " + peer +
                        " instead.",
                    LOG_WARNING);
        host = peer;
    }
    session.dataSocket.ConnectTo(host, dataPort);
}

// ---- LIST ----

int CControlSocket::ListDir(const std::string& dir, const std::string& args, int opt) {
    session.Observer().OnListing(session, false, {});
    int result = kResultOk;
    if (!dir.empty() && !PathsEqual(dir, session.currentDirectory)) {
        result = ChangeDir(dir, kOptPrintDir);
    } else if ((opt & kOptPrintDir) != 0) {
        result = PrintDir();
    }
    if (result != kResultOk) return result;
    // A machine listing where the server offers one and no LIST options are asked for; a
    // server that turns MLSD down is listed with LIST from then on.
    if (args.empty() && session.serverFeatures.mlst && !mlsdRefused) {
        bool refused = false;
        result = RunListing("mlsd", true, refused);
        if (!refused) return result;
        mlsdRefused = true;
        session.Log("The server refused MLSD; listing with LIST.", LOG_WARNING);
    }
    bool refused = false;
    return RunListing(args.empty() ? "list" : "list " + args, false, refused);
}

int CControlSocket::RunListing(const std::string& command, bool facts, bool& refused) {
    CDataSocket& data = session.dataSocket;
    session.bytesDone = 0;
    session.listingText.clear();
    session.listingEntries.reset();
    indexedListing.reset();  // the old list is not kept alive for its index
    listedIndex.clear();
    data.ArmReceive(nullptr, true, {});
    int result = PrepareDataConnection();
    if (result == kResultOk) result = SendCommand(command, false);
    if (result != kResultOk) {
        data.FinishTransfer(false);
        return result;
    }
    session.BeginProgress(session.currentDirectory, -1, 0, false);
    ConnectDataSocket();
    result = WaitReplyDone();
    if (result == kResultOk && !IsTransferPair()) {
        refused = replyCount == 1 && (replyCodes[0] == "500" || replyCodes[0] == "502");
        result = kResultFailed;
    }
    if (result == kResultOk) {
        result = FinishListing(facts);
    } else {
        data.FinishTransfer(false);
    }
    session.EndProgress();
    return result;
}

int CControlSocket::FinishListing(bool facts) {
    CDataSocket& data = session.dataSocket;
    int result = session.WaitWithTimer(data.receiveFinished, 0);
    // A data connection that broke, or a listing too big to hold, is no complete listing:
    // caching it would also prune the cache of directories it merely failed to show.
    if (result == kResultOk && (data.lastError != 0 || data.writeFailed)) result = kResultFailed;
    if (result != kResultOk) {
        session.Log("Failed to receive file list.", LOG_ERROR);
        if (result == kResultInterrupted) {
            data.FinishTransfer(false);
            Abort();
        }
        return result;
    }
    session.Log("Listing Complete", LOG_STATE);
    session.listingDirectory = session.currentDirectory;
    if (facts) DropLinesBeforeFacts(session.listingText);
    // One parse serves the cache's pruning, the look-ups of later transfers and the observer.
    auto entries = std::make_shared<FileEntryList>();
    ParseListingText(*entries, session.listingText);
    const AppSettings& settings = session.CommandSettings();
    UpdateDirectoryCache(
        CacheConfig{settings.cacheHomeDirectory, settings.enableCache}, session.hostAddress,
        session.currentDirectory, session.listingText,
        [this](const std::string& message) { session.Observer().OnNotice(session, message); },
        entries.get());
    session.listingEntries = entries;
    if (session.queueFinished) {
        session.Observer().OnListing(session, true,
                                     ListingInfo{session.currentDirectory, std::move(entries)});
    }
    return kResultOk;
}

// ---- RETR ----

int CControlSocket::RetrieveFile(const std::string& localDir, const std::string& remotePath,
                                 int opt) {
    session.currentFile = LastComponent(remotePath);
    if (!IsSafeFileName(session.currentFile)) {
        session.Log("Unsafe file name \"" + session.currentFile + "\" skipped.", LOG_WARNING);
        return kResultRefused;
    }
    const std::string localPath = JoinPath(localDir, session.currentFile, '/');
    const std::string remoteFull = internal::AbsoluteRemotePath(session, remotePath);
    const AppSettings& settings = session.CommandSettings();
    int result = kResultOk;
    if ((opt & kOptChangeToFileDir) != 0 || settings.alwaysRefresh) {
        result = ChangeDir(ParentPath(remoteFull), kOptListAfter);
        if (result != kResultOk) return result;
    }
    session.resumeOffset = 0;
    session.bytesDone = 0;

    FileEntry local;
    const bool existed = LocalFileEntry(localPath, local);
    FileEntry remote;
    bool haveEntry = false;
    if (session.remoteSize == -1 && existed) {
        // Only the decision about the local file needs the remote entry: list for it then,
        // and only then.
        result = ChangeDir(ParentPath(remoteFull), kOptListAfter);
        if (result != kResultOk) return result;
    }
    haveEntry = FindRemoteEntry(remoteFull, remote);
    if (!haveEntry) {
        result = AskFileFacts(remotePath, remote, haveEntry);
        if (result != kResultOk) return result;
    }
    if (session.remoteSize == -1 && haveEntry) {
        session.remoteSize = static_cast<int64_t>(remote.Size());
    }
    if (session.remoteSize >= 0) remote.SetSize(static_cast<uint64_t>(session.remoteSize));

    int action = kOverwrite;
    if (existed) {
        // Without the remote entry its time is unknown, and a time of 0 would make every
        // local file look newer: a partial download would be skipped and pass for complete.
        // Judge by size alone (as for equal times), and download afresh when that is unknown.
        if (!haveEntry) remote.modified = local.modified;
        action = haveEntry || session.remoteSize >= 0 ? DecideOverwrite(false, remote, local)
                                                      : kOverwrite;
        action = SettleResume(action, local.Size(), session.remoteSize);
    }
    if (action == kSkip) return kResultOk;

    result = SetType(WantedType(session.currentFile));
    if (result != kResultOk) return result;
    session.dataSocket.lastError = 0;
    result = PrepareDataConnection();
    if (result != kResultOk) return result;

    uint64_t offset = 0;
    if (action == kResume) {
        int supported = 0;
        result = Restart(local.Size(), &supported);
        if (result != kResultOk) return result;
        if (supported != 0) offset = local.Size();
    }
    session.bytesDone = offset;
    session.resumeOffset = offset;
    session.fileSize = session.remoteSize >= 0 ? static_cast<uint64_t>(session.remoteSize) : 0;

    TransferInfo info{session.currentItemId,
                      TransferDirection::kDownload,
                      localPath,
                      remoteFull,
                      session.remoteSize,
                      offset};
    BeginTransfer(info);
    bool opened = false;
    result = RunDownload(remotePath, localPath, info, opened);
    if (haveEntry && opened) SetLocalFileTime(localPath, remote.modified);
    EndTransfer(info, result);
    // A refused or failed download must not leave an empty file that passes for the remote
    // one; received bytes stay for a later resume.
    if (result != kResultOk && !existed && opened && LocalFileSize(localPath) == 0) {
        std::remove(localPath.c_str());
    }
    return result;
}

// SIZE (in binary mode only: an ASCII size is not the byte count received) and MDTM, for a
// file neither the last listing nor the cache knows, where the server offers them. The time
// stands in for the listing's entry; a refusal leaves size and time unknown, as without them.
int CControlSocket::AskFileFacts(const std::string& remotePath, FileEntry& remote,
                                 bool& haveEntry) {
    const ServerFeatures& features = session.serverFeatures;
    const std::string argument = TransferArgument(remotePath);
    const int type = WantedType(session.currentFile);
    if (features.size && session.remoteSize == -1 && type == 1) {
        int result = SetType(type);
        if (result == kResultOk) result = SendCommand("size " + argument, true);
        if (internal::EndsOperation(result)) return result;
        const int64_t size =
            result == kResultOk && replyCodes[0] == "213" ? SizeFromReply(replyText) : -1;
        if (size >= 0) session.remoteSize = size;
    }
    if (features.mdtm) {
        const int result = SendCommand("mdtm " + argument, true);
        if (internal::EndsOperation(result)) return result;
        if (result == kResultOk && replyCodes[0] == "213") {
            remote.modified = ParseFactTime(TrimFieldSpaces(std::string_view(replyText).substr(3)));
            haveEntry = remote.modified >= 0 && session.remoteSize >= 0;
        }
    }
    return kResultOk;
}

int CControlSocket::SettleResume(int action, uint64_t targetSize, int64_t sourceSize) {
    if (action != kResume || sourceSize < 0) return action;
    const auto size = static_cast<uint64_t>(sourceSize);
    if (targetSize == size) {
        session.Log("File " + session.currentFile + " is complete, nothing to transfer.",
                    LOG_STATE);
        return kSkip;
    }
    // A target bigger than its source is no part of it: it is sent again from the start.
    return targetSize > size ? kOverwrite : kResume;
}

// RETR and the data: the local file is opened only once the server has answered 125/150,
// so a refusal leaves a local file as it was. `opened` tells whether it was.
int CControlSocket::RunDownload(const std::string& remotePath, const std::string& localPath,
                                TransferInfo& info, bool& opened) {
    CDataSocket& data = session.dataSocket;
    data.ArmReceive(nullptr, false, localPath);
    int result = SendCommand("retr " + TransferArgument(remotePath), false);
    if (result != kResultOk) {
        data.FinishTransfer(false);
        return result;
    }
    ConnectDataSocket();
    session.transferInProgress = true;
    result = WaitFirstReply();
    if (result == kResultOk && !replyCodes[0].starts_with('1')) {
        session.transferInProgress = false;
        data.FinishTransfer(false);
        return replyCount == 1 && replyCodes[0].starts_with("55") ? kResultRefused : kResultFailed;
    }
    if (result == kResultOk && data.lastError == 0) {
        TakeAnnouncedSize(info);
        result = OpenDownloadFile(localPath, info.resumeOffset > 0);
        if (result != kResultOk) {
            session.transferInProgress = false;
            return result;
        }
        opened = true;
        result = session.WaitWithTimer(data.receiveFinished, 0);
    } else if (result != kResultOk) {
        data.DrainReceive();  // what has arrived already
        data.FinishTransfer(false);
        opened = KeepHeldData(localPath, info.resumeOffset > 0);
    }
    session.transferInProgress = false;
    return FinishDownload(result);
}

// The answer to RETR never came (the connection broke), but data did: it is the file's, and
// is kept for a later resume rather than lost.
bool CControlSocket::KeepHeldData(const std::string& localPath, bool append) {
    CDataSocket& data = session.dataSocket;
    if (!data.HoldsData()) return false;
    MakeDirectoryPath(ParentPath(localPath));
    std::FILE* file = std::fopen(localPath.c_str(), append ? "ab" : "wb");
    if (file == nullptr) return false;
    data.AttachFile(file);
    return true;
}

// The size the 150 reply announces, when the caller did not know it.
void CControlSocket::TakeAnnouncedSize(TransferInfo& info) {
    if (session.remoteSize >= 0) return;
    const int64_t size = TransferSizeFromReply(replyText);
    if (size < 0) return;
    session.remoteSize = size;
    session.fileSize = static_cast<uint64_t>(size);
    info.size = size;
    const uint64_t moved = session.bytesDone - info.resumeOffset;
    session.BeginProgress(session.currentFile, size, info.resumeOffset, false);
    session.AddProgress(moved);
}

void CControlSocket::BeginTransfer(const TransferInfo& info) {
    session.Observer().OnTransferStarted(session, info);
    session.BeginProgress(session.currentFile, info.size, info.resumeOffset, false);
}

void CControlSocket::EndTransfer(const TransferInfo& info, int result) {
    session.EndProgress();
    session.Observer().OnTransferFinished(session, info, result,
                                          session.bytesDone - info.resumeOffset);
}

bool CControlSocket::FindRemoteEntry(const std::string& remoteFull, FileEntry& entry) {
    // The last listing, parsed once and indexed by name, serves every file of its
    // directory; the cache serves the others.
    if (PathsEqual(session.listingDirectory, ParentPath(remoteFull)) && IndexListing()) {
        const auto found = listedIndex.find(LastComponent(remoteFull));
        if (found != listedIndex.end()) {
            entry = (*indexedListing)[found->second];
            return true;
        }
    }
    return LookupCachedEntry(CacheHome(), session.hostAddress, remoteFull, entry);
}

bool CControlSocket::IndexListing() {
    if (!session.listingEntries) return false;
    if (indexedListing == session.listingEntries) return true;
    indexedListing = session.listingEntries;
    listedIndex.clear();
    listedIndex.reserve(indexedListing->size());
    for (size_t i = 0; i < indexedListing->size(); ++i) {
        listedIndex.emplace((*indexedListing)[i].name, i);  // the first of a name counts
    }
    return true;
}

// The last listing stays good for the directory's other files; the uploaded one is looked
// up afresh.
void CControlSocket::ForgetListedEntry(const std::string& remoteFull) {
    if (!PathsEqual(session.listingDirectory, ParentPath(remoteFull)) || !IndexListing()) return;
    listedIndex.erase(LastComponent(remoteFull));
}

int CControlSocket::OpenDownloadFile(const std::string& localPath, bool append) {
    MakeDirectoryPath(ParentPath(localPath));
    std::FILE* file = std::fopen(localPath.c_str(), append ? "ab" : "wb");
    if (file == nullptr) {
        session.Log("Unable to open local file " + localPath + ": " + std::strerror(errno),
                    LOG_ERROR);
        session.Log("Failed to receive " + session.currentFile + ".", LOG_ERROR);
        session.dataSocket.FinishTransfer(false);
        int aborted = Abort();
        return internal::EndsOperation(aborted) ? aborted : kResultFailed;
    }
    session.dataSocket.AttachFile(file);
    return kResultOk;
}

int CControlSocket::FinishDownload(int result) {
    CDataSocket& data = session.dataSocket;
    if (result == kResultOk && (data.lastError != 0 || data.writeFailed)) result = kResultFailed;
    if (result != kResultOk) {
        session.Log("Failed to receive " + session.currentFile + ".", LOG_ERROR);
        if (result == kResultInterrupted || result == kResultTimedOut || data.writeFailed) {
            data.FinishTransfer(false);
            Abort();
        }
        return result;
    }
    result = WaitReplyDone();
    if (result != kResultOk) return result;
    if (replyCount == 1 && replyCodes[0].starts_with("55")) return kResultRefused;
    if (!IsTransferPair()) return kResultFailed;
    session.Log("File " + session.currentFile + " received successfully.", LOG_STATE);
    return kResultOk;
}

// ---- STOR ----

int CControlSocket::StoreFile(const std::string& localPath, const std::string& remoteDir, int opt) {
    session.currentFile = LastComponent(localPath);
    const std::string remotePath = JoinPath(remoteDir, session.currentFile, '/');
    const std::string remoteFull = internal::AbsoluteRemotePath(session, remotePath);
    session.resumeOffset = 0;
    session.bytesDone = 0;
    const AppSettings& settings = session.CommandSettings();
    int result = kResultOk;
    if ((opt & kOptChangeToFileDir) != 0 || settings.alwaysRefresh) {
        result = ChangeDir(ParentPath(remoteFull), kOptListAfter);
        if (result != kResultOk) return result;
    }
    FileEntry local;
    LocalFileEntry(localPath, local);
    FileEntry remote;
    int action = kOverwrite;
    if (FindRemoteEntry(remoteFull, remote)) {
        action = DecideOverwrite(true, local, remote);
        action = SettleResume(action, remote.Size(), static_cast<int64_t>(local.Size()));
    }
    if (action == kSkip) return kResultOk;

    result = SetType(WantedType(session.currentFile));
    if (internal::EndsOperation(result)) return result;  // a refused TYPE does not stop it

    CDataSocket& data = session.dataSocket;
    data.lastError = 0;
    std::FILE* file = std::fopen(localPath.c_str(), "rb");
    if (file == nullptr) {
        session.Log("Unable to open local file " + localPath + ": " + std::strerror(errno),
                    LOG_ERROR);
        session.Log("Failed to send file " + session.currentFile + ".", LOG_ERROR);
        return kResultFailed;
    }
    data.ArmSend(file, localPath);
    result = PrepareDataConnection();
    if (result == kResultOk && action == kResume) result = RestartUpload(remote);
    if (result != kResultOk) {
        data.FinishTransfer(true);
        return result;
    }
    // The upload changes the directory: neither its cached nor its last listing holds.
    DeleteCachedListing(CacheHome(), session.hostAddress, ParentPath(remoteFull));
    ForgetListedEntry(remoteFull);
    session.fileSize = local.Size();

    const TransferInfo info{session.currentItemId,
                            TransferDirection::kUpload,
                            localPath,
                            remoteFull,
                            static_cast<int64_t>(local.Size()),
                            session.resumeOffset};
    BeginTransfer(info);
    bool listAfter = false;
    result = RunUpload(remotePath, listAfter);
    EndTransfer(info, result);
    if (result == kResultOk) KeepUploadTime(remotePath, local.modified);
    if (!listAfter) return result;
    const int listed = ListAfter(opt);
    return result != kResultOk ? result : listed;
}

// STOR, the data and the server's answer. `listAfter` tells whether the caller's listing
// afterwards still makes sense (not after a lost connection or a missing answer).
int CControlSocket::RunUpload(const std::string& remotePath, bool& listAfter) {
    CDataSocket& data = session.dataSocket;
    session.transferInProgress = true;
    int result = SendCommand("stor " + TransferArgument(remotePath), false);
    if (result != kResultOk) {
        session.transferInProgress = false;
        data.FinishTransfer(true);
        return result;
    }
    ConnectDataSocket();
    data.ReleaseUpload();
    // The deadline is the session's default, re-armed by every chunk that moves.
    int waited = session.WaitWithTimer(data.sendFinished, 0);
    session.transferInProgress = false;
    if (waited != kResultOk) {
        // Stopped, timed out or disconnected before the data connection came up: the upload
        // never started and must not be left armed.
        data.FinishTransfer(true);
        session.Log("Failed to send file " + session.currentFile + ".", LOG_ERROR);
        if (waited == kResultInterrupted || waited == kResultTimedOut) Abort();
        return waited;
    }
    return UploadOutcome(data.result, listAfter);
}

// MFMT: the uploaded file gets the local file's time on the server too. Whatever the server
// answers, the upload stands.
void CControlSocket::KeepUploadTime(const std::string& remotePath, int64_t modified) {
    if (!session.serverFeatures.mfmt) return;
    const std::string stamp = FormatFactTime(modified);
    if (stamp.empty()) return;
    const int result = SendCommand("mfmt " + stamp + " " + TransferArgument(remotePath), true);
    if (result == kResultOk && replyCodes[0] == "213") return;
    session.Log("The server did not take the time of " + session.currentFile + ".", LOG_WARNING);
}

int CControlSocket::RestartUpload(const FileEntry& remote) {
    int supported = 0;
    const uint64_t offset = remote.Size();
    int result = Restart(offset, &supported);
    if (result != kResultOk || supported == 0) return result;
    CDataSocket& data = session.dataSocket;
    if (fseeko(data.file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        session.Log("Unable to read local file: " + std::string(std::strerror(errno)), LOG_ERROR);
        return kResultFailed;
    }
    session.bytesDone = offset;
    session.resumeOffset = offset;
    return kResultOk;
}

int CControlSocket::UploadOutcome(int result, bool& listAfter) {
    listAfter = false;
    if (result == kResultConnectionClosed) return result;
    if (result != kResultOk) {
        WaitReplyDone();  // the server's reason goes to the log
        if (replyCount == 1 && replyCodes[0].starts_with("55")) result = kResultRefused;
        listAfter = true;
        return result;
    }
    result = WaitReplyDone();
    if (result != kResultOk) return result;
    if (replyCount == 1 && replyCodes[0].starts_with("55")) return kResultRefused;
    if (!IsTransferPair()) return kResultFailed;
    listAfter = true;
    return kResultOk;
}

// ---- overwrite decision ----

int CControlSocket::DecideOverwrite(bool upload, const FileEntry& source, const FileEntry& target) {
    const int overwriteCase =
        OverwriteCase(upload, source.modified, target.modified, source.Size(), target.Size());
    const int remembered = overwriteChoice[overwriteCase];
    if (remembered == kAuto) return AutoOverwriteAction(overwriteCase);
    if (remembered >= kSkip && remembered <= kOverwrite) return remembered;
    return AskOverwrite(overwriteCase, upload, source, target);
}

int CControlSocket::AskOverwrite(int overwriteCase, bool upload, const FileEntry& source,
                                 const FileEntry& target) {
    const AppSettings& settings = session.CommandSettings();
    OverwriteQuestion question;
    question.fileName = session.currentFile;
    question.upload = upload;
    question.sourceSize = source.Size();
    question.sourceTime = source.modified;
    question.targetSize = target.Size();
    question.targetTime = target.modified;
    question.autoAction = AutoOverwriteAction(overwriteCase);
    const int preferred = settings.defaultOverwriteAction;
    question.suggested =
        (preferred >= kSkip && preferred <= kOverwrite) ? preferred : question.autoAction;
    question.resumeAllowed = true;
    session.Observer().OnShowSession(session);
    if (!settings.pOverwrite) return question.suggested;  // the prompt is switched off
    OverwriteAnswer answer = session.AskOverwrite(question);
    if (answer.action < kSkip || answer.action > kAuto) answer.action = kSkip;
    if (answer.all) overwriteChoice[overwriteCase] = answer.action;
    return answer.action == kAuto ? question.autoAction : answer.action;
}

// ---- server to server ----

// The target's steps run on the target's own worker when it has one (see
// CFtpSession::StartForPartner), else from here.
int CControlSocket::SiteToSite(const std::string& sourcePath, const std::string& targetDir,
                               CFtpSession& target, int opt) {
    int result = kResultOk;
    if ((opt & kOptChangeToFileDir) != 0) {
        result = ChangeDir(ParentPath(sourcePath), kOptListAfter);
        if (result == kResultOk) {
            result = target.RunForPartner(
                session, [&](CControlSocket& t) { return t.ChangeDir(targetDir, kOptListAfter); });
        }
        if (result != kResultOk) return result;
    }
    session.currentFile = LastComponent(sourcePath);
    const std::string targetPath = JoinPath(targetDir, session.currentFile, '/');
    for (CFtpSession* each : {&session, &target}) {
        each->resumeOffset = 0;
        each->bytesDone = 0;
    }
    const int type = WantedType(session.currentFile);
    bool targetTls = false;
    result = SetType(type);
    if (result == kResultOk) {
        result = target.RunForPartner(session, [type, &targetTls](CControlSocket& t) {
            targetTls = t.IsTls();
            return t.SetType(type);
        });
    }
    if (result != kResultOk) return result;

    // Each server would wait for the other to begin the TLS handshake of their data
    // connection: between protected sessions there is no way to keep the data protected.
    if (IsTls() || targetTls) {
        session.Log(
            "A server-to-server transfer cannot be protected by TLS; transfer the file "
            "through this computer instead (download, then upload).",
            LOG_ERROR);
        return kResultFailed;
    }
    bool targetListens = false;
    result = LinkDataConnections(target, targetListens);
    if (result == kResultOk) result = SendCommand("retr " + TransferArgument(sourcePath), false);
    // The source's answer to RETR comes before STOR can truncate the target file, where the
    // order allows: with the source listening, its server would wait for the target's.
    if (result == kResultOk && targetListens) result = AwaitRetrStart();
    if (result != kResultOk) return result;
    session.siteToSiteActive = true;
    result = TransferToTarget(target, targetPath);
    session.siteToSiteActive = false;
    if (result != kResultOk) return result;
    ListAfter(opt);
    return kResultOk;
}

// The target listens (PASV) and the source connects to it (PORT); if either refuses, the
// other way round. The announced address is handed on as it is: it is the other server, not
// this client, that connects to it. Over IPv6 the listener is asked with EPSV, which names
// no host: the other server is sent, with EPRT, to the address this client reaches it at.
int CControlSocket::LinkDataConnections(CFtpSession& target, bool& targetListens) {
    std::string host;
    int port = 0;
    int result = target.RunForPartner(session, [&](CControlSocket& t) {
        const int passive = t.EnterPassiveForPartner();
        host = t.dataHost;
        port = t.dataPort;
        return passive;
    });
    if (result == kResultOk) result = SendPortTo(host, port);
    targetListens = result == kResultOk;
    if (result == kResultOk || internal::EndsOperation(result)) return result;
    result = EnterPassiveForPartner();
    if (result != kResultOk) return result;
    return target.RunForPartner(
        session, [this](CControlSocket& t) { return t.SendPortTo(dataHost, dataPort); });
}

// The first reply to RETR: a preliminary one lets the transfer go on, a final one other than
// a transfer pair (a small file may be through already) is the refusal.
int CControlSocket::AwaitRetrStart() {
    int result = session.WaitForSession(&replyStarted, 0);
    if (result == kResultInterrupted || result == kResultTimedOut) Abort();
    if (result != kResultOk) return result;
    if (!replyDone.TryWait()) return kResultOk;
    result = WaitReplyDone();
    if (result != kResultOk || IsTransferPair()) return result;
    return TransferOutcome();
}

int CControlSocket::TransferToTarget(CFtpSession& target, const std::string& targetPath) {
    // A driven target's reply arrives during this thread's waits; a target with a worker
    // sends STOR and awaits its reply there.
    const bool driven = !target.RunsItsOwnWork();
    const std::shared_ptr<PartnerTask> store =
        target.StartForPartner([targetPath, driven](CControlSocket& t) {
            int result = t.SendCommand("stor " + t.TransferArgument(targetPath), false);
            if (driven) return result;
            if (result == kResultOk) result = t.WaitReplyDone();
            // Stopped, perhaps before the line was seen to go out: the transfer may be on.
            if (result == kResultInterrupted) t.Abort();
            return result == kResultOk ? t.TransferOutcome() : result;
        });
    if (driven) {
        const int sent = target.FinishForPartner(session, *store);
        if (sent != kResultOk) {
            if (!replyDone.TryWait()) Abort();
            return sent;
        }
    }
    return AwaitSiteToSite(target, *store, driven);
}

// Both replies, whichever comes first: a failure on either side ends the other's transfer.
int CControlSocket::AwaitSiteToSite(CFtpSession& target, PartnerTask& store, bool driven) {
    platform::Waitable& targetDone =
        driven ? static_cast<platform::Waitable&>(target.controlSocket.replyDone) : store.done;
    int which = 0;
    int result = session.WaitForEither(replyDone, targetDone, which);
    if (result != kResultOk) {
        if (result == kResultInterrupted || result == kResultTimedOut) Abort();
        CancelTarget(target, store, driven);
        return result;
    }
    if (which == 1) {  // the target finished first
        const int targetResult = TargetOutcome(target, store, driven);
        if (targetResult != kResultOk) {
            if (!replyDone.TryWait()) Abort();
            return targetResult;
        }
    }
    result = WaitReplyDone();
    if (result == kResultOk && !IsTransferPair()) result = TransferOutcome();
    if (result != kResultOk) {
        CancelTarget(target, store, driven);
        return result;
    }
    return which == 1 ? kResultOk : TargetOutcome(target, store, driven);
}

int CControlSocket::TargetOutcome(CFtpSession& target, PartnerTask& store, bool driven) {
    if (!driven) return target.FinishForPartner(session, store);
    CControlSocket& other = target.controlSocket;
    int result = session.WaitForSession(&other.replyDone, 0);
    other.ReportLocalClose();
    if (result == kResultOk && (other.lastError != 0 || other.replyStatus != 0)) {
        result = kResultFailed;
    }
    if (result != kResultOk) {
        if (result == kResultInterrupted || result == kResultTimedOut) other.Abort();
        return result;
    }
    return other.TransferOutcome();
}

void CControlSocket::CancelTarget(CFtpSession& target, PartnerTask& store, bool driven) {
    if (!driven) {
        target.CancelForPartner(store);
    } else if (!target.controlSocket.replyDone.TryWait()) {
        target.controlSocket.Abort();
    }
}

int CControlSocket::TransferOutcome() const {
    if (IsTransferPair()) return kResultOk;
    return replyCount == 1 && replyCodes[0].starts_with("55") ? kResultRefused : kResultFailed;
}

}  // namespace tarnwick
