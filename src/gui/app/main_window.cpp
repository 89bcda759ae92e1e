#include "app/main_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "app/help.h"
#include "app/history.h"
#include "app/run_notifier.h"
#include "app/settings_io.h"
#include "listing/directory_cache.h"
#include "listing/url.h"
#include "log/log_view.h"
#include "log/login_message_window.h"
#include "options/options_sheet.h"
#include "panes/file_pane_view.h"
#include "panes/pane_rules.h"
#include "panes/site_view.h"
#include "prompts/confirm_dialog.h"
#include "prompts/notice_window.h"
#include "prompts/overwrite_dialog.h"
#include "queue/queue_view.h"
#include "queue/session_list.h"
#include "res/icons.h"
#include "search/offline_search_dialog.h"
#include "sites/certificate_dialog.h"
#include "sites/paste_url_dialog.h"
#include "sites/shell_transfer_dialog.h"
#include "sites/site_file.h"
#include "sites/site_list.h"
#include "sites/site_manager_dialog.h"
#include "sites/tls_url.h"

namespace tarnwick::gui {

namespace {

constexpr int kTimerMs = 500;
constexpr int kMinPane = 10;
constexpr int kSiteListWidth = 150;

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

QMessageBox::StandardButtons AskButtons(int style) {
    switch (style & 0xF) {
        case kAskOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case kAskYesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case kAskYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}

int AskAnswerOf(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return kAnswerOk;
        case QMessageBox::Yes:
            return kAnswerYes;
        case QMessageBox::No:
            return kAnswerNo;
        default:
            return kAnswerCancel;
    }
}

}  // namespace

MainWindow::MainWindow(MainWindowContext context, QWidget* parent)
    : QMainWindow(parent),
      programHome(std::move(context.programHome)),
      settings(std::move(context.settings)),
      sites(std::move(context.sites)),
      store(context.store),
      timer(new QTimer(this)),
      runNotifier(new RunNotifier(this)) {
    setWindowTitle(tr("Tarnwick"));
    setObjectName(QStringLiteral("TarnwickMainFrame"));
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateQuickConnectBar();
    CreateStatusBar();
    CreatePanes();
    ConnectBridge();
    notice = new NoticeWindow(this);
    shellTransfer = new ShellTransferDialog(this);
    shellTransfer->SetSessionForHost(SessionProvider());
    RestorePlacement();
    connect(timer, &QTimer::timeout, this, &MainWindow::TimerTick);
    timer->start(kTimerMs);
    UpdateStatusBar();
    UpdateActions();
}

MainWindow::~MainWindow() {
    delete sessionList;
}

// ---- creation ----

void MainWindow::CreateActions() {
    auto make = [this](const QString& text, const QString& theme, QStyle::StandardPixmap fallback,
                       const QString& tip, void (MainWindow::*slot)()) {
        QIcon icon = ActionIcon(theme.toLatin1().constData());
        if (icon.isNull()) icon = style()->standardIcon(fallback);
        auto* action = new QAction(icon, text, this);
        action->setToolTip(tip);
        action->setStatusTip(tip);
        if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
        return action;
    };
    Actions& a = actions;
    a.siteManager = make(tr("Site Manager..."), "network-server", QStyle::SP_DriveNetIcon,
                         tr("Site Manager"), nullptr);
    a.exit = make(tr("E&xit"), "application-exit", QStyle::SP_DialogCloseButton,
                  tr("Quit the program"), nullptr);
    a.exit->setShortcut(QKeySequence::Quit);
    connect(a.exit, &QAction::triggered, this, &QWidget::close);
    connect(a.siteManager, &QAction::triggered, this, [this] {
        SiteManagerDialog dialog(sites, programHome + std::string(kSiteFileName),
                                 settings.anonymousPass, this);
        const int result = dialog.exec();
        if (result == QDialog::Rejected) return;  // Escape: the list stays as it was
        sites = dialog.Sites();
        if (result == SiteManagerDialog::kConnect) OpenSession(dialog.ChosenSite());
    });
    a.reconnect = make(tr("Reconnect"), "network-connect", QStyle::SP_BrowserReload,
                       tr("Reconnect"), &MainWindow::Reconnect);
    a.disconnect = make(tr("Disconnect"), "network-disconnect", QStyle::SP_DialogNoButton,
                        tr("Disconnect"), &MainWindow::DisconnectActive);
    a.startTransfer = make(tr("Start"), "media-playback-start", QStyle::SP_MediaPlay,
                           tr("Start Transfer"), &MainWindow::StartTransfer);
    a.stop = make(tr("Stop"), "process-stop", QStyle::SP_BrowserStop,
                  tr("Cancel Current Operation"), &MainWindow::StopActive);
    a.refresh =
        make(tr("Refresh"), "view-refresh", QStyle::SP_BrowserReload, tr("Refresh"), nullptr);
    a.refresh->setShortcut(QKeySequence(Qt::Key_F5));
    a.listStyle = make(tr("List Style"), "view-list-details", QStyle::SP_FileDialogDetailedView,
                       tr("List Style"), nullptr);
    a.largeIcons = new QAction(tr("Large Icons"), this);
    a.smallIcons = new QAction(tr("Small Icons"), this);
    a.list = new QAction(tr("List"), this);
    a.details = new QAction(tr("Details"), this);
    a.alwaysOnline = make(tr("Always Online"), "network-wired", QStyle::SP_DriveNetIcon,
                          tr("Always Online"), nullptr);
    a.alwaysOnline->setCheckable(true);
    a.alwaysOnline->setChecked(settings.alwaysRefresh);
    connect(a.alwaysOnline, &QAction::toggled, this, &MainWindow::ToggleAlwaysOnline);
    a.settings = make(tr("Se&ttings..."), "preferences-system", QStyle::SP_FileDialogInfoView,
                      tr("Settings"), &MainWindow::RunOptionsSheet);
    a.transferMode = make(tr("Transfer Mode"), "document-properties", QStyle::SP_FileIcon,
                          tr("Transfer Mode"), nullptr);
    auto* modes = new QActionGroup(this);
    a.ascii = modes->addAction(tr("ASCII"));
    a.binary = modes->addAction(tr("Binary"));
    a.autoMode = modes->addAction(tr("Auto"));
    QAction* modeActions[] = {a.ascii, a.binary, a.autoMode};
    for (int type = 0; type < 3; ++type) {
        modeActions[type]->setCheckable(true);
        connect(modeActions[type], &QAction::triggered, this,
                [this, type] { SetTransferType(type); });
    }
    a.saveAllQueues = make(tr("Save All Queues"), "document-save", QStyle::SP_DialogSaveButton,
                           tr("Save All Queues"), &MainWindow::SaveAllQueues);
    a.importQueue = make(tr("Import Queue..."), "document-open", QStyle::SP_DialogOpenButton,
                         tr("Import Queue"), &MainWindow::ImportQueue);
    a.clearQueue = make(tr("Clear Queue"), "edit-clear", QStyle::SP_DialogResetButton,
                        tr("Clear Queue"), &MainWindow::ClearQueue);
    a.resetQueue = make(tr("Reset Queue"), "edit-undo", QStyle::SP_DialogResetButton,
                        tr("Reset Queue"), &MainWindow::ResetQueue);
    a.offlineSearch = make(tr("Offline Search"), "edit-find", QStyle::SP_FileDialogContentsView,
                           tr("Offline Search"), nullptr);
    connect(a.offlineSearch, &QAction::triggered, this, [this] {
        OfflineSearchDialog dialog(settings.cacheHomeDirectory, this);
        connect(&dialog, &OfflineSearchDialog::openUrlRequested, this,
                [this](const QString& url) { ConnectUrl(url); });
        connect(&dialog, &OfflineSearchDialog::downloadRequested, this,
                [this, &dialog](const QStringList& urls) { DownloadUrls(urls, &dialog); });
        dialog.exec();
    });
    a.helpContents = make(tr("Contents"), "help-contents", QStyle::SP_TitleBarContextHelpButton,
                          tr("Help"), nullptr);
    a.helpContents->setShortcut(QKeySequence::HelpContents);
    connect(a.helpContents, &QAction::triggered, this,
            [] { OpenHelpTopic(QStringLiteral("index.htm")); });
    a.about = make(tr("&About Tarnwick..."), "help-about", QStyle::SP_MessageBoxInformation,
                   tr("About Tarnwick"), &MainWindow::ShowAbout);
    a.nextPane = new QAction(tr("Next Pane"), this);
    a.nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    connect(a.nextPane, &QAction::triggered, this, [this] { focusNextChild(); });
    a.previousPane = new QAction(tr("Previous Pane"), this);
    a.previousPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(a.previousPane, &QAction::triggered, this, [this] { focusPreviousChild(); });
    addAction(a.nextPane);
    addAction(a.previousPane);
}

void MainWindow::CreateMenus() {
    Actions& a = actions;
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(a.siteManager);
    file->addSeparator();
    file->addAction(a.exit);
    QMenu* view = menuBar()->addMenu(tr("&View"));
    a.toggleToolBar = view->addAction(tr("&Toolbar"));
    a.toggleStatusBar = view->addAction(tr("&Status Bar"));
    a.toggleQuickConnect = view->addAction(tr("Quick Connect Bar"));
    view->addSeparator();
    view->addAction(a.alwaysOnline);
    QMenu* styles = view->addMenu(tr("File List"));
    for (QAction* action : {a.largeIcons, a.smallIcons, a.list, a.details})
        styles->addAction(action);
    a.listStyle->setMenu(styles);
    QMenu* transfer = menuBar()->addMenu(tr("&Transfer"));
    transfer->addAction(a.startTransfer);
    transfer->addAction(a.stop);
    transfer->addSeparator();
    transfer->addAction(a.reconnect);
    transfer->addAction(a.disconnect);
    transfer->addAction(a.refresh);
    QMenu* mode = menuBar()->addMenu(tr("&Mode"));
    for (QAction* action : {a.ascii, a.binary, a.autoMode}) mode->addAction(action);
    auto* modeMenu = new QMenu(tr("Transfer Type"), this);
    for (QAction* action : {a.ascii, a.binary, a.autoMode}) modeMenu->addAction(action);
    a.transferMode->setMenu(modeMenu);
    QMenu* queue = menuBar()->addMenu(tr("&Queue"));
    for (QAction* action : {a.saveAllQueues, a.importQueue, a.clearQueue, a.resetQueue})
        queue->addAction(action);
    QMenu* tools = menuBar()->addMenu(tr("T&ools"));
    tools->addAction(a.offlineSearch);
    tools->addAction(a.settings);
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(a.helpContents);
    help->addAction(a.about);
}

void MainWindow::CreateToolBar() {
    Actions& a = actions;
    toolBar = addToolBar(tr("Toolbar"));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(18, 18));
    for (QAction* action :
         {a.siteManager, a.reconnect, a.disconnect, a.startTransfer, a.stop, a.refresh, a.listStyle,
          a.alwaysOnline, a.settings, a.transferMode, a.offlineSearch, a.helpContents, a.about})
        toolBar->addAction(action);
    for (QAction* action : {a.listStyle, a.transferMode}) {
        if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action)))
            button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    actions.toggleToolBar->setCheckable(true);
    actions.toggleToolBar->setChecked(true);
    connect(actions.toggleToolBar, &QAction::toggled, toolBar, &QToolBar::setVisible);
}

