// The commands that work on a server: each checks its arguments, opens a session on the
// target's site, runs through it and prints its result. The single commands (ls, rm of a
// file, rmdir, mkdir, rename) are posted one by one (commands.cpp); every transfer (get and
// put of files and trees), rm of a directory, cache and queue files go through the session's
// transfer queue, and so through the per-file retries (tree_commands.cpp).
//
// Threads: the main thread. The runner owns the interrupt watcher, the session of the moment
// and its progress meter; the observer outlives every session.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli_observer.h"
#include "cli_options.h"
#include "cli_session.h"
#include "cli_settings.h"
#include "console.h"
#include "interrupt_watcher.h"
#include "progress_meter.h"
#include "queue/queue_item.h"
#include "remote_target.h"

namespace tarnwick::cli {

class CommandRunner {
public:
    CommandRunner(const CliOptions& options, const CliContext& context, Console& console);
    ~CommandRunner();  // closes the session before the watcher goes
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // A command on a URL (ls, get, put, rm, rmdir, mkdir, rename, cache).
    int Run();
    // queue run FILE: every host's items, one host after the other in file order. The
    // status is the worst result of the items (0 only if every item is done), an
    // interruption ending the run at once with 2; the items not done are named on stderr.
    int RunQueueFile(const std::string& path);

private:
    // Single commands (commands.cpp).
    int Ls();
    int Get();
    int DeleteFile();
    int MakeOrRemoveDir(int code);
    int Rename();

    // Through the queue (tree_commands.cpp).
    int GetFile(const std::filesystem::path& localDir);
    int Put();
    int GetDirectory(const std::filesystem::path& localDir);
    int DeleteDirectory();
    int CacheDirectory();
    // Hands the items to the session's queue and runs it to its end; the result is the
    // worst of the run's and of every item left undone, each of which is named on stderr.
    // `what` names the operation in a failure line.
    int RunItems(const std::vector<std::shared_ptr<QueueItem>>& items,
                 std::optional<uint64_t> totalFiles, const std::string& what);
    int ItemResult(const QueueItem& item, int runResult) const;
    // Forgets the cached listings below `remoteDir` of the target's host, so that a walk of
    // the tree sees what the server holds now, not what it held at the last visit.
    void ForgetCachedTree(const std::string& remoteDir) const;

    // Opens a session with `site` (closing the one before), starting in `startDirectory`
    // ("/" when empty), and connects. A download of one file lists its directory only when
    // a local file is in the way: it passes listAtStart false and saves the start-up's LIST.
    int Open(SiteSetting site, const std::string& startDirectory, bool listAtStart = true);
    int Open(const std::string& startDirectory, bool listAtStart = true) {
        return Open(target_.site, startDirectory, listAtStart);
    }
    void CloseSession();
    // Fills in what the URL and options left open of the login (credentials.h); a warning
    // about the sources goes to the console unless --quiet.
    void CompleteLoginOf(RemoteTarget& target);
    int Execute(const SessionCommand& command);
    // Prints why `what` failed (unless --quiet) and passes the result on.
    int Failed(int result, const std::string& what);
    int Usage(const std::string& error);

    const CliOptions& options_;
    const CliContext& context_;
    RemoteTarget target_;
    Console& console_;
    CliObserver observer_;
    // Destroyed in reverse order: the meter reads the session, the watcher outlives both.
    std::unique_ptr<InterruptWatcher> watcher_;
    std::unique_ptr<CliSession> session_;
    std::unique_ptr<ProgressMeter> meter_;
};

// True for a remote path that names a file or directory below the root.
bool NamesEntry(const std::string& path);
// A result code in words, for a failure line.
std::string ResultText(int result);
// The worse of two exit statuses: an interruption first, else the higher result code.
int Worse(int a, int b);

}  // namespace tarnwick::cli
