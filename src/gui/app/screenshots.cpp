// tarnwick-screenshots DIR: renders the main window, the options sheet's pages, the log and
// every prompt to PNG files in DIR (run with QT_QPA_PLATFORM=offscreen; scripts/screenshots).
// With a second argument, an ftp:// URL on the loopback address, the main window is also
// rendered once a session to that server has logged in (or after ten seconds).
// A look at the screens, not a test.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTableView>
#include <cstdio>

#include "app/main_window.h"
#include "app/open_sessions.h"
#include "listing/directory_cache.h"
#include "listing/url.h"
#include "log/log_view.h"
#include "log/login_message_window.h"
#include "options/options_sheet.h"
#include "panes/file_pane_view.h"
#include "panes/site_view.h"
#include "panes/tree_cache_dialog.h"
#include "prompts/confirm_dialog.h"
#include "prompts/notice_window.h"
#include "prompts/overwrite_dialog.h"
#include "queue/queue_file.h"
#include "queue/queue_view.h"
#include "queue/session_list.h"
#include "res/icons.h"
#include "search/offline_search_dialog.h"
#include "sites/certificate_dialog.h"
#include "sites/paste_url_dialog.h"
#include "sites/shell_transfer_dialog.h"
#include "sites/site_file.h"
#include "sites/site_manager_dialog.h"