void MainWindow::CreateQuickConnectBar() {
    quickConnectBar = new QToolBar(tr("Quick Connect Bar"), this);
    quickConnectBar->setObjectName(QStringLiteral("quickConnectBar"));
    addToolBarBreak();
    addToolBar(Qt::TopToolBarArea, quickConnectBar);
    auto* row = new QWidget(quickConnectBar);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 2, 4, 2);
    auto addLabelled = [&](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, row);
        label->setBuddy(field);
        layout->addWidget(label);
        layout->addWidget(field);
    };
    urlBox = new QComboBox(row);
    urlBox->setEditable(true);
    urlBox->setInsertPolicy(QComboBox::NoInsert);
    urlBox->setMinimumWidth(220);
    urlBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    urlBox->lineEdit()->setAccessibleName(tr("URL"));  // the box's own edit and list
    urlBox->view()->setAccessibleName(tr("Recent URLs"));
    userEdit = new QLineEdit(row);
    passwordEdit = new QLineEdit(row);
    passwordEdit->setEchoMode(QLineEdit::Password);
    portEdit = new QLineEdit(row);
    portEdit->setMaximumWidth(60);
    auto* connectButton = new QPushButton(tr("Connect"), row);
    anonymousBox = new QCheckBox(tr("Anonymous"), row);
    addLabelled(tr("URL:"), urlBox);
    addLabelled(tr("User:"), userEdit);
    addLabelled(tr("Password:"), passwordEdit);
    addLabelled(tr("Port:"), portEdit);
    layout->addWidget(connectButton);
    layout->addWidget(anonymousBox);
    quickConnectBar->addWidget(row);

    for (const SiteSetting& site : sites) {
        if (urlBox->findText(Utf8(site.address), Qt::MatchExactly) < 0)
            urlBox->addItem(Utf8(site.address));
    }
    urlHistory = LoadHistory(programHome + std::string(kUrlHistoryFileName));
    for (const std::string& entry : urlHistory) {
        if (urlBox->findText(Utf8(entry), Qt::MatchExactly) < 0) urlBox->addItem(Utf8(entry));
    }
    urlBox->setEditText(Utf8(settings.lastAddress));
    portEdit->setText(QString::number(settings.lastPort));
    const bool anonymous =
        Utf8(settings.lastUser).compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0 &&
        settings.lastPassword == settings.anonymousPass;
    anonymousBox->setChecked(anonymous);
    if (!anonymous) {
        userEdit->setText(Utf8(settings.lastUser));
        passwordEdit->setText(Utf8(settings.lastPassword));
    }
    auto uncheck = [this] { anonymousBox->setChecked(false); };
    connect(userEdit, &QLineEdit::textEdited, this, uncheck);
    connect(passwordEdit, &QLineEdit::textEdited, this, uncheck);
    connect(connectButton, &QPushButton::clicked, this, &MainWindow::QuickConnect);
    // The combo box hands a Return its line edit did not take back to it, which reports it a
    // second time: one connect per key press.
    connect(urlBox->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (quickConnectQueued) return;
        quickConnectQueued = true;
        QTimer::singleShot(0, this, [this] {
            quickConnectQueued = false;
            QuickConnect();
        });
    });

    actions.toggleQuickConnect->setCheckable(true);
    actions.toggleQuickConnect->setChecked(true);
    connect(actions.toggleQuickConnect, &QAction::toggled, quickConnectBar, &QToolBar::setVisible);
}

