// One of the main window's two site views: a tab bar with one tab per file pane (local panes
// and the remote panes of sessions), an address box with the path history and an up button.
// It routes the address box, Up, Refresh and Select All to the visible pane and asks the main
// window (through signals) to open sessions and to close them.
//
// Threads: the user-interface thread. Ownership: the view owns its panes (as children);
// sessions belong to the main window's list of open sessions.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "panes/file_pane_view.h"

class QComboBox;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace tarnwick::gui {

class SiteView : public QWidget {
    Q_OBJECT

public:
    // historyPath is "pathhis.txt" in the program home; the box loads it now.
    explicit SiteView(std::string historyPath, QWidget* parent = nullptr);

    FilePaneView* CurrentPane() const;
    FilePaneView* PaneOf(SessionId session) const;
    // A new local tab listing the path (the current directory if it does not exist).
    FilePaneView* OpenLocalPath(const QString& path);
    // Adds a pane (a new remote pane, or one moved from the peer view) as the current tab.
    void AddPane(FilePaneView* pane);
    // Takes the pane out of this view without destroying it.
    void TakePane(FilePaneView* pane);
    void ClosePane(FilePaneView* pane);
    // Brings the pane's tab forward (nothing when the pane is not here).
    void ShowPane(FilePaneView* pane);
    // Enter in the address box, with the box's text.
    void EnterAddress(const QString& text);
    void UpDirectory();
    void Refresh();
    void SelectAll();

signals:
    void connectUrlRequested(const QString& url);   // ConnectUrl
    void closeSessionRequested(SessionId session);  // CloseTab of a session tab
    void moveToPeerRequested(FilePaneView* pane);   // Move To Peer Pane
    void currentPaneChanged(FilePaneView* pane);    // a session tab makes it active
    void transferRequested(FilePaneView* source);   // Download / Upload to the peer pane
    void pasteUrlRequested(FilePaneView* target);   // Paste URL into a local pane
    // A drop on one of this view's panes (dropDirectory empty: the pane's directory).
    void paneDropped(FilePaneView* source, FilePaneView* target, const QString& dropDirectory,
                     bool queueOnly);
    void filesDropped(FilePaneView* target, const std::vector<TransferSource>& files,
                      const QString& dropDirectory, bool queueOnly);
    void localDirectoryShown(const QString& directory);  // a local pane listed it
    void openRequested(const QString& path, bool view);  // a local file to show

private:
    void ShowDirectory(FilePaneView* pane, const QString& directory);
    void ShowTabPopup(const QPoint& position);
    void CurrentChanged(int index);
    int IndexOf(FilePaneView* pane) const;

    std::string historyPath;
    std::vector<std::string> history;
    QTabBar* tabs = nullptr;
    QComboBox* address = nullptr;
    QToolButton* up = nullptr;
    QStackedWidget* stack = nullptr;
};

}  // namespace tarnwick::gui
