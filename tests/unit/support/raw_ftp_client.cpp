#include "raw_ftp_client.h"

#include <cstdio>

namespace tarnwick::test {

bool RawFtpClient::Connect(std::string_view host, uint16_t port) {
    return ConnectLoopback(host, port, DeadlineAfter(limit_), fd_) == IoStatus::kOk;
}

bool RawFtpClient::Send(std::string_view line) {
    return SendAll(fd_.Get(), std::string(line) + "\r\n", DeadlineAfter(limit_)) == IoStatus::kOk;
}

std::string RawFtpClient::ReadReply() {
    const Deadline deadline = DeadlineAfter(limit_);
    size_t scanned = 0;
    for (;;) {
        // A reply ends with a line that has its code followed by a blank; a "ddd-" first
        // line opens a multi-line reply that only "ddd " closes.
        for (size_t end; (end = buffered_.find('\n', scanned)) != std::string::npos;) {
            const std::string_view line(buffered_.data() + scanned, end - scanned);
            const bool multiLine = buffered_.size() > 3 && buffered_[3] == '-';
            const bool closes = !multiLine || (line.size() > 3 && line[3] == ' ' &&
                                               line.substr(0, 3) == buffered_.substr(0, 3));
            scanned = end + 1;
            if (closes) {
                std::string reply = buffered_.substr(0, scanned);
                buffered_.erase(0, scanned);
                return reply;
            }
        }
        if (ReceiveSome(fd_.Get(), buffered_, deadline) != IoStatus::kOk) return {};
    }
}

std::string RawFtpClient::ReceiveOnce() {
    std::string bytes;
    ReceiveSome(fd_.Get(), bytes, DeadlineAfter(limit_));
    return bytes;
}

IoStatus RawFtpClient::WaitForEnd() {
    std::string ignored;
    return ReceiveUntilClosed(fd_.Get(), ignored, limit_);
}

std::optional<HostPort> ParsePassiveReply(std::string_view reply) {
    const size_t open = reply.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    unsigned h[4];
    unsigned p[2];
    const std::string inside(reply.substr(open + 1));
    if (std::sscanf(inside.c_str(), "%u,%u,%u,%u,%u,%u)", &h[0], &h[1], &h[2], &h[3], &p[0],
                    &p[1]) != 6) {
        return std::nullopt;
    }
    return HostPort{std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) +
                        "." + std::to_string(h[3]),
                    static_cast<uint16_t>(p[0] * 256 + p[1])};
}

std::string PortCommand(uint16_t port) {
    return "PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

IoStatus ReadToEnd(int fd, std::string& out, std::chrono::milliseconds idleLimit) {
    return ReceiveUntilClosed(fd, out, idleLimit);
}

}  // namespace tarnwick::test
