// MainWindow: the one top-level window. It lays out the five panes in splitters (the log
// pane over the two site views over the session list and the queue), owns the toolbar, the
// quick connect bar, the status bar and the half-second timer, routes the commands to the
// active session, turns the sessions' questions into dialogs and runs the orderly close.
//
// It is, with SessionBridge, the only place that drives the engine: sessions are opened
// here, commands are posted here (by the session's id through the list of open sessions),
// and everything the sessions report arrives through the bridge's signals.
//
// Threads: the user-interface thread. Ownership: the window owns the list of open sessions
// (and so the sessions), the bridge, the live settings record and its snapshots; the store
// and the program home are the caller's and must outlive the window.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/open_sessions.h"
#include "app/session_bridge.h"
#include "app/speed_window.h"
#include "app/tls_status.h"
#include "sites/site_setting.h"
#include "sites/transfer_url.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSplitter;
class QTimer;
class QToolBar;

namespace tarnwick::gui {

class FilePaneView;
class QueueView;
class SiteView;
struct TransferSource;

class LogPane;
class LoginMessageWindow;
class NoticeWindow;
class RunNotifier;
class SessionListView;
class ShellTransferDialog;

struct MainWindowContext {
    std::string programHome;  // ends with "/"
    AppSettings settings;
    std::vector<SiteSetting> sites;
    SettingsStore* store = nullptr;  // written at shutdown; null: nothing is written
};

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowContext context, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Imports "autosave.que" when it exists: a session, not connected, per site with items.
    void ImportAutosavedQueue();
    // Opens a session for an ftp URL with the given login (ConnectUrlWithLogin); false, after
    // the message "Invalid URL:" + text, when the text does not parse.
    // Opens a session for an ftp URL with the URL's own port and login, anonymous when it names
    // no user (ConnectUrl); false, after the same message, when the text does not parse.
    bool ConnectUrl(const QString& text);
    bool ConnectUrlWithLogin(const QString& text, const QString& user, const QString& password,
                             int port);
    void ShowShellTransfer(const QStringList& paths);

    const AppSettings& Settings() const { return settings; }
    OpenSessions& Sessions() { return sessions; }
    SessionBridge& Bridge() { return bridge; }
    NoticeWindow* Notice() const { return notice; }
    RunNotifier* Runs() const { return runNotifier; }
    QueueView* Queue() const { return queueView; }

    // The status bar's four fields, as shown.
    QString AddressText() const;
    QString FileNameText() const;
    QString PercentText() const;
    QString SpeedText() const;
    // The version and cipher the "TLS" field names for the active session; empty when the
    // field is hidden (the session is not protected).
    QString TlsText() const;
    // One tick of the half-second timer.
    void TimerTick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Creation.
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateQuickConnectBar();
    void CreateStatusBar();
    void CreatePanes();
    // The two site views: their requests, the sessions' listings, the pane-to-pane transfers.
    void ConnectSiteView(SiteView* view);
    void ConnectPanesToBridge();
    FilePaneView* RemotePaneOf(SessionId id) const;
    void TransferFromPane(FilePaneView* source);
    void TransferBetweenPanes(FilePaneView* source, FilePaneView* target,
                              const std::vector<TransferSource>& files,
                              const QString& dropDirectory, bool queueOnly = false);
    void CloseSessionTab(SessionId id);
    void UpdateTitle();
    void ConnectBridge();
    void RestorePlacement();
    void LayOutPanes();

    // Sessions.
    std::shared_ptr<CFtpSession> OpenSession(const SiteSetting& site);
    // The URL dialogs' rule: an open session of the host unless a new one is forced (or it
    // is in clear and the URL asks for TLS), else a new session for the host's site record.
    SessionForHost SessionProvider();
    void DownloadUrls(const QStringList& urls, QWidget* parent);
    void StartQueueWhenFree(SessionId id);
    void AdoptSession(const std::shared_ptr<CFtpSession>& session);
    void ForgetClosedSessions();
    std::shared_ptr<CFtpSession> Active() const { return sessions.Active(); }
    std::shared_ptr<CFtpSession> FindSession(SessionId id) const;
    void PublishSettings();
    AppSettingsSnapshot Snapshot() const;

