// CDataSocket moves the bytes of one listing, download or upload; CListenSocket accepts the
// server's connection in active mode. Both are embedded in one session and belong to its
// protocol thread: their notifications run there, inside the session's waits (an upload runs
// nested inside the wait of StoreFile, started by the connection notification).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/async_socket.h"
#include "platform/event.h"

namespace tarnwick {

class CFtpSession;

// Bytes moved per read of the local file and per receive. The transfer benchmark tunes it.
inline constexpr size_t kDataChunkSize = 256 * 1024;

// A listing bigger than this is refused (the transfer fails) rather than held in memory.
inline constexpr size_t kMaxListingBytes = 256 * 1024 * 1024;

// A download's bytes that arrive before the server has answered RETR are held in memory, up
// to this many; a server that sends more without a word is not followed.
inline constexpr size_t kMaxHeldBytes = 64 * 1024 * 1024;

class CDataSocket : public platform::AsyncSocket {
public:
    explicit CDataSocket(CFtpSession& session);
    ~CDataSocket() override;  // closes a file still open

    // ---- arming a transfer (the transfer operations) ----
    // A download into `file` (opened by the caller, owned from now on) or a listing into the
    // session's listingText (file null, toMemory): resets receiveFinished. A download armed
    // with a null file holds what arrives in memory until AttachFile names its target.
    void ArmReceive(std::FILE* target, bool intoMemory, const std::string& localPath);
    // The target of a held download (owned from now on): the bytes held so far are written
    // first, and the file is closed at once when the data connection has already ended.
    // False when writing them failed (writeFailed, the transfer ended).
    bool AttachFile(std::FILE* target);
    bool HoldsData() const { return !held.empty(); }
    // An upload from `source` (owned from now on): resets sendFinished. The upload starts
    // once it is released (STOR has gone out) and the data connection is up, whichever
    // comes last: some servers connect in active mode as soon as they get PORT.
    void ArmSend(std::FILE* source, const std::string& localPath);
    void ReleaseUpload();
    // The listening socket has accepted the server's connection into this socket. Over TLS
    // the handshake waits until the server has answered the transfer command (see
    // TransferAnswered): some servers drop a data connection that speaks first.
    void Accepted();
    // The server answered the transfer command with 125/150: a held handshake starts.
    void TransferAnswered();
    // Closes a connection left over from an earlier transfer, before a new one is prepared.
    void NewConnection();

    // Starts connecting to the server's data port (passive mode). A connect that fails at
    // once ends the armed transfer like a failed connect notification.
    void ConnectTo(const std::string& host, int port);

    // Runs the whole upload: reads the file in chunks and sends them, waiting while the socket
    // is full. Logs "File ... sent successfully." or "Failed to send file ...".
    void SendFile();
    // One receive: the byte count, 0 at the end of the stream, -1 when nothing could be read
    // or the transfer ended with an error.
    int ReceiveChunk(int error);
    int DrainReceive();  // ReceiveChunk until 0 (returns 0) or -1 (returns -1)
    // Ends the transfer: closes the file and the socket and signals its end event (an upload
    // gets result 1).
    void FinishTransfer(bool upload);
    void ReportError(int error, bool upload);  // logs the error and ends the transfer
    bool CloseFile();  // true when a file (not memory) was open; a failing close sets writeFailed

    int result = 0;     // of the last upload: 0 ok, 1 failed, 2/3/4 the wait that ended it
    int lastError = 0;  // socket error that ended the last transfer
    bool toMemory = false;
    bool writeFailed = false;  // a local write failed (disk full): the download fails
    std::FILE* file = nullptr;
    platform::Event chunkSent{platform::Event::kManualReset, true};
    platform::Event sendFinished{platform::Event::kManualReset, true};
    platform::Event receiveFinished{platform::Event::kManualReset, true};

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;
    void OnTlsHandshake(int error) override;

private:
    // When the control connection is TLS, the data connection is TLS too and resumes its
    // session: true when the handshake was started (OnTlsHandshake then goes on).
    bool StartSecuring();
    void ConnectionUp();    // connected (and secured): a released upload starts
    int SendCloseNotify();  // after the last chunk of a TLS upload: 0 or the failure
    int AwaitPeerClose();
    void DiscardUntilClosed();  // reads what the server still sends; chunkSent at its end
    void EndReceive();          // receiveFinished, and the mirror flag the data path tests
    void EndSend();             // sendFinished (and chunkSent, so a waiting upload sees the end)
    bool SendPendingChunk();    // false when the transfer ended with an error
    bool StoreReceived(const char* bytes, size_t count);
    // Re-arms the session's inactivity deadline, at most every few tenths of a second: the
    // deadline is in whole seconds, and re-arming per chunk would cost a system call each.
    void RearmDeadline();
    int SendChunks();  // the upload loop of SendFile; its result
    bool IsConnected() const;

    CFtpSession& session;
    std::vector<char> buffer;
    std::string held;      // bytes of a held download (ArmReceive with a null file)
    std::string fileName;  // local path, for the diagnostic of a file left open
    size_t chunkLength = 0;
    size_t chunkOffset = 0;
    // Mirrors of "receiveFinished / sendFinished not signalled", tested per chunk without a
    // system call.
    bool receiving = false;
    bool uploading = false;
    bool released = false;           // the upload may start (STOR sent)
    bool connected = false;          // the current connection is up (with IsOpen)
    bool sending = false;            // SendFile is running (guards against a nested start)
    bool closingTls = false;         // an upload's close_notify waits for room
    bool awaitingPeerClose = false;  // an upload's end is out; the server is to close
    bool transferAnswered = false;   // 125/150 came for the transfer being prepared
    bool handshakeHeld = false;      // an accepted connection waits for that answer
    std::chrono::steady_clock::time_point lastArmed;
};

class CListenSocket : public platform::AsyncSocket {
public:
    explicit CListenSocket(CFtpSession& session);
    // Listens on any port (backlog 5), same address family as the control connection.
    bool Open();

protected:
    // Accepts into the session's data socket, then listens again on a fresh port (every data
    // connection is offered on a new port) and starts a waiting upload.
    void OnAccept(int error) override;

private:
    CFtpSession& session;
};

}  // namespace tarnwick
