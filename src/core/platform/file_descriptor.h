// An owned POSIX file descriptor and a write that does not stop half way.
//
// Threads and ownership: a FileDescriptor owns its descriptor and closes it when destroyed;
// one thread uses it at a time. WriteAll may be called from any thread.
#pragma once

#include <string_view>

namespace tarnwick::platform {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Closes now, for callers that must know whether the close succeeded (a write error can
    // surface only here). False if it failed or nothing was open.
    bool Close();

private:
    int fd_;
};

// Writes every byte, going on after short writes and interruptions. False on an error
// (errno tells which), for instance a full disk.
bool WriteAll(int fd, std::string_view bytes);

}  // namespace tarnwick::platform
