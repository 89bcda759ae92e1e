#include "raw_ftp_client.h"

#include <cstdio>

namespace tarnwick::test {

bool RawFtpClient::Connect(uint16_t port) {
    return ConnectLoopback("127.0.0.1", port, DeadlineAfter(kLimit), fd_) == IoStatus::kOk;
}

std::string RawFtpClient::ReadReply() {
    const Deadline deadline = DeadlineAfter(kLimit);
    size_t scanned = 0;
    for (;;) {
        // A "ddd-" first line opens a multi-line reply that only a "ddd " line closes.
        for (size_t end; (end = buffered_.find('\n', scanned)) != std::string::npos;) {
            const std::string_view line(buffered_.data() + scanned, end - scanned);
            const bool closes = buffered_.size() <= 3 || buffered_[3] != '-' ||
                                (line.size() > 3 && line[3] == ' ' &&
                                 line.substr(0, 3) == std::string_view(buffered_).substr(0, 3));
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

std::string RawFtpClient::Command(std::string_view line) {
    const std::string sent = std::string(line) + "\r\n";
    return SendAll(fd_.Get(), sent, DeadlineAfter(kLimit)) == IoStatus::kOk ? ReadReply() : "";
}

std::string RawFtpClient::ReceiveOnce() {
    std::string bytes;
    ReceiveSome(fd_.Get(), bytes, DeadlineAfter(kLimit));
    return bytes;
}

UniqueFd RawFtpClient::OpenPassive() {
    const std::string reply = Command("PASV");
    unsigned high = 0, low = 0;
    const size_t open = reply.find('(');
    UniqueFd data;
    if (open == std::string::npos ||
        std::sscanf(reply.c_str() + open, "(%*u,%*u,%*u,%*u,%u,%u)", &high, &low) != 2) {
        return data;
    }
    ConnectLoopback("127.0.0.1", static_cast<uint16_t>(high * 256 + low), DeadlineAfter(kLimit),
                    data);
    return data;
}

}  // namespace tarnwick::test
