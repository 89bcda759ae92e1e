#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "command_runner.h"
#include "credentials.h"
#include "listing/paths.h"
#include "offline_commands.h"

namespace tarnwick::cli {

namespace fs = std::filesystem;

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

int Worse(int a, int b) {
    if (a == kResultInterrupted || b == kResultInterrupted) return kResultInterrupted;
    return std::max(a, b);
}

bool NamesEntry(const std::string& path) {
    return !IsRootPath(StripTrailingSeparator(path));
}

CommandRunner::CommandRunner(const CliOptions& options, const CliContext& context, Console& console)
    : options_(options),
      context_(context),
      console_(console),
      observer_(console_, {options.verbose, options.quiet, options.overwrite}) {}

CommandRunner::~CommandRunner() {
    CloseSession();
}

void CommandRunner::CompleteLoginOf(RemoteTarget& target) {
    CompleteLogin(target, SystemCredentialSources(), [this](const std::string& warning) {
        if (!options_.quiet) console_.WriteLine("tarnwick-cli: " + warning);
    });
}

int CommandRunner::Run() {
    const std::string& url =
        options_.command == "put" ? options_.arguments.back() : options_.arguments.front();
    std::string error;
    if (!MakeRemoteTarget(url, options_, context_.sites, target_, error)) return Usage(error);
    CompleteLoginOf(target_);
    const std::string& command = options_.command;
    const std::string& path = target_.path;
    if (command == "ls") return Ls();
    if (command == "get") return Get();
    if (command == "put") return Put();
    if (command == "rm") return path.ends_with('/') ? DeleteDirectory() : DeleteFile();
    if (command == "mkdir") return MakeOrRemoveDir(CmdMakeDir);
    if (command == "rmdir") return MakeOrRemoveDir(CmdRemoveDir);
    if (command == "cache") return CacheDirectory();
    return Rename();
}

// The session starts in the directory and lists it: that listing is the answer. Only when
// the start-up could not list it (no such directory, a timeout) is the listing asked for
// again, for the server's verdict.
int CommandRunner::Ls() {
    const std::string dir = StripTrailingSeparator(target_.path);
    if (int result = Open(dir); result != kResultOk) return result;
    ListingInfo listing = observer_.LastListing();
    if (!PathsEqual(listing.directory, dir.empty() ? "/" : dir)) {
        SessionCommand list;
        list.code = CmdList;
        list.firstArg = dir;
        if (int result = Execute(list); result != kResultOk) return Failed(result, "ls " + dir);
        listing = observer_.LastListing();
    }
    for (const FileEntry& entry : *listing.entries) {
        const std::string line = FormatListingLine(entry) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    return kResultOk;
}

int CommandRunner::Get() {
    const std::string localDirText = options_.arguments.size() > 1 ? options_.arguments[1] : ".";
    std::error_code code;
    const fs::path localDir = fs::absolute(localDirText, code).lexically_normal();
    if (code || (fs::exists(localDir, code) && !fs::is_directory(localDir, code))) {
        return Usage("get: not a directory: " + localDirText);
    }
    return target_.path.ends_with('/') ? GetDirectory(localDir) : GetFile(localDir);
}

int CommandRunner::DeleteFile() {
    const std::string& path = target_.path;
    if (!NamesEntry(path)) return Usage("rm: the URL names no file");
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

int CommandRunner::Open(SiteSetting site, const std::string& startDirectory, bool listAtStart) {
    CloseSession();
    site.defremotedir = startDirectory.empty() ? "/" : startDirectory;
    // Before the first session's threads exist: they inherit the blocked SIGINT.
    if (!watcher_) {
        watcher_ = std::make_unique<InterruptWatcher>([this] { observer_.RequestInterrupt(); });
    }
    session_ =
        std::make_unique<CliSession>(site, std::make_shared<const AppSettings>(context_.settings),
                                     observer_, options_.timeout, listAtStart);
    if (!options_.quiet && ::isatty(STDERR_FILENO) == 1) {
        meter_ = std::make_unique<ProgressMeter>(session_->Session(), observer_, console_);
    }
    const int result = session_->Connect();
    return result == kResultOk ? result : Failed(result, "connect to " + site.address);
}

void CommandRunner::CloseSession() {
    meter_.reset();
    session_.reset();
}

int CommandRunner::Execute(const SessionCommand& command) {
    return session_->Run(command);
}

int CommandRunner::Failed(int result, const std::string& what) {
    std::string reason = ResultText(result);
    // The server's word on a refusal or failure, when it said no.
    const std::string reply = Printable(observer_.LastRefusal());
    if ((result == kResultFailed || result == kResultRefused) && !reply.empty()) {
        reason += " (" + reply + ")";
    }
    if (!options_.quiet) console_.WriteLine("tarnwick-cli: " + what + ": " + reason);
    return result;
}

int CommandRunner::Usage(const std::string& error) {
    console_.WriteLine("tarnwick-cli: " + error);
    return kExitUsage;
}

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
    if (command == "queue") return runner.RunQueueFile(options.arguments[1]);
    return runner.Run();
}

}  // namespace tarnwick::cli
