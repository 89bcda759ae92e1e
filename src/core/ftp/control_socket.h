// CControlSocket: the FTP control connection of one session. Every protocol operation is a
// method of it and returns a result code (see ResultCode in session/ftp_session.h).
// Worker thread only: the notifications are dispatched by the session's waits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/replies.h"
#include "listing/listing_parser.h"
#include "platform/async_socket.h"  // platform::AsyncSocket, platform::Event

namespace tarnwick {

class CFtpSession;

class CControlSocket : public platform::AsyncSocket {
public:
    explicit CControlSocket(CFtpSession& session);

    // The command/reply primitive.
    int SendCommand(const std::string& line, bool waitReply);
    void ResetReply();
    int WaitReplyDone();
    int ParseReply();
    void SignalReplyDone();
    bool IsTransferPair() const;

    // Login and single-reply commands.
    int ConnectAndLogin();
    int ChangeDir(std::string dir, int opt);
    int ParentDir(int opt);
    int PrintDir();
    int DeleteRemoteFile(const std::string& path, int opt);
    int MakeDir(const std::string& path, int opt);
    int RemoveDir(const std::string& path, int opt);
    int RenameFile(const std::string& from, const std::string& to, int opt);
    int SetType(int type);
    int Restart(uint64_t offset, int* supported);
    int Abort();
    int Quit();

    // Data connections and transfers.
    int EnterPassive();
    int SendPort();
    int ListDir(const std::string& dir, const std::string& args, int opt);
    int RetrieveFile(const std::string& localDir, const std::string& remotePath, int opt);
    int StoreFile(const std::string& localPath, const std::string& remoteDir, int opt);
    int SiteToSite(const std::string& sourcePath, const std::string& targetDir,
                   CFtpSession& target, int opt);

    // State.
    std::array<int, 18> overwriteChoice;  // each -1 at construction
    std::string lastVerb;
    int lastError = 0;
    std::string dataHost;
    int dataPort = 0;
    int currentType = -1;
    int replyStatus = 0;
    std::array<std::string, kMaxReplyCodes> replyCodes;
    int replyCount = 0;
    bool replyComplete = false;
    std::string replyText;
    platform::Event sendDone{platform::Event::kAutoReset};
    platform::Event connectDone{platform::Event::kAutoReset};
    platform::Event replyDone{platform::Event::kManualReset, /*signalled=*/true};

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;

private:
    CFtpSession& session;
    std::string sendBuffer;
    size_t sentLength = 0;
};

}  // namespace tarnwick
