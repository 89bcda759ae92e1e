// The rules of the file panes and site views that need no widget: how a typed local path
// splits into directory and pattern, how a local directory is listed, what the address box
// does with a text, and which queue items a pane-to-pane transfer makes.
//
// Threads: pure functions, callable from any thread (ListLocalDirectory reads the disk).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "listing/listing_parser.h"
#include "queue/queue_item.h"

namespace tarnwick::gui {

// A typed local path: a "*" or "?" in its last component makes that component the pattern.
struct LocalPathSplit {
    std::string directory;
    std::string pattern = "*";
};
LocalPathSplit SplitLocalPath(const std::string& text);

// The entries of a local directory that match the pattern ("." and ".." left out); false if
// the directory cannot be read.
bool ListLocalDirectory(const std::string& directory, const std::string& pattern,
                        FileEntryList& entries);

// What Enter in a site view's address box does with the text.
enum class AddressKind {
    kPath,         // a local or remote path for the current tab (target = the text)
    kFtpUrl,       // close the current tab and open a session (target = the URL)
    kLocalUrl,     // a file URL: a local path (target = its path)
    kUnsupported,  // "Unsupported service type!"
};
struct AddressAction {
    AddressKind kind = AddressKind::kPath;
    std::string target;
};
AddressAction ClassifyAddress(const std::string& text);

// One selected item of the source pane of a transfer.
struct TransferSource {
    std::string path;  // full local or remote path
    int64_t size = kUnknownSize;
    bool isDirectory = false;
};
// The queue items of a transfer between a local and a remote pane: a download of every source
// into the destination directory (remote to local) or an upload of every source into it
// (local to remote). A drop on a directory of the destination pane names that directory as
// dropDirectory, which then replaces the destination.
std::vector<std::shared_ptr<QueueItem>> MakeTransferItems(
    bool download, const std::vector<TransferSource>& sources, const std::string& destination,
    const std::string& dropDirectory = {});

}  // namespace tarnwick::gui
