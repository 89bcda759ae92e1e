// One file pane: a local directory or the remote directory of one session, shown by a
// FileModel in a details tree or an icon/list view. A local pane changes the disk itself; a
// remote pane only posts commands to its session (through the poster it is given) and shows
// what the session lists.
//
// Threads: the user-interface thread. Ownership: the pane owns its model and views; the
// session is named by id only.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/open_sessions.h"
#include "panes/file_model.h"
#include "panes/pane_rules.h"
#include "session/ftp_session.h"

class QAbstractItemView;
class QListView;
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
    // Remote pane: what the session reports.
    void ShowListing(const QString& listedDirectory, const FileEntryList& entries);
    void SetRemoteDirectory(const QString& remoteDirectory);
    void GoToRemotePath(const QString& path);
    void ChangeRemoteDirectory(const std::string& target);
    void SetCacheLoader(CacheLoader loader) { cacheLoader = std::move(loader); }

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
    // the directory item they were dropped on (empty: this pane's directory).
    void dropped(tarnwick::gui::FilePaneView* source, const QString& dropDirectory);
    // Delete of remote entries: the session's queue gets a Delete item for each.
    void deleteRequested(const std::vector<tarnwick::gui::TransferSource>& entries, bool queueOnly);
    void filesDropped(const std::vector<tarnwick::gui::TransferSource>& files,
                      const QString& dropDirectory);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void ShowPopup(const QPoint& position);
    void ShowEntries(const QString& newDirectory, const FileEntryList& entries);
    void Post(int code, const std::string& first, const std::string& second = {});
    void Message(const QString& text);
    bool HandleDrag(QAbstractItemView* view, QEvent* event);
    QString DirectoryAt(QAbstractItemView* view, const QPoint& position) const;

    bool remote = false;
    SessionId session = 0;
    QString host;
    QString directory;
    QString shownDirectory;  // of the last listing, to re-select the directory left
    QString pattern = QStringLiteral("*");
    CommandPoster poster;
    CacheLoader cacheLoader;
    QString sessionDirectory;  // the session's current directory, as it last reported it
    FileModel* model = nullptr;
    QStackedWidget* stack = nullptr;
    QTreeView* tree = nullptr;
    QListView* icons = nullptr;
    PaneViewMode mode = PaneViewMode::kDetails;
    bool confirmDelete = true;
};

}  // namespace tarnwick::gui
