// Local file system helpers and the program's directories.
#include "listing/local_files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "listing/paths.h"

namespace tarnwick {

namespace fs = std::filesystem;

bool MakeDirectoryPath(const std::string& path) {
    if (path.empty()) return false;
    std::error_code error;
    fs::create_directories(path, error);
    return fs::is_directory(path, error);
}

bool FileExists(const std::string& path) {
    return !path.empty() && access(path.c_str(), F_OK) == 0;
}

int IsDirectoryPath(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) return -1;
    return S_ISDIR(info.st_mode) ? 1 : 0;
}

int64_t LocalFileSize(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) return -1;
    return S_ISDIR(info.st_mode) ? 0 : static_cast<int64_t>(info.st_size);
}

namespace {

// An environment variable's value, or empty when it is unset.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The user's home directory: $HOME, else the password database's entry.
std::string HomeDirectory() {
    std::string home = Environment("HOME");
    if (!home.empty()) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        home = found->pw_dir;
    }
    return home;
}

std::string ProgramHomeWithoutSlash() {
    std::string home = Environment("TARNWICK_HOME");
    if (!home.empty()) return home;
    const std::string dataHome = Environment("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/') return JoinPath(dataHome, "tarnwick", '/');
    const std::string userHome = HomeDirectory();
    // Without any home directory the files still need a place; the temporary directory is
    // the one location every user can write to.
    if (userHome.empty()) return TempDirectory() + "tarnwick";
    return JoinPath(userHome, ".local/share/tarnwick", '/');
}

}  // namespace

std::string ProgramDirectory() {
    std::string home = ProgramHomeWithoutSlash();
    MakeDirectoryPath(home);
    if (home.back() != '/') home += '/';
    return home;
}

std::string CurrentDirectory() {
    std::error_code error;
    const fs::path current = fs::current_path(error);
    return error ? std::string() : current.string();
}

std::string TempDirectory() {
    std::string directory = Environment("TMPDIR");
    if (directory.empty()) directory = "/tmp";
    if (directory.back() != '/') directory += '/';
    return directory;
}

}  // namespace tarnwick
