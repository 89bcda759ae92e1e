// Whole-file replacement through a temporary file and rename.
#include "listing/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace tarnwick {

namespace {

// Owns a file descriptor; closes it unless it was closed explicitly to check the result.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

int OpenUniqueTemporary(const std::string& target, std::string& usedPath) {
    const std::filesystem::path targetPath(target);
    const std::filesystem::path pattern =
        targetPath.parent_path() / ("." + targetPath.filename().string() + ".XXXXXX");
    const std::string text = pattern.string();
    std::vector<char> name(text.begin(), text.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) usedPath = name.data();
    return fd;
}

int OpenNamedTemporary(const std::string& temporaryPath) {
    // O_NOFOLLOW: a symbolic link planted under the temporary name is not written through.
    return ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                  0644);
}

bool WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        contents.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void CopyPermissions(int fd, const std::string& target, bool uniqueTemporary) {
    struct stat info;
    if (::stat(target.c_str(), &info) == 0) {
        ::fchmod(fd, info.st_mode & 07777);
    } else if (uniqueTemporary) {
        ::fchmod(fd, 0644);  // mkstemp creates 0600; a new file gets the usual mode
    }
}

}  // namespace

AtomicWriteResult WriteFileAtomically(const std::string& target, std::string_view contents,
                                      const std::string& temporaryPath, bool syncToDisk) {
    std::string usedPath = temporaryPath;
    const bool unique = temporaryPath.empty();
    FileDescriptor file(unique ? OpenUniqueTemporary(target, usedPath)
                               : OpenNamedTemporary(temporaryPath));
    if (file.get() < 0) return AtomicWriteResult::kCannotCreateTemporary;
    CopyPermissions(file.get(), target, unique);
    const bool written =
        WriteAll(file.get(), contents) && (!syncToDisk || ::fsync(file.get()) == 0);
    if (!file.Close() || !written) {
        std::remove(usedPath.c_str());
        return AtomicWriteResult::kWriteFailed;
    }
    if (std::rename(usedPath.c_str(), target.c_str()) != 0) {
        std::remove(usedPath.c_str());
        return AtomicWriteResult::kRenameFailed;
    }
    return AtomicWriteResult::kWritten;
}

}  // namespace tarnwick
