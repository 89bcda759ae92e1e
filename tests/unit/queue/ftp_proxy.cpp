#include "ftp_proxy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace tarnwick::test {

namespace {

using namespace std::chrono_literals;

constexpr auto kIoLimit = 10s;     // bounds each connect and send of the proxy
constexpr auto kPauseLimit = 60s;  // a test that never resumes does not hang the proxy
constexpr size_t kChunk = 64 * 1024;

// What one receive returned: 0 when the peer closed or failed.
size_t ReceiveChunk(int fd, std::string& out) {
    out.resize(kChunk);
    const ssize_t got = ::recv(fd, out.data(), out.size(), 0);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out.size();
}

// The port announced by a "227 ... (h1,h2,h3,h4,p1,p2)" reply; 0 when it names none.
uint16_t PassivePort(const std::string& line) {
    std::array<unsigned, 6> n{};
    const size_t open = line.find('(');
    if (open == std::string::npos || std::sscanf(line.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &n[0],
                                                 &n[1], &n[2], &n[3], &n[4], &n[5]) != 6) {
        return 0;
    }
    return static_cast<uint16_t>(n[4] * 256 + n[5]);
}

// True when `text` holds a complete final reply line ("226 ...", not "150 ...").
bool HasFinalReply(const std::string& text) {
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        if (end - start >= 4 && text[start] >= '2' && text[start] <= '5' &&
            text[start + 3] == ' ') {
            return true;
        }
    }
    return false;
}

}  // namespace

FtpProxy::FtpProxy(uint16_t serverPort) : serverPort_(serverPort) {
    listen_ = ListenLoopback();
    port_ = LocalPort(listen_.Get());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    wakeRead_.Reset(fds[0]);
    wakeWrite_.Reset(fds[1]);
    thread_ = std::thread([this] { Run(); });
}

FtpProxy::~FtpProxy() {
    if (wakeWrite_) {
        const char stop = 's';
        (void)!::write(wakeWrite_.Get(), &stop, 1);
    }
    Resume();
    if (thread_.joinable()) thread_.join();
}

void FtpProxy::AddFault(Fault fault, size_t bytes) {
    std::lock_guard lock(mutex_);
    faults_.push_back({fault, bytes});
}

size_t FtpProxy::FaultsFired() const {
    std::lock_guard lock(mutex_);
    return faultsFired_;
}

bool FtpProxy::WaitPaused(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return paused_; });
}

void FtpProxy::Resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    changed_.notify_all();
}

std::vector<std::string> FtpProxy::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void FtpProxy::Run() {
    while (true) {
        std::vector<pollfd> fds{{wakeRead_.Get(), POLLIN, 0}, {listen_.Get(), POLLIN, 0}};
        for (int fd : {clientControl_.Get(), serverControl_.Get(), dataListen_.Get(),
                       clientData_.Get(), serverData_.Get()}) {
            fds.push_back({fd, POLLIN, 0});  // a negative descriptor is ignored by poll
        }
        if (::poll(fds.data(), fds.size(), 100) < 0) continue;
        if (fds[0].revents != 0) return;
        if (fds[1].revents != 0) AcceptClient();
        if (fds[2].revents != 0) RelayControl(true);
        if (fds[3].revents != 0) RelayControl(false);
        if (fds[4].revents != 0) AcceptData();
        if (fds[5].revents != 0) RelayData(true);
        if (fds[6].revents != 0) RelayData(false);
    }
}

void FtpProxy::AcceptClient() {
    UniqueFd client;
    if (AcceptWithin(listen_.Get(), DeadlineAfter(kIoLimit), client) != IoStatus::kOk) return;
    CloseControl();
    CloseData();
    UniqueFd server;
    if (ConnectLoopback("127.0.0.1", serverPort_, DeadlineAfter(kIoLimit), server) !=
        IoStatus::kOk) {
        return;  // the client sees its connection closed
    }
    clientControl_ = std::move(client);
    serverControl_ = std::move(server);
}

