#include "commands.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli_observer.h"
#include "cli_session.h"
#include "cli_settings.h"
#include "console.h"
#include "interrupt_watcher.h"
#include "listing/paths.h"
#include "offline_commands.h"
#include "progress_meter.h"
#include "remote_target.h"

namespace tarnwick::cli {

namespace fs = std::filesystem;

namespace {

std::string ResultText(int result) {
    switch (result) {
        case kResultInterrupted:
            return "interrupted";
        case kResultTimedOut:
            return "timed out";
        case kResultConnectionClosed:
            return "connection closed by the server";
        case kResultGaveUp:
            return "gave up connecting";
        case kResultRefused:
            return "refused";
        default:
            return "failed";
    }
}

// Results after which the next file of a put has no chance either.
bool EndsBatch(int result) {
    return result == kResultInterrupted || result == kResultTimedOut ||
           result == kResultConnectionClosed || result == kResultGaveUp;
}

// True for a remote path that names a file or directory below the root.
bool NamesEntry(const std::string& path) {
    return !IsRootPath(StripTrailingSeparator(path));
}

class CommandRunner {
public:
    CommandRunner(const CliOptions& options, const CliContext& context, Console& console)
        : options_(options),
          context_(context),
          console_(console),
          observer_(console_, {options.verbose, options.quiet, options.overwrite}) {}

    int Run();

private:
    int Ls();
    int Get();
    int Put();
    int DeleteFile();
    int MakeOrRemoveDir(int code);
    int Rename();

