// CDataSocket moves the bytes of one listing, download or upload; CListenSocket accepts the
// server's connection in active mode. Both belong to one session and its worker thread.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/async_socket.h"

namespace tarnwick {

class CFtpSession;

// Bytes moved per read of the local file and per receive. The transfer benchmark tunes it.
inline constexpr size_t kDataChunkSize = 64 * 1024;

class CDataSocket : public platform::AsyncSocket {
public:
    explicit CDataSocket(CFtpSession& session);
    ~CDataSocket() override;

    void SendFile();
    int ReceiveChunk(int error);
    int DrainReceive();
    void FinishTransfer(bool upload);
    void ReportError(int error, bool upload);
    bool CloseFile();

    int result = 0;
    int lastError = 0;
    bool toMemory = false;
    std::FILE* file = nullptr;  // owned while a transfer runs
    bool writeFailed = false;   // a local write failed (disk full): the transfer fails
    platform::Event chunkSent{platform::Event::kManualReset, true};
    platform::Event sendFinished{platform::Event::kManualReset, true};
    platform::Event receiveFinished{platform::Event::kManualReset, true};

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;

private:
    CFtpSession& session;
    std::vector<char> buffer;
    size_t chunkLength = 0;
    size_t chunkOffset = 0;
};

class CListenSocket : public platform::AsyncSocket {
public:
    explicit CListenSocket(CFtpSession& session);
    bool Open();  // any port, listen backlog 5, same address family as the control connection

protected:
    void OnAccept(int error) override;
    void OnClose(int error) override;

private:
    CFtpSession& session;
};

}  // namespace tarnwick
