// CControlSocket: the FTP control connection of one session. Every protocol operation is a
// method of it and returns a result code (ResultCode in session/ftp_session.h: 0 success,
// 1 failure, 2 interrupted, 3 timed out, 4 connection closed, 6 refused for good).
//
// Threads: the session's protocol thread only (its worker, or a test thread driving the
// session): the socket's notifications are dispatched there while an operation waits in one
// of the session's waits. The object is embedded in its session and lives as long as it;
// the socket itself is created by the session before each connection attempt.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ftp/replies.h"
#include "ftp/server_features.h"
#include "listing/listing_parser.h"
#include "platform/async_socket.h"
#include "platform/event.h"

namespace tarnwick {

class CFtpSession;
struct PartnerTask;
struct TransferInfo;

class CControlSocket : public platform::AsyncSocket {
public:
    explicit CControlSocket(CFtpSession& session);

    // ---- the command/reply primitive ----
    // Sends one command line (CR LF is added) and, when `waitReply`, waits for its complete
    // reply: replyCodes[0 .. replyCount-1] and replyText then hold it. A line holding CR or
    // LF is refused (1) and never sent.
    int SendCommand(const std::string& line, bool waitReply);
    void ResetReply();
    int WaitReplyDone();  // waits for the reply of a command sent without waiting
    // Waits for the first reply line of a command sent without waiting: a preliminary one
    // (1xx, replyComplete false) or a complete reply.
    int WaitFirstReply();
    int ParseReply();  // -1 malformed, else 0; sets replyCodes, replyCount, replyComplete
    void SignalReplyDone();
    bool IsTransferPair() const;

    // ---- login and single-reply commands ----
    // Connect, TLS when the site asks for it (AUTH TLS, PBSZ 0, PROT P), USER/PASS, then
    // FEAT. A server that refuses TLS, or a certificate not trusted, ends it with 6 and
    // nothing more is sent.
    int ConnectAndLogin();
    // FEAT → session.serverFeatures; a reply other than a feature list leaves it empty.
    int RequestFeatures();
    int ChangeDir(std::string dir, int opt);
    int ParentDir(int opt);
    int PrintDir();
    int DeleteRemoteFile(const std::string& path, int opt);
    int MakeDir(const std::string& path, int opt);  // 6 when the server refuses
    int RemoveDir(const std::string& path, int opt);
    int RenameFile(const std::string& from, const std::string& to, int opt);
    int SetType(int type);  // 0 ASCII, 1 image; sends only on a change
    // REST: *supported is 1 when the server accepted the offset, 0 when it refused it (5xx).
    int Restart(uint64_t offset, int* supported);
    int Abort();
    int Quit();

    // ---- data connections and transfers ----
    int EnterPassive();  // PASV → dataHost, dataPort
    // For this client's own data connection: EPSV where the connection is IPv6 or the server
    // lists it (a refusal falls back to PASV over IPv4 and is remembered), else PASV. Sets
    // dataHost (the control connection's peer after EPSV) and dataPort.
    int EnterPassiveForData();
    // EPRT (where EPSV would be used) or PORT with the session's local address and listening
    // port; a refused EPRT falls back to PORT over IPv4 and is remembered.
    int SendPort();
    int ListDir(const std::string& dir, const std::string& args, int opt);
    int RetrieveFile(const std::string& localDir, const std::string& remotePath, int opt);
    int StoreFile(const std::string& localPath, const std::string& remoteDir, int opt);
    // Server to server: RETR here, STOR on `target` (another session, whose own worker runs
    // its steps when it has one; see CFtpSession::StartForPartner).
    int SiteToSite(const std::string& sourcePath, const std::string& targetDir, CFtpSession& target,
                   int opt);

    // The transfer type wanted for a file: the session's transferType, or for 2 (automatic)
    // the type its extension calls for.
    int WantedType(const std::string& fileName) const;

    // ---- state ----
    std::array<int, kOverwriteCases> overwriteChoice;  // remembered "All" choices, -1 none
    std::string lastVerb;  // first word of the last command ("login" while logging in)
    int lastError = 0;     // socket error of the last send or connect
    std::string dataHost;  // from the last PASV reply
    int dataPort = 0;
    // The server refused EPSV / EPRT on this session: PASV / PORT go out directly from now on.
    bool epsvRefused = false;
    bool eprtRefused = false;
    // The server refused MLSD (500/502) on this session: listings use LIST from now on.
    bool mlsdRefused = false;
    int currentType = -1;  // type in force on the server: -1 unknown, 0 ASCII, 1 image
    int replyStatus = 0;   // -1: the awaited reply ended by a failure or was malformed
    std::array<std::string, kMaxReplyCodes> replyCodes;
    int replyCount = 0;
    bool replyComplete = false;
    std::string replyText;     // everything received since the last command, at most kMaxReplyBytes
    std::string loginMessage;  // welcome text and login replies of the last login
    platform::Event sendDone{platform::Event::kAutoReset};
    platform::Event connectDone{platform::Event::kAutoReset};
    platform::Event tlsDone{platform::Event::kAutoReset};
    int tlsHandshakeError = 0;  // of the last handshake
    platform::Event replyDone{platform::Event::kManualReset, /*signalled=*/true};
    // Set with the first reply line of the awaited reply (a 150 before RETR's data), or when
    // the reply ends otherwise; reset with the next command.
    platform::Event replyStarted{platform::Event::kManualReset, /*signalled=*/true};

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;
    void OnTlsHandshake(int error) override;

private:
    // One received chunk while a command waits for its reply.
    void AddReplyChunk(std::string_view bytes);
    void LogReplyChunk(std::string_view bytes);
    // A complete final reply to RETR or STOR: the transfer will not happen (or is over), so
    // the data side ends now; a 55x is also shown as a notice when asked for.
    void ApplyFinalTransferReply();
    // The receive side failed or the server closed: the awaited reply will not come.
    void FailReply();
    int WaitReplyEvent(platform::Event& event);  // WaitReplyDone or WaitFirstReply
    // Closing the connection from this side (a failed send or receive, a reply too long):
    // no close notification will come, so ReportLocalClose tells the session once the
    // current wait is over.
    void CloseLocally();
    void ReportLocalClose();