    // Commands.
    void QuickConnect();
    void Reconnect();
    void DisconnectActive();
    void StartTransfer();
    void StopActive();
    void SetTransferType(int type);
    void ToggleAlwaysOnline(bool on);
    void RunOptionsSheet();
    void SaveAllQueues() { SaveQueues(false); }
    void SaveQueues(bool selectedOnly);
    void CreateSessionList();
    void ImportQueue();
    void ClearQueue();
    void ResetQueue();
    void ShowAbout();
    void UpdateStatusBar();
    void UpdateActions();

    // What the sessions report.
    void ShowQuestion(SessionId id, const QString& host, const std::shared_ptr<Question>& question);
    void CloseAnsweredQuestions();
    void ShowLoginMessage(SessionId id, const QString& host, const QString& text);
    void ShowProtection(SessionId id);
    void OpenDownloadedFile(const QString& path, const QString& viewer);

    std::string programHome;
    AppSettings settings;
    std::vector<SiteSetting> sites;
    SettingsStore* store;
    std::vector<std::string> urlHistory;

    // The bridge is declared before the sessions: the sessions report to it until the last
    // one is closed.
    SiteView* leftSites = nullptr;     // the local side at start-up
    SiteView* rightSites = nullptr;    // sessions open here
    SiteView* sessionSites = nullptr;  // where the next session's tab goes
    SessionBridge bridge;
    OpenSessions sessions;
    std::set<SessionId> adopted;  // tracked by the bridge, with a log view
    std::map<SessionId, SpeedWindow> speeds;
    TlsStatus tlsStatus;
    std::map<SessionId, QPointer<LoginMessageWindow>> loginWindows;
    QPointer<FilePaneView> titlePane;  // the last selected tab's pane: the title names its host
    struct PendingQuestion {
        QPointer<QWidget> dialog;
        std::shared_ptr<Question> question;
    };
    std::vector<PendingQuestion> pendingQuestions;
    int tickCount = 0;
    bool panesCreated = false;
    bool quickConnectQueued = false;  // Return in the URL box, handled once

    QTimer* timer;
    LogPane* logPane = nullptr;
    QueueView* queueView = nullptr;
    SessionId queueFollows = 0;  // the active session the queue view last switched to
    QSplitter* topSplitter = nullptr;
    QSplitter* siteSplitter = nullptr;
    QSplitter* bottomSplitter = nullptr;
    NoticeWindow* notice = nullptr;
    ShellTransferDialog* shellTransfer = nullptr;
    SessionListView* sessionList = nullptr;  // listens to `sessions`: deleted before them
    RunNotifier* runNotifier = nullptr;

    QLabel* addressField = nullptr;
    QLabel* fileNameField = nullptr;
    QLabel* percentField = nullptr;
    QLabel* speedField = nullptr;
    QLabel* tlsField = nullptr;  // shown while the active session is protected

    QComboBox* urlBox = nullptr;
    QLineEdit* userEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* portEdit = nullptr;
    QCheckBox* anonymousBox = nullptr;
    QToolBar* toolBar = nullptr;
    QToolBar* quickConnectBar = nullptr;

    struct Actions {
        QAction* siteManager;
        QAction* exit;
        QAction* reconnect;
        QAction* disconnect;
        QAction* startTransfer;
        QAction* stop;
        QAction* refresh;
        QAction* listStyle;
        QAction* largeIcons;
        QAction* smallIcons;
        QAction* list;
        QAction* details;
        QAction* alwaysOnline;
        QAction* settings;
        QAction* transferMode;
        QAction* ascii;
        QAction* binary;
        QAction* autoMode;
        QAction* saveAllQueues;
        QAction* importQueue;
        QAction* clearQueue;
        QAction* resetQueue;
        QAction* offlineSearch;
        QAction* helpContents;
        QAction* about;
        QAction* toggleToolBar;
        QAction* toggleStatusBar;
        QAction* toggleQuickConnect;
        QAction* nextPane;
        QAction* previousPane;
    } actions{};
};

}  // namespace tarnwick::gui
