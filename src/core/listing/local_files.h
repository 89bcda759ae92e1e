// Small questions and actions on the local file system, and the directories the program
// keeps its files in. Any thread may call these; they share nothing but the file system and
// the process environment (read only).
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// Creates a directory and every missing ancestor. Returns true if the path is a directory
// afterwards; callers that follow up with an open of their own may ignore the result.
bool MakeDirectoryPath(const std::string& path);

// True if a file or directory of that name exists (a dangling symbolic link does not).
bool FileExists(const std::string& path);

// 1 if the path names a directory, 0 if it names anything else, -1 if nothing is there.
int IsDirectoryPath(const std::string& path);

// The size in bytes of the file (0 for a directory), or -1 if nothing is there.
int64_t LocalFileSize(const std::string& path);

// The program home, where site.dat, the history files, the autosaved queue and the default
// cache live: $TARNWICK_HOME, else $XDG_DATA_HOME/tarnwick, else ~/.local/share/tarnwick.
// Unset or empty variables are skipped, and so is an XDG_DATA_HOME that is not absolute.
// The directory is created when missing. Always ends with "/".
std::string ProgramDirectory();

// The process's current directory, without trailing "/" (except for the root); empty if it
// cannot be determined (for instance because it was removed).
std::string CurrentDirectory();

// $TMPDIR when set and not empty, else "/tmp"; always ends with "/".
std::string TempDirectory();

}  // namespace tarnwick