    int ConnectSocket();  // the connect step of ConnectAndLogin
    int SendUserAndPassword();
    // TLS on the control connection (tls_login.cpp).
    int SecureAfterWelcome();               // explicit: AUTH TLS, then the handshake and PROT P
    int NegotiateTls();                     // the handshake and the certificate check
    int DecideOnCertificate();              // after the handshake: 0 accepted, else refused
    int ProtectData();                      // PBSZ 0, PROT P
    int RefuseTls(const std::string& why);  // logs, closes without a word: 6
    int ListAfter(int opt);                 // bit 1: list the current directory
    std::string CacheHome() const;

    // Transfers (transfers.cpp).
    int SendPortTo(const std::string& host, int port);  // PORT (EPRT for IPv6) to any host
    int EnterPassiveForPartner();  // PASV, EPSV over IPv6: the other server will connect
    // Whether the extended command is to be tried: not refused yet, and the connection is
    // IPv6 (where only it works) or the server lists it.
    bool UseExtended(bool refused, bool listed) const;
    // EPSV or EPRT refused over IPv6, where PASV and PORT cannot name an address: logged, 1.
    int RefusedOverIpv6(const char* command);
    int PrepareDataConnection();  // passive: a fresh data socket and PASV; active: PORT
    void ConnectDataSocket();     // passive: connect to the server's data port
    std::string TransferArgument(const std::string& remotePath) const;
    // One listing command (MLSD when `facts`) and its data; `refused` tells that the server
    // did not know the command (500/502).
    int RunListing(const std::string& command, bool facts, bool& refused);
    int FinishListing(bool facts);
    // The entry of a remote file: from the last listing when it is of the file's directory,
    // else from the directory cache.
    bool FindRemoteEntry(const std::string& remoteFull, FileEntry& entry);
    bool IndexListing();  // listedIndex for session.listingEntries; false when there is none
    void ForgetListedEntry(const std::string& remoteFull);
    // Resume, settled by sizes: a target of the source's size is complete (Skip, logged), a
    // bigger one is no part of it (Overwrite).
    int SettleResume(int action, uint64_t targetSize, int64_t sourceSize);
    int RunDownload(const std::string& remotePath, const std::string& localPath, TransferInfo& info,
                    bool& opened);
    void TakeAnnouncedSize(TransferInfo& info);
    // SIZE and MDTM for a file of unknown size and time, where the server offers them.
    int AskFileFacts(const std::string& remotePath, FileEntry& remote, bool& haveEntry);
    void KeepUploadTime(const std::string& remotePath, int64_t modified);  // MFMT
    bool KeepHeldData(const std::string& localPath, bool append);
    int OpenDownloadFile(const std::string& localPath, bool append);
    int FinishDownload(int result);
    int RestartUpload(const FileEntry& remote);
    int RunUpload(const std::string& remotePath, bool& listAfter);
    int UploadOutcome(int result, bool& listAfter);
    // Around every RETR and STOR: the observer's OnTransferStarted/Finished and the
    // session's progress.
    void BeginTransfer(const TransferInfo& info);
    void EndTransfer(const TransferInfo& info, int result);
    int DecideOverwrite(bool upload, const FileEntry& source, const FileEntry& target);
    int AskOverwrite(int overwriteCase, bool upload, const FileEntry& source,
                     const FileEntry& target);
    int LinkDataConnections(CFtpSession& target, bool& targetListens);
    int AwaitRetrStart();
    int TransferToTarget(CFtpSession& target, const std::string& targetPath);
    int AwaitSiteToSite(CFtpSession& target, PartnerTask& store, bool driven);
    int TargetOutcome(CFtpSession& target, PartnerTask& store, bool driven);
    void CancelTarget(CFtpSession& target, PartnerTask& store, bool driven);
    int TransferOutcome() const;  // of a complete RETR or STOR reply

    CFtpSession& session;
    // session.listingEntries by name (index of the first entry of each name), for the list
    // indexedListing; an uploaded name is taken out, as the listing no longer tells of it.
    std::shared_ptr<const FileEntryList> indexedListing;
    std::unordered_map<std::string, size_t> listedIndex;
    bool closedLocally = false;
    std::string sendBuffer;  // the command line being sent, with CR LF; empty when none
    size_t sentLength = 0;
};

}  // namespace tarnwick