void MainWindow::CreateStatusBar() {
    auto field = [this](int width, const QString& name) {
        auto* label = new QLabel(this);
        label->setMinimumWidth(width);
        label->setAccessibleName(name);
        label->setToolTip(name);
        statusBar()->addPermanentWidget(label);
        return label;
    };
    addressField = field(80, tr("Address"));
    fileNameField = field(80, tr("File Name"));
    percentField = field(150, tr("Percent"));
    speedField = field(70, tr("Speed"));
    tlsField = new QLabel(tr("TLS"), this);
    tlsField->setAccessibleName(tr("Encryption"));
    tlsField->hide();
    statusBar()->addPermanentWidget(tlsField);
    actions.toggleStatusBar->setCheckable(true);
    actions.toggleStatusBar->setChecked(true);
    connect(actions.toggleStatusBar, &QAction::toggled, statusBar(), &QStatusBar::setVisible);
}

void MainWindow::CreatePanes() {
    topSplitter = new QSplitter(Qt::Vertical, this);
    logPane = new LogPane(topSplitter);
    siteSplitter = new QSplitter(Qt::Horizontal, topSplitter);
    const std::string pathHistory = programHome + std::string(kPathHistoryFileName);
    leftSites = new SiteView(pathHistory, siteSplitter);
    rightSites = new SiteView(pathHistory, siteSplitter);
    sessionSites = rightSites;
    siteSplitter->addWidget(leftSites);
    siteSplitter->addWidget(rightSites);
    leftSites->OpenLocalPath(QString::fromStdString(settings.defaultLocalDirectory));
    for (SiteView* view : {leftSites, rightSites}) ConnectSiteView(view);
    // F6 and Shift+F6: the focus goes to the visible pane of the other site view.
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6)}) {
        auto* action = new QAction(tr("Next Pane"), this);
        action->setShortcut(key);
        action->setToolTip(tr("Move the focus to the other file pane"));
        addAction(action);
        connect(action, &QAction::triggered, this, [this] {
            SiteView* target =
                leftSites->isAncestorOf(QApplication::focusWidget()) ? rightSites : leftSites;
            if (FilePaneView* pane = target->CurrentPane()) pane->setFocus();
        });
    }
    ConnectPanesToBridge();
    bottomSplitter = new QSplitter(Qt::Horizontal, topSplitter);
    CreateSessionList();
    queueView = new QueueView(sessions, bridge, bottomSplitter);
    bottomSplitter->addWidget(queueView);
    connect(queueView, &QueueView::paneDropped, this, [this](FilePaneView* source) {
        SiteView* peerView = leftSites->isAncestorOf(source) ? rightSites : leftSites;
        if (FilePaneView* target = peerView->CurrentPane())
            TransferBetweenPanes(source, target, source->SelectedSources(), {}, true);
    });
    connect(queueView, &QueueView::queueCleared, this, [this](SessionId id) {
        // A session that exists only for its imported queue goes with it.
        auto session = sessions.FindById(id);
        if (!session || RemotePaneOf(id) != nullptr) return;
        sessions.Remove(*session);
        ForgetClosedSessions();
        UpdateActions();
    });
    for (QSplitter* splitter : {topSplitter, siteSplitter, bottomSplitter})
        splitter->setChildrenCollapsible(false);
    setCentralWidget(topSplitter);
    panesCreated = true;
}

