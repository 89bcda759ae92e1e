// A bare FTP client for the self-tests of the test servers: plain sockets, bounded waits, no
// knowledge of the engine. One test thread uses an instance.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "loopback_socket.h"

namespace tarnwick::test {

class RawFtpClient {
public:
    static constexpr std::chrono::seconds kLimit{5};  // bounds every wait

    bool Connect(uint16_t port);
    // One complete reply, every line of a multi-line one included, exactly as received;
    // empty when the connection ended or nothing complete arrived in time.
    std::string ReadReply();
    // Sends the line with CR LF and reads the reply.
    std::string Command(std::string_view line);
    // What the next single receive returns (no buffering): for checking chunked replies.
    std::string ReceiveOnce();
    // Sends PASV and connects to the announced port on 127.0.0.1; invalid on failure.
    UniqueFd OpenPassive();

    int Fd() const { return fd_.Get(); }

private:
    UniqueFd fd_;
    std::string buffered_;
};

// Reads a data connection to its end; the status says how it ended.
inline IoStatus ReadToEnd(int fd, std::string& out) {
    return ReceiveUntilClosed(fd, out, RawFtpClient::kLimit);
}

}  // namespace tarnwick::test
