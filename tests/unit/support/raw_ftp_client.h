// A bare FTP client for the self-tests of the test servers: plain sockets, bounded waits, no
// knowledge of the engine. One test thread uses an instance.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "loopback_socket.h"

namespace tarnwick::test {

class RawFtpClient {
public:
    explicit RawFtpClient(std::chrono::milliseconds limit = std::chrono::seconds(5))
        : limit_(limit) {}

    bool Connect(std::string_view host, uint16_t port);
    // Sends the line followed by CR LF.
    bool Send(std::string_view line);
    // One complete reply, every line of a multi-line one included, exactly as received; empty
    // when the connection ended or nothing complete arrived in time.
    std::string ReadReply();
    std::string Command(std::string_view line) { return Send(line) ? ReadReply() : ""; }
    // What the next single receive returns (no buffering): for checking chunked replies.
    std::string ReceiveOnce();
    // How the connection ends when the client waits for more: kClosed, kFailed (reset), ...
    IoStatus WaitForEnd();

    int Fd() const { return fd_.Get(); }

private:
    UniqueFd fd_;
    std::string buffered_;
    std::chrono::milliseconds limit_;
};

struct HostPort {
    std::string host;
    uint16_t port = 0;
};

// The address of a "227 ... (h1,h2,h3,h4,p1,p2)" reply.
std::optional<HostPort> ParsePassiveReply(std::string_view reply);

// "PORT h1,h2,h3,h4,p1,p2" for 127.0.0.1 and `port`.
std::string PortCommand(uint16_t port);

// Reads a data connection to its end; the status says how it ended.
IoStatus ReadToEnd(int fd, std::string& out,
                   std::chrono::milliseconds idleLimit = std::chrono::seconds(5));

}  // namespace tarnwick::test
