// A passive-mode FTP proxy for tests that interrupt transfers at a chosen point. It listens on
// 127.0.0.1 (port chosen by the system) and relays each control connection to a server on
// 127.0.0.1; every "227" reply is rewritten so that the data connection passes through the
// proxy as well. Replies wait until the data connection has ended, as a client talking to
// the server directly would see them. The proxy records the command lines the client sent,
// and can act once a single data connection has carried a given number of bytes. Both
// faults end that data connection early and then the control connection, dropping the
// replies held back (so the client cannot take the early end of data for the end of the
// file):
//   kDropControl      closes the control connection at once, as a broken link would;
//   kPauseForRestart  stops relaying until Resume(), so that the test can restart the server
//                     while the transfer hangs, and closes it then.
//
// Threads: the proxy runs on its own thread; every public member may be called from any
// thread. The destructor stops the thread and closes every socket.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback_socket.h"

namespace tarnwick::test {

class FtpProxy {
public:
    enum class Fault { kDropControl, kPauseForRestart };

    explicit FtpProxy(uint16_t serverPort);
    ~FtpProxy();
    FtpProxy(const FtpProxy&) = delete;
    FtpProxy& operator=(const FtpProxy&) = delete;

    uint16_t Port() const { return port_; }

    // Faults fire in the order added, at most one per data connection: each on the first
    // data connection that has carried `bytes` bytes, opened after the previous one fired.
    void AddFault(Fault fault, size_t bytes);
    size_t FaultsFired() const;
    // After a kPauseForRestart: true once the proxy has paused (false at the timeout).
    bool WaitPaused(std::chrono::milliseconds timeout);
    void Resume();

    // Every command line the client sent, over all connections, without CR LF.
    std::vector<std::string> Commands() const;

private:
    struct PendingFault {
        Fault fault;
        size_t bytes;
    };

    void Run();
    void AcceptClient();
    void RelayControl(bool fromClient);
    void RelayReplyLine(std::string line);
    void AcceptData();
    void RelayData(bool fromClient);
    void CheckFaults(bool upload);
    void AwaitServerReply();  // reads it into replyBuffer_, where it stays unrelayed
    void PauseUntilResumed();
    void CloseControl();
    void CloseData();

    uint16_t serverPort_;
    UniqueFd listen_;
    uint16_t port_ = 0;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;

    // Proxy thread only.
    UniqueFd clientControl_;
    UniqueFd serverControl_;
    UniqueFd dataListen_;
    UniqueFd clientData_;
    UniqueFd serverData_;
    uint16_t serverDataPort_ = 0;
    size_t dataBytes_ = 0;    // carried by the current data connection
    bool faultDone_ = false;  // a fault fired on the current data connection
    std::string commandBuffer_;
    std::string replyBuffer_;
    std::string heldReplies_;  // replies that wait for the data connection to end

    mutable std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    std::deque<PendingFault> faults_;
    size_t faultsFired_ = 0;
    bool paused_ = false;
    std::vector<std::string> commands_;

    std::thread thread_;
};

}  // namespace tarnwick::test
