// One file pane: a local directory or the remote directory of one session, shown by a
// FileModel in a details tree or an icon/list view. A local pane changes the disk itself; a
// remote pane only posts commands to its session (through the poster it is given) and shows
// what the session lists.
//
// Threads: the user-interface thread. Ownership: the pane owns its model and views; the
// session is named by id only.
#pragma once

#include <QItemSelection>
#include <QPersistentModelIndex>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/open_sessions.h"
#include "panes/file_model.h"
#include "panes/local_file_jobs.h"
#include "panes/pane_rules.h"
#include "queue/queue_item.h"
#include "session/ftp_session.h"

class QAbstractItemView;
class QListView;
class QMenu;
class QStackedWidget;
class QTreeView;

namespace tarnwick::gui {

enum class PaneViewMode : int { kLargeIcons = 0, kSmallIcons = 1, kList = 2, kDetails = 3 };

class FilePaneView : public QWidget {
    Q_OBJECT

public:
    using CommandPoster = std::function<void(SessionId, const SessionCommand&)>;
    // Fills `entries` from the directory cache; false when the directory is not taken from
    // there (not cached, or "Always Online").
    using CacheLoader = std::function<bool(const std::string& directory, FileEntryList& entries)>;

    // A local pane.
    explicit FilePaneView(QWidget* parent = nullptr);
    // The remote pane of a session; its directory starts as the site's remote directory.
    FilePaneView(SessionId session, QString host, QString directory, CommandPoster poster,
                 QWidget* parent = nullptr);

    bool IsRemote() const { return remote; }
    SessionId Session() const { return session; }
    const QString& Host() const { return host; }
    const QString& Directory() const { return directory; }
    FileModel& Model() { return *model; }
    QAbstractItemView* CurrentView() const;
    void SetViewMode(PaneViewMode mode);
    void SetConfirmDelete(bool on) { confirmDelete = on; }  // the delete prompt setting
    PaneViewMode ViewMode() const { return mode; }

    // Local pane.
    bool FillLocal(const QString& directory, const QString& pattern);
    void ChangeLocalDirectory(const QString& text);
    bool RenameLocal(int row, const QString& newName);
    void DeleteLocal(bool permanent);
    // Copies (into target) or deletes paths on a worker, with a progress dialog whose Cancel
    // stops it; the pane is refreshed when it ends. The job belongs to the pane.
    LocalFileJob* RunLocalJob(LocalFileJob::Kind kind, const QStringList& paths,
                              const QString& target);
    // Copies local files (another local pane's selection) into dropDirectory, or into this
    // pane's directory when it is empty, as a job of this pane.
    LocalFileJob* CopyInto(const std::vector<TransferSource>& files, const QString& dropDirectory);
    // Remote pane: what the session reports.
    void ShowListing(const QString& listedDirectory, const FileEntryList& entries);
    void SetRemoteDirectory(const QString& remoteDirectory);
    void GoToRemotePath(const QString& path);
    void ChangeRemoteDirectory(const std::string& target);
    void SetCacheLoader(CacheLoader loader) { cacheLoader = std::move(loader); }
    // Tells whether the session is busy (Quit is offered only while it is not).
    void SetBusyProbe(std::function<bool()> probe) { busyProbe = std::move(probe); }
    // View / Open of remote items: a download of each selected file into the temporary
    // directory, opened when it arrives.
    void ViewRemote(AfterDownload after);
    // Copy URL: the focused item's ftp URL as plain text.
    void CopyUrl();
    // Rename of the one selected item through the "Rename" dialog.
    void RenameSelected();
    // Cache Directory / Cache Entire Server: asks with the tree caching dialog, then hands a
    // caching walk from the chosen directory to the session's queue.
    void CacheTree(const std::string& start);
    // Local View (the viewer program, else the desktop's opener) and Open.
    void OpenLocal(bool view);
    // The popup's entries for a right click at position (in the current view's viewport).
    void FillPopup(QMenu& menu, const QPoint& position);

    // Both.
    void UpDirectory();
    void Refresh();
    void ActivateCurrent();
    void DeleteSelected(bool permanent);
    void NewDirectory();
    void SelectAll();
    std::vector<int> SelectedRows() const;
    std::vector<TransferSource> SelectedSources() const;
    // Copy: the selected items' full paths (local) or ftp URLs (remote) as plain text and as
    // the program's URL set.
    void CopySelected();

signals:
    void directoryShown(const QString& directory);
    void transferRequested();  // Download / Upload to the peer pane
    void pasteUrlRequested();  // a local pane's Paste URL
    // Items of another pane, or files of a file manager, were dropped here; dropDirectory is
    // the directory item they were dropped on (empty: this pane's directory). With Alt held
    // at the drop the transfer is only queued: no prompt, the queue is not started.
    void dropped(tarnwick::gui::FilePaneView* source, const QString& dropDirectory, bool queueOnly);
    // Delete of remote entries: the session's queue gets a Delete item for each.
    void deleteRequested(const std::vector<tarnwick::gui::TransferSource>& entries, bool queueOnly);
    void filesDropped(const std::vector<tarnwick::gui::TransferSource>& files,
                      const QString& dropDirectory, bool queueOnly);
    // Items for the session's queue (downloads to view, a tree caching walk); the queue is
    // started unless queueOnly.
    void queueRequested(const std::vector<std::shared_ptr<tarnwick::QueueItem>>& items,
                        bool queueOnly);
    // A local file to show: with the viewer program (view) or the desktop's opener.
    void openRequested(const QString& path, bool view);
    void localJobFinished();
    void disconnectRequested();
    void reconnectRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void ShowPopup(const QPoint& position);
    void ShowEntries(const QString& newDirectory, const FileEntryList& entries);
    void Post(int code, const std::string& first, const std::string& second = {});
    void PostRename(const std::string& oldName, const std::string& newName);
    void Message(const QString& text);
    bool HandleDrag(QAbstractItemView* view, QEvent* event);
    QString DirectoryAt(QAbstractItemView* view, const QPoint& position) const;
    void HighlightDropTarget(QAbstractItemView* view, const QPoint& position);
    void EndDropHighlight();

    bool remote = false;
    SessionId session = 0;
    QString host;
    QString directory;
    QString shownDirectory;  // of the last listing, to re-select the directory left
    QString pattern = QStringLiteral("*");
    CommandPoster poster;
    CacheLoader cacheLoader;
    std::function<bool()> busyProbe;
    QString sessionDirectory;  // the session's current directory, as it last reported it
    FileModel* model = nullptr;
    QStackedWidget* stack = nullptr;
    QTreeView* tree = nullptr;
    QListView* icons = nullptr;
    PaneViewMode mode = PaneViewMode::kDetails;
    bool confirmDelete = true;
    // While a drag is over the pane, the directory under the mouse is the selection; the
    // user's own selection comes back when the drag drops, leaves or is cancelled.
    bool dropHighlight = false;
    QItemSelection savedSelection;
    QPersistentModelIndex savedCurrent;
};

// Puts the paths or URLs on the clipboard as text, one per line, and as the program's own URL
// block (tagged with `source`, so a paste can tell where they came from).
void PutUrlsOnClipboard(const std::vector<std::string>& texts, const void* source);

}  // namespace tarnwick::gui