    // Opens the session with the URL's site, starting in `startDirectory`, and connects.
    int Open(const std::string& startDirectory);
    int Execute(const SessionCommand& command, const std::string& fileName = {});
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

int CommandRunner::Run() {
    const std::string& url =
        options_.command == "put" ? options_.arguments.back() : options_.arguments.front();
    std::string error;
    if (!MakeRemoteTarget(url, options_, context_.sites, target_, error)) return Usage(error);
    const std::string& command = options_.command;
    if (command == "ls") return Ls();
    if (command == "get") return Get();
    if (command == "put") return Put();
    if (command == "rm") return DeleteFile();
    if (command == "mkdir") return MakeOrRemoveDir(CmdMakeDir);
    if (command == "rmdir") return MakeOrRemoveDir(CmdRemoveDir);
    return Rename();
}

int CommandRunner::Ls() {
    const std::string dir = StripTrailingSeparator(target_.path);
    if (int result = Open(dir); result != kResultOk) return result;
    SessionCommand list;
    list.code = CmdList;
    list.firstArg = dir;
    if (int result = Execute(list); result != kResultOk) return Failed(result, "ls " + dir);
    FileEntryList entries;
    ParseListingText(entries, observer_.LastListing());
    for (const FileEntry& entry : entries) {
        const std::string line = FormatListingLine(entry) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    return kResultOk;
}

int CommandRunner::Get() {
    const std::string& path = target_.path;
    if (!NamesEntry(path) || path.ends_with('/')) {
        return Usage("get: the URL must name a file, not a directory");
    }
    const std::string localDirText = options_.arguments.size() > 1 ? options_.arguments[1] : ".";
    std::error_code code;
    const fs::path localDir = fs::absolute(localDirText, code);
    if (code || (fs::exists(localDir, code) && !fs::is_directory(localDir, code))) {
        return Usage("get: not a directory: " + localDirText);
    }
    const fs::path localFile = localDir / LastComponent(path);
    const bool existed = fs::exists(fs::symlink_status(localFile, code));

    if (int result = Open(ParentPath(path)); result != kResultOk) return result;
    SessionCommand download;
    download.code = CmdDownload;
    download.firstArg = path;
    download.secondArg = localDir.string();
    download.remoteSize = -1;  // the worker looks it up in the listing of the directory
    const int result = Execute(download, LastComponent(path));
    if (result == kResultOk) return kResultOk;
    // A refused or broken download of a new file must not leave an empty file behind that
    // looks like a downloaded empty file. Partial data is kept for a later resume.
    if (!existed && fs::is_regular_file(localFile, code) && fs::file_size(localFile, code) == 0) {
        fs::remove(localFile, code);
    }
    return Failed(result, "get " + path);
}

int CommandRunner::Put() {
    const std::vector<std::string> files(options_.arguments.begin(), options_.arguments.end() - 1);
    std::vector<fs::path> localPaths;
    for (const std::string& file : files) {
        std::error_code code;
        const fs::path local = fs::absolute(file, code);
        if (code || !fs::exists(local, code)) return Usage("put: no such file: " + file);
        if (!fs::is_regular_file(local, code)) return Usage("put: not a regular file: " + file);
        localPaths.push_back(local);
    }
    const std::string remoteDir = StripTrailingSeparator(target_.path);
    if (int result = Open(remoteDir); result != kResultOk) return result;
    int firstFailure = kResultOk;
    for (const fs::path& local : localPaths) {
        SessionCommand upload;
        upload.code = CmdUpload;
        upload.secondArg = local.string();
        upload.firstArg = remoteDir;
        const int result = Execute(upload, local.filename().string());
        if (result == kResultOk) continue;
        Failed(result, "put " + local.string());
        if (firstFailure == kResultOk) firstFailure = result;
        if (EndsBatch(result)) break;
    }
    return firstFailure;
}

int CommandRunner::DeleteFile() {
    const std::string& path = target_.path;
    if (!NamesEntry(path) || path.ends_with('/')) {
        return Usage("rm: the URL must name a file, not a directory");
    }
    if (int result = Open(ParentPath(path)); result != kResultOk) return result;
    SessionCommand remove;
    remove.code = CmdDeleteFile;
    remove.firstArg = path;
    const int result = Execute(remove);
    return result == kResultOk ? result : Failed(result, "rm " + path);
}

int CommandRunner::MakeOrRemoveDir(int code) {
    const std::string name = code == CmdMakeDir ? "mkdir" : "rmdir";
    const std::string path = StripTrailingSeparator(target_.path);
    if (!NamesEntry(path)) return Usage(name + ": the URL must name a directory below the root");
    if (int result = Open(ParentPath(path)); result != kResultOk) return result;
    SessionCommand command;
    command.code = code;
    command.firstArg = path;
    const int result = Execute(command);
    return result == kResultOk ? result : Failed(result, name + " " + path);
}

int CommandRunner::Rename() {
    const std::string from = StripTrailingSeparator(target_.path);
    const std::string& newName = options_.arguments[1];
    if (!NamesEntry(from)) return Usage("rename: the URL must name a file or directory");
    if (newName.empty()) return Usage("rename: the new name is empty");
    // A plain name stays in the directory of the old one.
    const std::string to =
        newName.starts_with('/') ? newName : JoinPath(ParentPath(from), newName, '/');
    if (int result = Open(ParentPath(from)); result != kResultOk) return result;
    SessionCommand rename;
    rename.code = CmdRename;
    rename.firstArg = from;
    rename.secondName = to;
    const int result = Execute(rename);
    return result == kResultOk ? result : Failed(result, "rename " + from);
}

int CommandRunner::Open(const std::string& startDirectory) {
    target_.site.defremotedir = startDirectory;
    // Before the session's threads exist: they inherit the blocked SIGINT.
    watcher_ = std::make_unique<InterruptWatcher>([this] { observer_.RequestInterrupt(); });
    session_ = std::make_unique<CliSession>(target_.site,
                                            std::make_shared<const AppSettings>(context_.settings),
                                            observer_, options_.timeout);
    if (!options_.quiet && ::isatty(STDERR_FILENO) == 1) {
        meter_ = std::make_unique<ProgressMeter>(session_->Session(), console_);
    }
    const int result = session_->Connect();
    return result == kResultOk ? result : Failed(result, "connect to " + target_.site.address);
}

int CommandRunner::Execute(const SessionCommand& command, const std::string& fileName) {
    if (meter_) meter_->SetFileName(fileName);
    return session_->Run(command);
}

int CommandRunner::Failed(int result, const std::string& what) {
    std::string reason = ResultText(result);
    // The server's word on a refusal or failure, when its last reply was a negative one.
    const std::string reply = Printable(observer_.LastReplyLine());
    if ((result == kResultFailed || result == kResultRefused) &&
        (reply.starts_with('4') || reply.starts_with('5'))) {
        reason += " (" + reply + ")";
    }
    if (!options_.quiet) console_.WriteLine("tarnwick-cli: " + what + ": " + reason);
    return result;
}

int CommandRunner::Usage(const std::string& error) {
    console_.WriteLine("tarnwick-cli: " + error);
    return kExitUsage;
}

}  // namespace

std::string FormatListingLine(const FileEntry& entry) {
    char when[32] = "-";
    const auto seconds = static_cast<std::time_t>(entry.modified);
    std::tm local{};
    if (entry.modified >= 0 && ::localtime_r(&seconds, &local) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
    }
    return std::string(entry.isDirectory ? "d" : "-") + "\t" + std::to_string(entry.Size()) + "\t" +
           when + "\t" + Printable(entry.name);
}

int RunCommand(const CliOptions& options) {
    Console console;
    CliContext context;
    std::vector<std::string> warnings;
    std::string error;
    if (!MakeContext(options, context, warnings, error)) {
        console.WriteLine("tarnwick-cli: " + error);
        return kResultFailed;
    }
    if (!options.quiet) {
        for (const std::string& warning : warnings) console.WriteLine("tarnwick-cli: " + warning);
    }
    const std::string& command = options.command;
    if (command == "sites") return ListSites(context);
    if (command == "search") return SearchCache(options, context, console);
    if (command == "queue" && options.arguments[0] == "show") {
        return ShowQueueFile(options.arguments[1], console);
    }
    CommandRunner runner(options, context, console);
    return runner.Run();
}

}  // namespace tarnwick::cli
