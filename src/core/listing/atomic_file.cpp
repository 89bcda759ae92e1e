// Whole-file replacement through a temporary file and rename.
#include "listing/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/file_descriptor.h"

namespace tarnwick {

namespace {

using platform::FileDescriptor;

constexpr mode_t kOwnerOnlyMode = 0600;

int OpenUniqueTemporary(const std::string& target, std::string& usedPath) {
    const std::filesystem::path targetPath(target);
    std::string name =
        (targetPath.parent_path() / ("." + targetPath.filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(name.data(), O_CLOEXEC);  // mode 0600
    if (fd >= 0) usedPath = std::move(name);
    return fd;
}

int OpenNamedTemporary(const std::string& temporaryPath, bool ownerOnly) {
    // O_NOFOLLOW: a symbolic link planted under the temporary name is not written through.
    return ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                  ownerOnly ? kOwnerOnlyMode : 0644);
}

void SetPermissions(int fd, const std::string& target, const AtomicWriteOptions& options) {
    struct stat info;
    if (options.ownerOnly) {
        ::fchmod(fd, kOwnerOnlyMode);  // a named temporary file may have existed before
    } else if (::stat(target.c_str(), &info) == 0) {
        ::fchmod(fd, info.st_mode & 07777);
    } else if (options.temporaryPath.empty()) {
        ::fchmod(fd, 0644);  // mkstemp creates 0600; a new file gets the usual mode
    }
}

// Makes the rename itself durable: until the directory is flushed, a power loss may bring
// back the old entry (or none) although the new file's data is on the disk.
void SyncDirectoryOf(const std::string& target) {
    std::filesystem::path directory = std::filesystem::path(target).parent_path();
    if (directory.empty()) directory = ".";
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen()) ::fsync(dir.get());
}

}  // namespace

AtomicWriteResult WriteFileAtomically(const std::string& target, std::string_view contents,
                                      const AtomicWriteOptions& options) {
    std::string usedPath = options.temporaryPath;
    FileDescriptor file(usedPath.empty() ? OpenUniqueTemporary(target, usedPath)
                                         : OpenNamedTemporary(usedPath, options.ownerOnly));
    if (!file.IsOpen()) return AtomicWriteResult::kCannotCreateTemporary;
    SetPermissions(file.get(), target, options);
    const bool written = platform::WriteAll(file.get(), contents) &&
                         (!options.syncToDisk || ::fsync(file.get()) == 0);
    if (!file.Close() || !written) {
        std::remove(usedPath.c_str());
        return AtomicWriteResult::kWriteFailed;
    }
    if (std::rename(usedPath.c_str(), target.c_str()) != 0) {
        std::remove(usedPath.c_str());
        return AtomicWriteResult::kRenameFailed;
    }
    // The new content is in place either way; a directory that cannot be flushed (a file
    // system without directory fsync) only weakens the guarantee after a power loss.
    if (options.syncToDisk) SyncDirectoryOf(target);
    return AtomicWriteResult::kWritten;
}

}  // namespace tarnwick