void FtpProxy::RelayControl(bool fromClient) {
    std::string bytes;
    if (ReceiveChunk((fromClient ? clientControl_ : serverControl_).Get(), bytes) == 0) {
        CloseControl();
        return;
    }
    if (!fromClient) {
        replyBuffer_ += bytes;
        for (size_t end; (end = replyBuffer_.find('\n')) != std::string::npos;) {
            RelayReplyLine(replyBuffer_.substr(0, end + 1));
            replyBuffer_.erase(0, end + 1);
        }
        return;
    }
    commandBuffer_ += bytes;
    for (size_t end; (end = commandBuffer_.find("\r\n")) != std::string::npos;) {
        std::lock_guard lock(mutex_);
        commands_.push_back(commandBuffer_.substr(0, end));
        commandBuffer_.erase(0, end + 2);
    }
    SendAll(serverControl_.Get(), bytes, DeadlineAfter(kIoLimit));
}

void FtpProxy::RelayReplyLine(std::string line) {
    // A direct client sees the end of the data before the reply that reports it; here the
    // data lags behind, so replies wait until the data connection has ended.
    if (clientData_) {
        heldReplies_ += line;
        return;
    }
    if (line.starts_with("227 ")) {
        serverDataPort_ = PassivePort(line);
        dataListen_ = ListenLoopback();
        const uint16_t port = LocalPort(dataListen_.Get());
        line = "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ").\r\n";
    }
    SendAll(clientControl_.Get(), line, DeadlineAfter(kIoLimit));
}

void FtpProxy::AcceptData() {
    UniqueFd client;
    UniqueFd server;
    const bool accepted =
        AcceptWithin(dataListen_.Get(), DeadlineAfter(kIoLimit), client) == IoStatus::kOk;
    dataListen_.Reset();
    if (!accepted || ConnectLoopback("127.0.0.1", serverDataPort_, DeadlineAfter(kIoLimit),
                                     server) != IoStatus::kOk) {
        return;
    }
    CloseData();
    clientData_ = std::move(client);
    serverData_ = std::move(server);
    dataBytes_ = 0;
    faultDone_ = false;
}

// Either side's end of data ends the connection: what was received has been passed on.
void FtpProxy::RelayData(bool fromClient) {
    std::string bytes;
    if (ReceiveChunk((fromClient ? clientData_ : serverData_).Get(), bytes) == 0) {
        CloseData();
        if (clientControl_) SendAll(clientControl_.Get(), heldReplies_, DeadlineAfter(kIoLimit));
        heldReplies_.clear();
        return;
    }
    SendAll((fromClient ? serverData_ : clientData_).Get(), bytes, DeadlineAfter(kIoLimit));
    dataBytes_ += bytes.size();
    CheckFaults(fromClient);
}

void FtpProxy::CheckFaults(bool upload) {
    Fault fault;
    {
        std::lock_guard lock(mutex_);
        if (faultDone_ || faults_.empty() || dataBytes_ < faults_.front().bytes) return;
        fault = faults_.front().fault;
        faults_.pop_front();
        ++faultsFired_;
    }
    faultDone_ = true;  // the next fault waits for a data connection of its own
    // The data connection ends here: the client keeps what it got, and what the server still
    // sends goes nowhere. The control connection goes too, with the replies held back, so
    // the client cannot take the early end of data for the end of the file.
    CloseData();
    // An upload's server is given the time to store what it got and say so, so that the
    // part it holds is exactly what was sent.
    if (upload) AwaitServerReply();
    if (fault == Fault::kDropControl) CloseControl();
    if (fault == Fault::kPauseForRestart) {
        PauseUntilResumed();
        CloseControl();
    }
}

void FtpProxy::AwaitServerReply() {
    const Deadline deadline = DeadlineAfter(kIoLimit);
    std::string bytes;
    while (!HasFinalReply(replyBuffer_) &&
           WaitFd(serverControl_.Get(), POLLIN, deadline) == IoStatus::kOk &&
           ReceiveChunk(serverControl_.Get(), bytes) != 0) {
        replyBuffer_ += bytes;
    }
}

void FtpProxy::PauseUntilResumed() {
    std::unique_lock lock(mutex_);
    paused_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, kPauseLimit, [this] { return !paused_; });
}

void FtpProxy::CloseControl() {
    clientControl_.Reset();
    serverControl_.Reset();
    commandBuffer_.clear();
    replyBuffer_.clear();
    heldReplies_.clear();
}

void FtpProxy::CloseData() {
    clientData_.Reset();
    serverData_.Reset();
    dataBytes_ = 0;
}

}  // namespace tarnwick::test
