// Replacing a file whole: the new content goes to a temporary file in the target's directory,
// which is then renamed over the target, so a crash or a full disk never leaves a
// half-written file behind. Any thread may call this; concurrent writers of one target each
// replace it whole, the last rename wins.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

enum class AtomicWriteResult {
    kWritten,
    kCannotCreateTemporary,  // the temporary file could not be created
    kWriteFailed,            // writing or flushing failed (disk full); the target is untouched
    kRenameFailed,           // the temporary file could not replace the target
};

struct AtomicWriteOptions {
    // Empty: a unique name ".<target name>.XXXXXX" next to the target. Otherwise this path,
    // which must be in the same directory as the target.
    std::string temporaryPath{};
    // Flushes the data to the device before the rename and the directory after it, so that
    // even a power loss leaves the old or the new content; files that can be fetched again (cached
    // listings) may skip that cost.
    bool syncToDisk = true;
    // The new file is readable by its owner only (0600), from the moment it is created: for
    // files that hold passwords.
    bool ownerOnly = false;
};

// Writes `contents` to `target` through a temporary file, which is removed on failure.
// Unless `ownerOnly` is set, a target that already exists keeps its permission bits and a new
// one gets 0644 (less umask for a named temporary file).
AtomicWriteResult WriteFileAtomically(const std::string& target, std::string_view contents,
                                      const AtomicWriteOptions& options = {});

}  // namespace tarnwick