void MainWindow::ConnectSiteView(SiteView* view) {
    SiteView* peer = view == leftSites ? rightSites : leftSites;
    connect(view, &SiteView::connectUrlRequested, this, [this, view](const QString& url) {
        sessionSites = view;  // the session's tab replaces the tab the URL was typed in
        ConnectUrl(url);
        sessionSites = rightSites;
    });
    connect(view, &SiteView::closeSessionRequested, this, &MainWindow::CloseSessionTab);
    connect(view, &SiteView::moveToPeerRequested, this, [view, peer](FilePaneView* pane) {
        view->TakePane(pane);
        peer->AddPane(pane);
    });
    connect(view, &SiteView::transferRequested, this, &MainWindow::TransferFromPane);
    connect(view, &SiteView::pasteUrlRequested, this, [this](FilePaneView* target) {
        PasteUrl(this, target->Directory().toStdString(), SessionProvider());
    });
    connect(view, &SiteView::paneDropped, this,
            [this](FilePaneView* source, FilePaneView* target, const QString& dropDirectory,
                   bool queueOnly) {
                TransferBetweenPanes(source, target, source->SelectedSources(), dropDirectory,
                                     queueOnly);
            });
    connect(view, &SiteView::filesDropped, this,
            [this](FilePaneView* target, const std::vector<TransferSource>& files,
                   const QString& dropDirectory, bool queueOnly) {
                TransferBetweenPanes(nullptr, target, files, dropDirectory, queueOnly);
            });
    connect(view, &SiteView::openRequested, this, [this](const QString& path, bool viewer) {
        OpenDownloadedFile(path, viewer ? Utf8(settings.viewerPath) : QString());
    });
    connect(view, &SiteView::localDirectoryShown, this, [this](const QString& directory) {
        if (settings.saveLocalDir) settings.defaultLocalDirectory = directory.toStdString();
    });
    connect(view, &SiteView::currentPaneChanged, this, [this](FilePaneView* pane) {
        titlePane = pane;
        UpdateTitle();
        if (!pane->IsRemote()) return;
        if (auto session = sessions.FindById(pane->Session())) {
            sessions.SetActive(session.get());
            UpdateActions();
        }
    });
}

FilePaneView* MainWindow::RemotePaneOf(SessionId id) const {
    for (SiteView* view : {leftSites, rightSites})
        if (FilePaneView* pane = view->PaneOf(id)) return pane;
    return nullptr;
}

void MainWindow::ConnectPanesToBridge() {
    connect(&bridge, &SessionBridge::listing, this,
            [this](SessionId id, bool done, const ListingInfo& listing) {
                FilePaneView* pane = RemotePaneOf(id);
                if (pane == nullptr || !done || !listing.entries) return;
                pane->ShowListing(QString::fromStdString(listing.directory), *listing.entries);
            });
    connect(&bridge, &SessionBridge::directoryChanged, this,
            [this](SessionId id, const QString& directory) {
                if (FilePaneView* pane = RemotePaneOf(id)) pane->SetRemoteDirectory(directory);
            });
    connect(&bridge, &SessionBridge::refresh, this, [this](SessionId id) {
        if (FilePaneView* pane = RemotePaneOf(id)) pane->Refresh();
    });
    connect(actions.refresh, &QAction::triggered, this, [this] {
        for (SiteView* view : {leftSites, rightSites})
            if (view->isAncestorOf(QApplication::focusWidget())) view->Refresh();
    });
    const std::pair<QAction*, PaneViewMode> modes[] = {
        {actions.largeIcons, PaneViewMode::kLargeIcons},
        {actions.smallIcons, PaneViewMode::kSmallIcons},
        {actions.list, PaneViewMode::kList},
        {actions.details, PaneViewMode::kDetails}};
    for (const auto& [action, mode] : modes)
        connect(action, &QAction::triggered, this, [this, mode = mode] {
            for (SiteView* view : {leftSites, rightSites})
                if (FilePaneView* pane = view->CurrentPane()) pane->SetViewMode(mode);
        });
}

// Download / Upload between the visible panes of the two site views.
void MainWindow::TransferFromPane(FilePaneView* source) {
    SiteView* peerView = leftSites->isAncestorOf(source) ? rightSites : leftSites;
    if (FilePaneView* target = peerView->CurrentPane())
        TransferBetweenPanes(source, target, source->SelectedSources(), {});
}

// Queues the files of a local pane for the session of a remote pane or the other way round
// (dropDirectory: the directory item a drop landed on), after the Confirm Transfer prompt.
// Between two local panes the files are copied at once.
void MainWindow::TransferBetweenPanes(FilePaneView* source, FilePaneView* target,
                                      const std::vector<TransferSource>& files,
                                      const QString& dropDirectory, bool queueOnly) {
    const bool download = source != nullptr && source->IsRemote();
    if (files.empty()) return;
    if (source != nullptr && !source->IsRemote() && !target->IsRemote()) {
        target->CopyInto(files, dropDirectory);
        return;
    }
    if (source != nullptr && source->IsRemote() == target->IsRemote()) return;
    FilePaneView* remote = download ? source : target;
    if (!remote->IsRemote()) return;
    auto session = sessions.FindById(remote->Session());
    if (!session) return;
    if (!queueOnly && settings.pTransfer) {
        ConfirmDialog confirm(ConfirmDialog::Kind::kTransfer, this);
        if (confirm.exec() != QDialog::Accepted) return;
        queueOnly = confirm.QueueOnly();
    }
    session->queue.AppendAll(MakeTransferItems(download, files, target->Directory().toStdString(),
                                               dropDirectory.toStdString()));
    if (!queueOnly) session->StartQueue();
    UpdateActions();
}

void MainWindow::CreateSessionList() {
    sessionList = new SessionListView(sessions, bottomSplitter);
    bottomSplitter->addWidget(sessionList);
    connect(sessionList, &SessionListView::sessionActivated, this, [this](SessionId id) {
        if (auto session = sessions.FindById(id)) sessions.SetActive(session.get());
        if (FilePaneView* pane = RemotePaneOf(id))
            for (SiteView* view : {leftSites, rightSites}) view->ShowPane(pane);
        UpdateActions();
    });
    connect(sessionList, &SessionListView::saveRequested, this, &MainWindow::SaveQueues);
    connect(sessionList, &SessionListView::importRequested, this, &MainWindow::ImportQueue);
    connect(sessionList, &SessionListView::queueStartFailed, this, [this] {
        QMessageBox::critical(this, tr("Tarnwick"), tr("Unable to create thread!"));
    });
    // Delete: the session's tab goes with it.
    sessionList->SetCloser([this](SessionId id) {
        auto session = sessions.FindById(id);
        if (!session) return;
        if (FilePaneView* pane = RemotePaneOf(id))
            for (SiteView* view : {leftSites, rightSites})
                if (view->isAncestorOf(pane)) view->ClosePane(pane);
        sessions.Remove(*session);
        session->queue.Clear();
        session->CloseSession();
        ForgetClosedSessions();
        UpdateTitle();
        UpdateActions();
    });
}