namespace {

using namespace tarnwick;
using namespace tarnwick::gui;

QString outputDir;

void Save(QWidget& widget, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString path = outputDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget.grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
    widget.hide();
}

// The popups of a local and a remote pane, right-clicked on their first item, and the tree
// caching dialog.
void SavePanePopups() {
    FilePaneView local;
    local.resize(500, 200);
    local.FillLocal(QDir::tempPath(), QStringLiteral("*"));
    FilePaneView remote(1, QStringLiteral("ftp.example.org"), QStringLiteral("/pub"), {});
    remote.resize(500, 200);
    FileEntry directory;
    directory.name = "releases";
    directory.isDirectory = true;
    FileEntry file;
    file.name = "notes.txt";
    file.SetSize(1234);
    remote.ShowListing(QStringLiteral("/pub"), {directory, file});
    for (auto [pane, name] :
         {std::pair{&local, "local_popup"}, std::pair{&remote, "remote_popup"}}) {
        pane->show();
        QApplication::processEvents();
        pane->SelectAll();
        QMenu menu;
        pane->FillPopup(menu, QPoint(10, 5));
        Save(menu, QString::fromLatin1(name));
        pane->hide();
    }
    TreeCacheDialog cache(QStringLiteral("/pub/releases"));
    Save(cache, QStringLiteral("tree_cache"));
}

// `dark`: the log inside a window of a dark palette (the log keeps its own light base).
void SaveLog(bool dark) {
    QWidget frame;
    if (dark) {
        QPalette colours(QColor(45, 45, 48));
        colours.setColor(QPalette::Window, QColor(45, 45, 48));
        colours.setColor(QPalette::WindowText, QColor(220, 220, 220));
        colours.setColor(QPalette::Base, QColor(30, 30, 30));
        colours.setColor(QPalette::Text, QColor(220, 220, 220));
        frame.setPalette(colours);
    }
    LogView log(&frame);
    log.resize(700, 180);
    const LogRecord records[] = {
        {"Connecting to 127.0.0.1 (port 2121)", LOG_STATE, true, true},
        {"220 pyftpdlib ready.", LOG_REPLY, true, true},
        {"USER anonymous", LOG_COMMAND, true, true},
        {"331 Username ok, send password.", LOG_REPLY, true, true},
        {"Data connection address differs from the server's; using the server's.", LOG_WARNING,
         true, true},
        {"Failed to receive notes.txt", LOG_ERROR, true, true},
    };
    for (const LogRecord& record : records) log.AddRecord(record);
    log.Flush();
    frame.resize(log.size());
    Save(frame, dark ? QStringLiteral("log_dark") : QStringLiteral("log"));
}

// Opens a session for `url` and renders the window once the log shows the login (bounded).
void SaveConnected(MainWindow& window, const QString& url) {
    UrlParts parts;
    ParseUrl(url.toStdString(), parts);
    window.show();
    window.ConnectUrlWithLogin(url, QStringLiteral("anonymous"),
                               QString::fromStdString(window.Settings().anonymousPass), parts.port);
    QElapsedTimer clock;
    clock.start();
    bool loggedIn = false;
    QObject::connect(&window.Bridge(), &SessionBridge::commandFinished, &window,
                     [&](SessionId, RequestId, int code, int) { loggedIn |= code == CmdConnect; });
    while (!loggedIn && clock.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 100);
    window.TimerTick();
    Save(window, QStringLiteral("main_window_connected"));
}

// Both site views: a local tab and a remote tab with a sample listing, in Details and in
// Large Icons.
void SaveSiteViews() {
    const std::string history = QDir::tempPath().toStdString() + "/pathhis.txt";
    SiteView local(history);
    local.resize(480, 320);
    local.OpenLocalPath(QStringLiteral(TARNWICK_GUI_RES_DIR "/.."));
    SiteView remote(history);
    remote.resize(480, 320);
    auto* pane =
        new FilePaneView(1, QStringLiteral("ftp.example.org"), QStringLiteral("/pub"), nullptr);
    remote.AddPane(pane);
    pane->setWindowIcon(ActionIcon("security-high"));  // as for a protected session
    FileEntryList entries;
    ParseListingText(entries,
                     "drwxr-xr-x 2 ftp ftp 4096 Jan 10 2024 docs\n"
                     "drwxr-xr-x 2 ftp ftp 4096 Mar 02 2024 releases\n"
                     "-rw-r--r-- 1 ftp ftp 1234567 Feb 11 2024 tarnwick-0.1.tar.gz\n"
                     "-rw-r--r-- 1 ftp ftp 812 Feb 12 2024 README\n"
                     "-rw-r--r-- 1 ftp ftp 5000000000 Feb 13 2024 image.iso\n");
    pane->ShowListing(QStringLiteral("/pub"), entries);
    Save(local, QStringLiteral("site_view_local"));
    Save(remote, QStringLiteral("site_view_remote"));
    pane->SetViewMode(PaneViewMode::kLargeIcons);
    local.CurrentPane()->SetViewMode(PaneViewMode::kLargeIcons);
    Save(remote, QStringLiteral("site_view_remote_icons"));
    Save(local, QStringLiteral("site_view_local_icons"));
}

// The session list with two of three sessions selected and its popup open over them.
void SaveSessionList() {
    SessionObserver observer;
    OpenSessions sessions;
    SessionListView view(sessions);
    view.resize(200, 160);
    for (const char* host : {"ftp.example.org", "files.example.com", "mirror.example.net"}) {
        SiteSetting site;
        site.address = host;
        auto session = std::make_shared<CFtpSession>(site, nullptr, observer);
        if (sessions.Size() < 2)
            session->queue.Append(MakeQueueItem(QueueOperation::kDownload, "/tmp", "/pub/README",
                                                812, QueueItemKind::kFile));
        sessions.Add(session);
    }
    view.show();
    view.selectAll();
    view.selectionModel()->select(view.model()->index(2, 0), QItemSelectionModel::Deselect);
    QMenu* menu = view.PreparePopup(1);
    const QPoint at(70, 40);
    menu->popup(view.mapToGlobal(at));
    QApplication::processEvents();
    QPixmap canvas(std::max(view.width(), at.x() + menu->width()),
                   std::max(view.height(), at.y() + menu->height()));
    canvas.fill(view.palette().color(QPalette::Window));
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, view.grab());
    painter.drawPixmap(at, menu->grab());
    painter.end();
    menu->hide();
    const QString path = outputDir + QStringLiteral("/session_list_popup.png");
    if (!canvas.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
}

// A main window whose session has an imported queue of four items, the first transferring
// at 42%, beside the session list.
void SaveQueueTransferring() {
    QTemporaryDir home;
    MainWindowContext context;
    context.programHome = home.path().toStdString() + "/";
    QueueSection section{"ftp.example.org", {}};
    section.items = {
        MakeQueueItem(QueueOperation::kDownload, "/home/user/Downloads",
                      "/pub/releases/tarnwick-0.1.tar.gz", 1234567),
        MakeQueueItem(QueueOperation::kDownload, "/home/user/Downloads", "/pub/docs", kUnknownSize,
                      QueueItemKind::kDirectory),
        MakeQueueItem(QueueOperation::kDownload, "/home/user/Downloads", "/pub/image.iso",
                      5000000000),
        MakeQueueItem(QueueOperation::kUpload, "/home/user/report.pdf", "/incoming/report.pdf",
                      81234),
    };
    SaveQueues(AutosaveQueuePath(context.programHome), {section});
    MainWindow window(std::move(context));
    window.resize(1000, 700);
    window.show();
    window.ImportAutosavedQueue();
    QApplication::processEvents();
    const auto sessions = window.Sessions().Sessions();
    if (sessions.empty()) return;
    auto& queue = sessions.front()->queue;
    const auto items = queue.Snapshot();
    queue.SetItemState(*items.front(), QueueState::kTransferring);
    QApplication::processEvents();  // the change reaches the view
    window.Queue()->Model().SetProgress(items.front()->id, 42);
    Save(window, QStringLiteral("main_window_queue"));
    queue.Clear();
}

// The offline search over a small generated cache, after a search for "*.txt".
void SaveOfflineSearch() {
    QTemporaryDir home;
    const CacheConfig cache{home.path().toStdString()};
    auto line = [](const std::string& name, bool directory) {
        return std::string(directory ? "drwxr-xr-x" : "-rw-r--r--") +
               " 1 ftp ftp 4096 Jan  5 10:00 " + name + "\n";
    };
    for (const char* site : {"ftp.example.org", "files.example.com", "mirror.example.net"}) {
        UpdateDirectoryCache(cache, site, "/", line("pub", true) + line("README.txt", false));
        UpdateDirectoryCache(
            cache, site, "/pub",
            line("releases", true) + line("notes.txt", false) + line("logo.png", false));
        UpdateDirectoryCache(cache, site, "/pub/releases",
                             line("changes-2.1.txt", false) + line("tarnwick-2.1.tar.gz", false));
    }
    OfflineSearchDialog dialog(cache.home);
    auto button = [&dialog](const char* text) {
        for (auto* b : dialog.findChildren<QPushButton*>())
            if (b->text() == QLatin1String(text)) return b;
        return static_cast<QPushButton*>(nullptr);
    };
    auto* available = dialog.findChildren<QListWidget*>().value(0);
    available->item(1)->setSelected(true);
    available->item(2)->setSelected(true);
    button(">")->click();
    dialog.findChild<QLineEdit*>()->setText(QStringLiteral("*.txt"));
    QEventLoop loop;
    QObject::connect(&dialog, &OfflineSearchDialog::searchFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    button("Search")->click();
    loop.exec();
    auto* results = dialog.findChild<QTableView*>();
    results->setCurrentIndex(results->model()->index(1, 0));
    Save(dialog, QStringLiteral("offline_search"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outputDir);

    MainWindowContext context;
    context.programHome = QDir::tempPath().toStdString() + "/";
    context.settings = DefaultAppSettings(context.programHome, QDir::homePath().toStdString());
    context.settings.lastAddress = "ftp.example.org";
    MainWindow window(std::move(context));
    window.resize(1000, 700);
    Save(window, QStringLiteral("main_window"));
    if (argc > 2) SaveConnected(window, QString::fromLocal8Bit(argv[2]));

    OptionsSheet sheet(window.Settings());
    auto* tabs = sheet.findChild<QTabWidget*>();
    const char* pages[] = {"options_general", "options_transfer", "options_file_type",
                           "options_prompt", "options_overwrite"};
    for (int page = 0; page < 5; ++page) {
        tabs->setCurrentIndex(page);
        Save(sheet, QLatin1String(pages[page]));
    }

    OverwriteQuestion question;
    question.fileName = "/pub/releases/notes.txt";
    question.suggested = kOverwrite;
    question.autoAction = kSkip;
    OverwriteDialog overwrite(question, true, 10);
    overwrite.Tick();
    Save(overwrite, QStringLiteral("overwrite_confirmation"));
    ConfirmDialog transfer(ConfirmDialog::Kind::kTransfer);
    Save(transfer, QStringLiteral("confirm_transfer"));
    ConfirmDialog remove(ConfirmDialog::Kind::kDelete);
    Save(remove, QStringLiteral("confirm_delete"));
    NoticeWindow notice;
    notice.ShowNotice(QStringLiteral("Control connection closed by server."),
                      QStringLiteral("ftp.example.org"));
    Save(notice, QStringLiteral("notice"));
    LoginMessageWindow login;
    login.ShowMessage(QStringLiteral("ftp.example.org"),
                      QStringLiteral("220 Welcome to the example archive.\n230 Login successful."));
    Save(login, QStringLiteral("login_message"));
    ShellTransferDialog shell;
    shell.ShowFiles({QStringLiteral("/home/user/report.pdf"), QStringLiteral("/home/user/data")});
    Save(shell, QStringLiteral("shell_transfer"));
    SiteSetting archive = NewSiteSetting("guest@example.org");
    archive.name = "Example archive";
    archive.address = "ftp.example.org";
    archive.defremotedir = "/pub";
    archive.tls = kTlsExplicit;
    SiteSetting work = archive;
    work.name = "Work";
    work.address = "files.example.com";
    work.username = "jane";
    work.logintype = kLoginNormal;
    SiteManagerDialog siteManager({archive, work}, "/nonexistent/site.dat", "guest@example.org");
    Save(siteManager, QStringLiteral("site_manager"));
    CertificateQuestion certificate{"ftp.example.org",
                                    21,
                                    "CN=ftp.example.org, O=Example",
                                    "CN=ftp.example.org, O=Example",
                                    "2026-12-01 00:00:00 UTC",
                                    "2027-12-01 00:00:00 UTC",
                                    "3A:5F:00:1C:9B:7E:42:D1:88:0A:6C:F3:21:B4:5D:E9:70:13:AA:"
                                    "4F:C2:8D:36:91:0E:B7:5A:64:DF:28:83:1B",
                                    "self-signed certificate"};
    CertificateDialog certificateDialog(certificate);
    Save(certificateDialog, QStringLiteral("certificate"));
    PasteUrlDialog paste(QStringLiteral("ftp://ftp.example.org/pub/releases/notes.txt"));
    Save(paste, QStringLiteral("paste_url"));
    SaveLog(false);
    SaveLog(true);
    SaveSiteViews();
    SavePanePopups();
    SaveSessionList();
    SaveQueueTransferring();
    SaveOfflineSearch();
    return 0;
}