void MainWindow::CloseSessionTab(SessionId id) {
    auto session = sessions.FindById(id);
    FilePaneView* pane = RemotePaneOf(id);
    const QString host = pane != nullptr ? pane->Host() : QString();
    if (session && session->Progress().transferring &&
        QMessageBox::question(this, host,
                              tr("Are you sure to abort file transfer on site %1?").arg(host),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    if (session && !session->queue.Empty()) {
        const auto answer =
            QMessageBox::question(this, host, tr("Do you want to preserve the queued files?"),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) return;
        if (answer == QMessageBox::No) session->queue.Clear();
    }
    for (SiteView* view : {leftSites, rightSites})
        if (pane != nullptr && view->isAncestorOf(pane)) view->ClosePane(pane);
    if (session && session->queue.Empty()) {
        sessions.Remove(*session);
        ForgetClosedSessions();
    }
    UpdateTitle();
    UpdateActions();
}

void MainWindow::RestorePlacement() {
    if (settings.wpWidth != 0 && settings.wpHeight != 0) {
        setGeometry(settings.wpLeft, settings.wpTop, settings.wpWidth, settings.wpHeight);
    } else {
        resize(900, 650);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (panesCreated) LayOutPanes();
}

void MainWindow::LayOutPanes() {
    const int width = topSplitter->width();
    const int height = topSplitter->height();
    auto atLeast = [](int size) { return std::max(size, kMinPane); };
    topSplitter->setSizes(
        {atLeast(2 * height / 11), atLeast(6 * height / 11), atLeast(3 * height / 11)});
    siteSplitter->setSizes({atLeast(width / 2), atLeast(width / 2)});
    bottomSplitter->setSizes({kSiteListWidth, atLeast(width - kSiteListWidth)});
}

void MainWindow::ConnectBridge() {
    connect(&bridge, &SessionBridge::logLine, this, [this](SessionId id, const LogRecord& record) {
        if (LogView* view = logPane->View(id)) view->AddRecord(record);
        tlsStatus.AddLogRecord(id, record);
    });
    connect(&bridge, &SessionBridge::connectionStateChanged, &tlsStatus,
            &TlsStatus::ConnectionChanged);
    connect(&tlsStatus, &TlsStatus::changed, this, &MainWindow::ShowProtection);
    connect(&bridge, &SessionBridge::notice, this,
            [this](SessionId, const QString& host, const QString& text) {
                notice->ShowNotice(text, host);
            });
    connect(&bridge, &SessionBridge::loginMessage, this, &MainWindow::ShowLoginMessage);
    connect(&bridge, &SessionBridge::question, this, &MainWindow::ShowQuestion);
    connect(&bridge, &SessionBridge::showSession, this, [this](SessionId id) {
        if (auto session = FindSession(id)) sessions.SetActive(session.get());
        logPane->ShowSession(id);
    });
    connect(&bridge, &SessionBridge::transferStarted, this,
            [this](SessionId id, const TransferInfo&) { speeds[id].Reset(); });
    connect(&bridge, &SessionBridge::openFile, this,
            [this](SessionId, const QString& path, const QString& viewer) {
                OpenDownloadedFile(path, viewer);
            });
    connect(&bridge, &SessionBridge::connectionStateChanged, this, &MainWindow::UpdateActions);
    connect(&bridge, &SessionBridge::commandFinished, this, &MainWindow::UpdateActions);
    connect(&bridge, &SessionBridge::queueFinished, this, &MainWindow::UpdateActions);
    connect(&bridge, &SessionBridge::queueItemStarted, runNotifier, &RunNotifier::ItemStarted);
    connect(&bridge, &SessionBridge::queueFinished, this, [this](SessionId id) {
        if (auto session = sessions.FindById(id))
            runNotifier->RunFinished(id, Utf8(session->HostAddress()), session->QueueRunPending(),
                                     isActiveWindow());
        // What the run brought down shows in the local panes the user is looking at.
        for (SiteView* view : {leftSites, rightSites})
            if (FilePaneView* pane = view->CurrentPane(); pane != nullptr && !pane->IsRemote())
                pane->Refresh();
    });
}

// ---- sessions ----

AppSettingsSnapshot MainWindow::Snapshot() const {
    return std::make_shared<const AppSettings>(settings);
}

void MainWindow::PublishSettings() {
    const AppSettingsSnapshot snapshot = Snapshot();
    for (const auto& session : sessions.Sessions()) session->SetSettings(snapshot);
}

std::shared_ptr<CFtpSession> MainWindow::FindSession(SessionId id) const {
    for (const auto& session : sessions.Sessions()) {
        if (session->Id() == id) return session;
    }
    return nullptr;
}

void MainWindow::AdoptSession(const std::shared_ptr<CFtpSession>& session) {
    adopted.insert(session->Id());
    bridge.Track(session->Id());
    logPane->AddSession(session->Id());
}

// Queues the downloads of ftp:// URLs (the offline search's results) into a directory the
// user picks, each on its host's open session or a new one, and starts those queues.
void MainWindow::DownloadUrls(const QStringList& urls, QWidget* parent) {
    const FilePaneView* local = nullptr;
    for (SiteView* view : {leftSites, rightSites})
        if (FilePaneView* pane = view->CurrentPane(); pane != nullptr && !pane->IsRemote())
            local = pane;
    const QString directory = QFileDialog::getExistingDirectory(
        parent, tr("Download to"),
        local != nullptr ? local->Directory() : Utf8(settings.defaultLocalDirectory));
    if (directory.isEmpty()) return;
    const SessionForHost sessionFor = SessionProvider();
    std::vector<std::shared_ptr<CFtpSession>> touched;
    for (const QString& text : urls) {
        const std::optional<UrlParts> url = ParseFtpUrlText(text.toStdString(), false);
        if (!url) continue;
        std::shared_ptr<CFtpSession> session = sessionFor(*url, false);
        if (!session) continue;
        QueueUrlDownload(*session, url->path, directory.toStdString(), false);
        if (std::find(touched.begin(), touched.end(), session) == touched.end())
            touched.push_back(session);
    }
    for (const auto& session : touched) StartQueueWhenFree(session->Id());
}

// Starts the session's queue now, or, while it is busy (a session just opened is still
// logging in and listing), as soon as the command under way has finished.
void MainWindow::StartQueueWhenFree(SessionId id) {
    auto session = sessions.FindById(id);
    if (!session || session->queue.Empty()) return;
    if (session->CanStartQueue()) {
        session->StartQueue();
        return;
    }
    auto* waiting = new QObject(this);
    connect(&bridge, &SessionBridge::commandFinished, waiting, [this, id, waiting](SessionId done) {
        if (done != id) return;
        waiting->deleteLater();
        StartQueueWhenFree(id);
    });
}

SessionForHost MainWindow::SessionProvider() {
    return [this](const UrlParts& url, bool forceNew) -> std::shared_ptr<CFtpSession> {
        if (!forceNew) {
            auto open = sessions.FindSessionByHost(url.server);
            if (open && SessionMayServe(open->tlsMode, url)) return open;
        }
        return OpenSession(SiteForUrl(sites, url, settings.anonymousPass));
    };
}

std::shared_ptr<CFtpSession> MainWindow::OpenSession(const SiteSetting& site) {
    auto session = std::make_shared<CFtpSession>(site, Snapshot(), bridge);
    AdoptSession(session);
    sessions.Add(session, true);
    sessions.SetActive(session.get());
    const ConnectionValues last = session->LastConnectionValues();  // before the worker runs
    if (!session->StartWorker()) {
        QMessageBox::critical(this, tr("Tarnwick"), tr("Unable to create thread!"));
        return session;
    }
    settings.lastAddress = last.address;
    settings.lastPort = last.port;
    settings.lastUser = last.user;
    settings.lastPassword = last.password;
    auto* pane = new FilePaneView(session->Id(), QString::fromStdString(site.address),
                                  QString::fromStdString(site.defremotedir),
                                  [this](SessionId id, const SessionCommand& command) {
                                      if (auto target = sessions.FindById(id))
                                          target->PostCommand(command);
                                  });
    pane->SetConfirmDelete(settings.pDelete);
    pane->SetCacheLoader([this, id = session->Id(), host = site.address](
                             const std::string& directory, FileEntryList& entries) {
        if (settings.alwaysRefresh || !settings.enableCache ||
            LoadCachedListing(settings.cacheHomeDirectory, host, directory, entries) != 0)
            return false;
        if (LogView* view = logPane->View(id))
            view->AddRecord(
                {tr("Load file list from cache.").toStdString(), LOG_STATE, true, true});
        return true;
    });
    connect(pane, &FilePaneView::deleteRequested, this,
            [this, id = session->Id()](const std::vector<TransferSource>& entries, bool queueOnly) {
                auto target = sessions.FindById(id);
                if (!target) return;
                for (const TransferSource& entry : entries)
                    target->queue.Append(MakeQueueItem(
                        QueueOperation::kDelete, {}, entry.path, entry.size,
                        entry.isDirectory ? QueueItemKind::kDirectory : QueueItemKind::kFile));
                if (!queueOnly) target->StartQueue();
                UpdateActions();
            });
    pane->SetBusyProbe([this, id = session->Id()] {
        auto target = sessions.FindById(id);
        return target && target->IsBusy();
    });
    connect(pane, &FilePaneView::queueRequested, this,
            [this, id = session->Id()](const std::vector<std::shared_ptr<QueueItem>>& items,
                                       bool queueOnly) {
                auto target = sessions.FindById(id);
                if (!target) return;
                target->queue.AppendAll(items);
                if (!queueOnly) target->StartQueue();
                UpdateActions();
            });
    // The popup's Disconnect and Reconnect act on the pane's own session.
    auto activate = [this, id = session->Id()] {
        if (auto target = sessions.FindById(id)) sessions.SetActive(target.get());
    };
    connect(pane, &FilePaneView::disconnectRequested, this, [this, activate] {
        activate();
        DisconnectActive();
    });
    connect(pane, &FilePaneView::reconnectRequested, this, [this, activate] {
        activate();
        Reconnect();
    });
    sessionSites->AddPane(pane);
    UpdateActions();
    return session;
}

void MainWindow::ForgetClosedSessions() {
    std::set<SessionId> gone = adopted;
    for (const auto& session : sessions.Sessions()) gone.erase(session->Id());
    for (SessionId id : gone) {
        adopted.erase(id);
        queueView->SessionClosed(id);
        bridge.Forget(id);
        logPane->RemoveSession(id);
        speeds.erase(id);
        tlsStatus.Forget(id);
        runNotifier->Forget(id);
        if (auto window = loginWindows[id]) window->deleteLater();
        loginWindows.erase(id);
    }
}

void MainWindow::ImportAutosavedQueue() {
    const QueueImportResult result =
        ImportAutosavedQueues(sessions, programHome, sites, Snapshot(), bridge);
    for (const auto& session : result.openedSessions) AdoptSession(session);
    sessionList->SyncSelection();
    if (result.lastSession) queueView->SetSession(result.lastSession->Id());
    if (result.result != 0) statusBar()->showMessage(Utf8(result.error));
}

bool MainWindow::ConnectUrlWithLogin(const QString& text, const QString& user,
                                     const QString& password, int port) {
    UrlParts parts;
    std::string error;
    if (!ParseUrl(AsFtpUrl(text.toStdString()), parts, error)) {
        QMessageBox::warning(this, tr("Tarnwick"), tr("Invalid URL:") + text + "\n" + Utf8(error));
        return false;
    }
    SiteSetting site = SiteForHost(sites, parts.server, settings.anonymousPass);
    site.address = parts.server;
    site.defremotedir = parts.path;
    site.deflocaldir.clear();
    site.logintype = kLoginNormal;
    site.username = user.toStdString();
    site.password = password.toStdString();
    if (parts.tls != kTlsNone) site.tls = parts.tls;  // else the listed site's own
    site.port = PortForTlsMode(port, kTlsNone, site.tls);
    site.passive = 0;
    OpenSession(site);
    return true;
}

bool MainWindow::ConnectUrl(const QString& text) {
    UrlParts parts;
    if (!ParseUrl(AsFtpUrl(text.toStdString()), parts)) return ConnectUrlWithLogin(text, {}, {}, 0);
    const bool anonymous = parts.user.empty();
    return ConnectUrlWithLogin(
        text, anonymous ? QStringLiteral("anonymous") : QString::fromStdString(parts.user),
        QString::fromStdString(anonymous ? settings.anonymousPass : parts.password), parts.port);
}

void MainWindow::ShowShellTransfer(const QStringList& paths) {
    shellTransfer->ShowFiles(paths);
}

// ---- commands ----

void MainWindow::QuickConnect() {
    const QString text = urlBox->currentText().trimmed();
    if (AddHistoryEntry(programHome + std::string(kUrlHistoryFileName), urlHistory,
                        text.toStdString()) != HistoryAddResult::kNotAdded &&
        urlBox->findText(text, Qt::MatchExactly) < 0) {
        urlBox->addItem(text);
    }
    if (UrlServiceType(text.toStdString()) == kServiceFile) {
        statusBar()->showMessage(text, 3000);  // the local pane shows it once it exists
        return;
    }
    QString user = userEdit->text();
    QString password = passwordEdit->text();
    if (anonymousBox->isChecked() || user.isEmpty()) {
        user = QStringLiteral("anonymous");
        password = Utf8(settings.anonymousPass);
    }
    const QString portText = portEdit->text().trimmed();
    int port = portText.isEmpty() ? 21 : portText.toInt();
    // A port or a login the URL names itself wins over the bar's fields.
    UrlParts parts;
    if (ParseUrl(AsFtpUrl(text.toStdString()), parts)) {
        if (parts.port != 21) port = parts.port;
        if (!parts.user.empty()) {
            user = Utf8(parts.user);
            password = Utf8(parts.password);
        }
    }
    ConnectUrlWithLogin(text, user, password, port);
}

void MainWindow::Reconnect() {
    if (auto session = Active()) {
        SessionCommand command;
        command.code = CmdConnect;
        if (!session->HasWorker()) {
            session->StartWorker();
        } else {
            session->PostCommand(command);
        }
    }
}

void MainWindow::DisconnectActive() {
    auto session = Active();
    if (!session) return;
    if (settings.pDisconnect &&
        QMessageBox::question(this, Utf8(session->HostAddress()),
                              tr("Are you sure to close current session?"),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
        return;
    }
    session->Disconnect();
}

void MainWindow::StartTransfer() {
    if (auto session = Active(); session && session->CanStartQueue()) {
        if (!session->StartQueue())
            QMessageBox::critical(this, tr("Tarnwick"), tr("Unable to create thread!"));
    }
}

void MainWindow::StopActive() {
    if (auto session = Active()) session->Stop();
}

void MainWindow::SetTransferType(int type) {
    if (auto session = Active()) session->transferType = type;
}

void MainWindow::ToggleAlwaysOnline(bool on) {
    settings.alwaysRefresh = on;
    PublishSettings();
}

void MainWindow::RunOptionsSheet() {
    OptionsSheet sheet(settings, this);
    if (sheet.exec() != QDialog::Accepted) return;
    settings = sheet.Result();
    PublishSettings();
}

void MainWindow::SaveQueues(bool selectedOnly) {
    const QString path = QFileDialog::getSaveFileName(
        this, selectedOnly ? tr("Save Queues") : tr("Save All Queues"),
        Utf8(programHome + sessions.DefaultQueueFileName(selectedOnly)),
        tr("Queue files(*.que);;All files(*.*)"));
    if (path.isEmpty()) return;
    const QueueSaveResult result = sessions.SaveQueues(path.toStdString(), selectedOnly);
    if (result.write != AtomicWriteResult::kWritten)
        QMessageBox::warning(this, tr("Tarnwick"), tr("Can't write %1").arg(path));
}

void MainWindow::ImportQueue() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Import Queue"), Utf8(programHome),
                                                      tr("Queue files(*.que);;All files(*.*)"));
    if (path.isEmpty()) return;
    const QueueImportResult result = sessions.ImportQueues(
        path.toStdString(), sites, settings.anonymousPass, Snapshot(), bridge);
    for (const auto& session : result.openedSessions) AdoptSession(session);
    sessionList->SyncSelection();
    if (result.lastSession) queueView->SetSession(result.lastSession->Id());
    if (result.result != 0) QMessageBox::warning(this, tr("Tarnwick"), Utf8(result.error));
}

void MainWindow::ClearQueue() {
    queueView->ClearQueue();
}

void MainWindow::ResetQueue() {
    queueView->ResetQueue();
}

void MainWindow::ShowAbout() {
    QMessageBox::about(this, tr("About Tarnwick"),
                       tr("<b>Tarnwick</b> %1<br>A desktop FTP client.").arg(TARNWICK_VERSION));
}

// ---- the timer and the status bar ----

void MainWindow::TimerTick() {
    ++tickCount;
    if (tickCount % 2 == 0 && settings.keepAlive) {
        for (const auto& session : sessions.Sessions()) {
            if (session->HasWorker()) session->IdleTick();
        }
    }
    CloseAnsweredQuestions();
    UpdateStatusBar();
    UpdateTitle();
    UpdateActions();
    queueView->UpdateProgress();
}

// "Tarnwick - host" while the last selected tab is a session's and still open, else
// "Tarnwick"; the progress of running queues goes in front.
void MainWindow::UpdateTitle() {
    const FilePaneView* pane = titlePane;
    const bool session =
        pane != nullptr && pane->IsRemote() && RemotePaneOf(pane->Session()) == pane;
    const QString title = session ? tr("Tarnwick - %1").arg(pane->Host()) : tr("Tarnwick");
    setWindowTitle(RunNotifier::TitleWithPercent(runNotifier->OverallPercent(sessions), title));
}

void MainWindow::UpdateStatusBar() {
    QString address, file, percent, speed;
    if (auto session = Active()) {
        address = Utf8(session->HostAddress());
        const ProgressSnapshot progress = session->Progress();
        SpeedWindow& window = speeds[session->Id()];
        if (progress.transferring && progress.siteToSite) {
            file = Utf8(progress.currentFile);
            percent = speed = tr("Unknown");
        } else if (progress.transferring && progress.fileSize >= 0) {
            const double kbs = window.Update(progress.bytesDone);
            if (kbs >= 0) {
                file = Utf8(progress.currentFile);
                speed = Utf8(gui::SpeedText(kbs));
                percent = Utf8(
                    gui::PercentText(progress.bytesDone, static_cast<uint64_t>(progress.fileSize)));
            }
        } else if (!progress.transferring) {
            window.Reset();
        }
    }
    addressField->setText(address);
    fileNameField->setText(file);
    percentField->setText(percent);
    speedField->setText(speed);
}

QString MainWindow::TlsText() const {
    return tlsField->isVisibleTo(this) ? tlsField->toolTip() : QString();
}

QString MainWindow::AddressText() const {
    return addressField->text();
}
QString MainWindow::FileNameText() const {
    return fileNameField->text();
}
QString MainWindow::PercentText() const {
    return percentField->text();
}
QString MainWindow::SpeedText() const {
    return speedField->text();
}

void MainWindow::UpdateActions() {
    Actions& a = actions;
    const auto session = Active();
    const bool any = session != nullptr;
    const bool busy = any && session->IsBusy();
    const QString tls = any ? tlsStatus.Description(session->Id()) : QString();
    tlsField->setToolTip(tls);
    tlsField->setVisible(!tls.isEmpty());
    // The queue view follows the active session whenever that changes.
    if (const SessionId activeId = any ? session->Id() : 0; activeId != queueFollows) {
        queueFollows = activeId;
        queueView->SetSession(activeId);
    }
    const bool hasItems = queueView->HasItems();
    a.reconnect->setEnabled(any && !busy);
    a.disconnect->setEnabled(any && session->connected);
    a.startTransfer->setEnabled(any && session->CanStartQueue());
    a.stop->setEnabled(busy);
    // The file panes carry these out; until they exist there is no focused pane.
    for (QAction* action :
         {a.refresh, a.listStyle, a.largeIcons, a.smallIcons, a.list, a.details, a.siteManager})
        action->setEnabled(false);
    for (QAction* action : {a.ascii, a.binary, a.autoMode, a.transferMode}) action->setEnabled(any);
    if (any) {
        QAction* modes[] = {a.ascii, a.binary, a.autoMode};
        const int type = session->transferType;
        if (type >= 0 && type < 3) modes[type]->setChecked(true);
    }
    a.saveAllQueues->setEnabled(!sessions.Empty());
    a.clearQueue->setEnabled(hasItems);
    a.resetQueue->setEnabled(hasItems);
    a.alwaysOnline->setChecked(settings.alwaysRefresh);
}

// ---- what the sessions report ----

void MainWindow::ShowQuestion(SessionId, const QString& host,
                              const std::shared_ptr<Question>& question) {
    QDialog* dialog = nullptr;
    if (question->kind == Question::Kind::kOverwrite) {
        auto* overwrite = new OverwriteDialog(question->overwrite, settings.autoClosePrompt,
                                              settings.promptSeconds, this);
        connect(overwrite, &OverwriteDialog::answered, this, [question](int action, bool all) {
            question->Answer(OverwriteAnswer{action, all});
        });
        dialog = overwrite;
    } else if (question->kind == Question::Kind::kCertificate) {
        auto* certificate = new CertificateDialog(question->certificate, this);
        connect(certificate, &CertificateDialog::answered, this,
                [question](int answer) { question->Answer(answer); });
        dialog = certificate;
    } else {
        auto* box = new QMessageBox(
            (question->style & kAskQuestion) ? QMessageBox::Question : QMessageBox::Information,
            host, Utf8(question->text), AskButtons(question->style), this);
        connect(box, &QMessageBox::finished, this, [question, box] {
            if (box->clickedButton() == nullptr) {
                question->Cancel();  // closed without a button: the safe default
            } else {
                question->Answer(AskAnswerOf(box->standardButton(box->clickedButton())));
            }
        });
        dialog = box;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    pendingQuestions.push_back({dialog, question});
}

void MainWindow::CloseAnsweredQuestions() {
    std::erase_if(pendingQuestions, [](const PendingQuestion& pending) {
        if (pending.dialog.isNull()) return true;
        if (!pending.question->Answered()) return false;
        pending.dialog->close();  // cancelled meanwhile (Stop, Close, the end of the worker)
        return true;
    });
}

// The tab of a protected session shows a lock; the status bar's "TLS" field follows the
// active session.
void MainWindow::ShowProtection(SessionId id) {
    const bool secure = !tlsStatus.Description(id).isEmpty();
    if (FilePaneView* pane = RemotePaneOf(id))
        pane->setWindowIcon(secure ? ActionIcon("security-high") : QIcon());
    UpdateActions();
}

void MainWindow::ShowLoginMessage(SessionId id, const QString& host, const QString& text) {
    QPointer<LoginMessageWindow>& window = loginWindows[id];
    if (window.isNull()) window = new LoginMessageWindow(this);
    window->ShowMessage(host, text);
}

void MainWindow::OpenDownloadedFile(const QString& path, const QString& viewer) {
    if (viewer.isEmpty() || viewer == QLatin1String(kDefaultViewerPath.data())) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    } else {
        QProcess::startDetached(viewer, {path});
    }
}

// ---- closing ----

void MainWindow::closeEvent(QCloseEvent* event) {
    timer->stop();
    AutosaveQueues(sessions, settings, programHome);
    const bool closed =
        sessions.CloseAllSessions([this](CFtpSession& session, const std::string& text) {
            return QMessageBox::question(this, Utf8(session.HostAddress()), Utf8(text),
                                         QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
        });
    ForgetClosedSessions();
    if (!closed) {
        event->ignore();
        timer->start(kTimerMs);
        return;
    }
    for (const PendingQuestion& pending : pendingQuestions) {
        pending.question->Cancel();  // a worker still waiting gets the safe default
        if (!pending.dialog.isNull()) pending.dialog->close();
    }
    pendingQuestions.clear();
    const QRect normal = normalGeometry();
    settings.wpLeft = normal.x();
    settings.wpTop = normal.y();
    settings.wpWidth = normal.width();
    settings.wpHeight = normal.height();
    settings.wpMaximized = isMaximized();
    if (store != nullptr) SaveSettings(*store, settings);
    event->accept();
}

}  // namespace tarnwick::gui
