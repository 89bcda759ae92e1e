// The file panes: the models' rows and sort rules, the local pane's moves on disk, the
// address box's rules and the queue items of transfers between panes.
#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <fstream>

#include "app/main_window.h"
#include "gui_test_support.h"
#include "panes/file_model.h"
#include "panes/file_pane_view.h"
#include "panes/local_file_jobs.h"
#include "panes/pane_rules.h"
#include "panes/site_view.h"
#include "real_ftp_server.h"
#include "sites/transfer_url.h"
#include "test_certificate.h"

namespace tarnwick::gui {
namespace {

FileEntry Entry(const char* name, uint64_t size, int64_t modified, bool directory = false) {
    FileEntry entry;
    entry.name = name;
    entry.SetSize(size);
    entry.modified = modified;
    entry.isDirectory = directory;
    return entry;
}

// Two directories, and files whose sizes need more than 32 bits or differ only in case.
FileEntryList Listing() {
    return {Entry("B", 0, 300, true), Entry("c.txt", 5, 100), Entry("D.bin", 1ULL << 33, 400),
            Entry("a", 0, 200, true), Entry("e", 10, 50),     Entry(".", 0, 0, true),
            Entry("..", 0, 0, true)};
}

QStringList Names(const FileModel& model) {
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.data(model.index(row, kColumnName), Qt::DisplayRole).toString();
    return names;
}

void Touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

}  // namespace

class PanesTest : public QObject {
    Q_OBJECT

private slots:
    // Name: directories first, case ignored; name twice: descending, directories last; size:
    // unsigned 64-bit, ties keep the listing's order; type: lower case; modified.
    void sortRules() {
        const std::pair<int, QStringList> cases[] = {
            {-1, {"a", "B", "c.txt", "D.bin", "e"}},
            {kColumnName, {"e", "D.bin", "c.txt", "B", "a"}},
            {kColumnSize, {"B", "a", "c.txt", "e", "D.bin"}},
            {kColumnType, {"e", "B", "a", "D.bin", "c.txt"}},
            {kColumnModified, {"e", "c.txt", "a", "B", "D.bin"}},
        };
        for (const auto& [click, names] : cases) {
            RemoteFileModel model;
            QAbstractItemModelTester tester(&model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.SetEntries(Listing());
            if (click >= 0) model.ToggleSort(click);
            QCOMPARE(Names(model), names);
            model.SetEntries(Listing());  // a new listing keeps the sort
            QCOMPARE(Names(model), names);
            for (int column = 0; column < model.columnCount(); ++column) model.ToggleSort(column);
        }
    }

    void reselectAfterUp() {
        for (const QString child : {"alpha", "Zeta"}) {  // the first, and the last in upper case
            QTemporaryDir dir;
            for (const char* name : {"alpha", "Zeta"}) QVERIFY(QDir(dir.path()).mkdir(name));
            Touch(dir.filePath("file"));
            FilePaneView pane;
            QVERIFY(pane.FillLocal(dir.filePath(child), "*"));
            pane.UpDirectory();
            QCOMPARE(pane.Directory(), dir.path());
            const std::vector<int> rows = pane.SelectedRows();
            QCOMPARE(rows.size(), size_t{1});
            QCOMPARE(QString::fromStdString(pane.Model().Entry(rows[0]).name), child);
        }
    }

    // The last component of a typed path is the pattern; a rename trims the name; a permanent
    // delete removes the shown entries, trees whole, and nothing the pattern hides.
    void localRenameAndDelete() {
        QTemporaryDir dir;
        Touch(dir.filePath("a.txt"));
        Touch(dir.filePath("taken"));
        QVERIFY(QDir(dir.path()).mkpath("d.txt/sub"));
        Touch(dir.filePath("d.txt/sub/f"));
        FilePaneView pane;
        QAbstractItemModelTester tester(&pane.Model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        pane.SetConfirmDelete(false);
        pane.ChangeLocalDirectory(dir.path() + "/*.txt");
        QCOMPARE(pane.Model().rowCount(), 2);
        QVERIFY(pane.RenameLocal(pane.Model().RowOfName("a.txt"), "  b.txt "));
        QVERIFY(QFile::exists(dir.filePath("b.txt")));
        QCOMPARE(pane.Model().rowCount(), 2);
        pane.SelectAll();
        QSignalSpy deleted(&pane, &FilePaneView::localJobFinished);
        pane.DeleteLocal(true);
        QVERIFY(deleted.wait(10000));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"taken"});
        QCOMPARE(pane.Model().rowCount(), 0);
    }

    void addressRules() {
        struct Case {
            const char* text;
            AddressKind kind;
            const char* target;
        };
        for (const Case& c : {Case{"/pub", AddressKind::kPath, "/pub"},
                              Case{"ftp://h/x", AddressKind::kFtpUrl, "ftp://h/x"},
                              Case{"ftp.example.org/pub", AddressKind::kFtpUrl,  // no scheme
                                   "ftp://ftp.example.org/pub"},
                              Case{"file:///tmp/x", AddressKind::kLocalUrl, "/tmp/x"},
                              Case{"http://h/", AddressKind::kUnsupported, "http://h/"}}) {
            const AddressAction action = ClassifyAddress(c.text);
            QVERIFY2(action.kind == c.kind && action.target == c.target, c.text);
        }
    }

    // Entering a remote directory: from the cache without a command, else by its name when it
    // is a child of the session's directory, else by its full path; going up from a cached
    // directory the session is not in changes to the parent.
    void remoteDirectoryChange() {
        struct Case {
            std::string target;
            int code;  // -1: none posted
            std::string argument;
        };
        for (const Case& c : {Case{"/cached", -1, ""}, Case{"/pub/sub", CmdChangeDir, "sub"},
                              Case{"/other/x", CmdChangeDir, "/other/x"},
                              Case{"/pub", CmdList, "/pub"},             // the session's own
                              Case{"/cached/..", CmdChangeDir, "/"}}) {  // up from the cache
            std::vector<SessionCommand> posted;
            FilePaneView pane(1, "h", "/", [&](SessionId, const SessionCommand& command) {
                posted.push_back(command);
            });
            pane.SetCacheLoader([](const std::string& dir, FileEntryList& entries) {
                entries = Listing();
                return dir == "/cached";
            });
            pane.SetRemoteDirectory("/pub");
            pane.ShowListing("/elsewhere", {});  // not the session's directory
            const bool up = c.target.ends_with("/..");
            pane.ChangeRemoteDirectory(up ? "/cached" : c.target);
            if (up) pane.UpDirectory();
            QCOMPARE(posted.empty() ? -1 : posted.back().code, c.code);
            QVERIFY(c.code >= 0 ? posted.back().firstArg == c.argument
                                : pane.Model().rowCount() == 5);
        }
    }

    // The queue items of a transfer between panes (a drop directory wins) and of an upload
    // of paths from the shell (a missing path is reported, not queued): a directory goes as a
    // tree of unknown size.
    void transferItems() {
        struct Case {
            bool download, shell;
            std::string drop, client, server;
        };
        for (const Case& c : {Case{true, false, "", "/home/u", "/pub/f"},
                              Case{false, false, "", "/pub/f", "/home/u"},
                              Case{true, false, "/home/u/in", "/home/u/in", "/pub/f"},
                              Case{false, true, "", "/pub/f", "/home/u"}}) {
            const std::vector<TransferSource> sources{{"/pub/f", 42, false}, {"/pub/d", 0, true}};
            std::vector<std::string> missing;
            const auto items = c.shell ? BuildUploadItems({{"/pub/f", true, false, 42},
                                                           {"/gone", false, false, -1},
                                                           {"/pub/d", true, true, -1}},
                                                          "/home/u", missing)
                                       : MakeTransferItems(c.download, sources, "/home/u", c.drop);
            QCOMPARE(missing.size(), size_t{c.shell});
            QCOMPARE(items.size(), size_t{2});
            QCOMPARE(items[0]->operation,
                     c.download ? QueueOperation::kDownload : QueueOperation::kUpload);
            QCOMPARE(items[0]->clientPath + " " + items[0]->serverPath, c.client + " " + c.server);
            QCOMPARE(items[0]->Size(), int64_t{42});
            QVERIFY(items[1]->kind == QueueItemKind::kDirectory &&
                    items[1]->Size() == kUnknownSize);
        }
    }

    // Open an explicit-TLS URL of a site that accepts the server's own certificate, list,
    // enter a directory, download a file: it arrives in the local pane's directory over a
    // session shown as protected; Disconnect ends the connection, and the window's close ends
    // the worker before the window goes.
    void downloadFromRemotePane() {
        QTemporaryDir home, local;
        tarnwick::test::RealFtpServer server(
            "127.0.0.1", tarnwick::test::MakeCertificate(home.path().toStdString()));
        QVERIFY2(server.Running(), server.Error().c_str());
        std::filesystem::create_directory(server.Root() / "dir");
        std::ofstream(server.Root() / "dir" / "f.txt") << "payload";
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        context.settings.defaultLocalDirectory = local.path().toStdString();
        context.settings.pTransfer = context.settings.pDisconnect = false;
        context.sites = {test::LoopbackSite()};
        context.sites[0].tlsAcceptUnverified = true;
        MainWindow window(std::move(context));
        QSignalSpy states(&window.Bridge(), &SessionBridge::connectionStateChanged);
        const QString url = QString("ftpes://127.0.0.1:%1/").arg(server.Port());
        QVERIFY(window.ConnectUrlWithLogin(url, "tarnwick", "secret", server.Port()));
        FilePaneView* remote = nullptr;
        for (FilePaneView* pane : window.findChildren<FilePaneView*>())
            if (pane->IsRemote()) remote = pane;
        QVERIFY(remote != nullptr);
        auto choose = [remote](const char* name) {
            const int row = remote->Model().RowOfName(name);
            remote->CurrentView()->selectionModel()->select(
                remote->Model().index(row, 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return row >= 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(choose("dir"), 10000);
        remote->ActivateCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(choose("f.txt"), 10000);
        emit remote->transferRequested();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(local.filePath("f.txt")).size() == 7, 10000);
        QVERIFY(window.TlsText().startsWith("TLSv1."));
        QAction* disconnect = nullptr;
        for (QAction* action : window.findChildren<QAction*>())
            if (action->text() == "Disconnect") disconnect = action;
        QVERIFY(disconnect != nullptr && disconnect->isEnabled());
        disconnect->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && !states.last().at(1).toBool(), 10000);
        QVERIFY(window.close());
        QTRY_VERIFY_WITH_TIMEOUT(window.Sessions().Sessions().empty(), 5000);
    }

    // A copy of a tree, whole or cancelled after its first file: a cancelled copy reports
    // failure and leaves no half-written file.
    void localJobs() {
        for (const int cancelAfter : {-1, 1}) {  // files; -1 runs to the end
            QTemporaryDir temp;
            const QDir root(temp.path());
            QVERIFY(root.mkpath("tree/sub") && root.mkpath("out"));
            const QByteArray big(4 * 1024 * 1024, 'x');
            for (const auto& [name, data] :
                 {std::pair{"a.txt", QByteArray("abc")}, std::pair{"b.bin", big}}) {
                QFile file(root.filePath("tree/") + name);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
            }
            const QString copy = root.filePath("out/tree/");
            LocalFileJob job(LocalFileJob::Kind::kCopy, {root.filePath("tree")},
                             root.filePath("out"));
            auto cancel = [&job, cancelAfter](int done, int) {
                if (done == cancelAfter) job.Cancel();
            };
            connect(&job, &LocalFileJob::progress, &job, cancel, Qt::DirectConnection);
            QSignalSpy finished(&job, &LocalFileJob::finished);
            job.Start();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);  // it may end before a wait
            QCOMPARE(finished.at(0).at(0).toBool(), cancelAfter < 0);
            QCOMPARE(QFileInfo(copy + "a.txt").size(), 3);
            const QFileInfo bin(copy + "b.bin");
            QCOMPARE(bin.exists() ? bin.size() : -1, cancelAfter < 0 ? big.size() : -1);
            QVERIFY(cancelAfter > 0 || QFileInfo(copy + "sub").isDir());
        }
    }

    // Upload between two local panes copies the selection with the pane's job; a target
    // inside the copied tree is refused and nothing is written there.
    void localUploadCommand() {
        for (const QString target : {"out", "tree/sub"}) {
            QTemporaryDir home, temp;
            QVERIFY(QDir(temp.path()).mkpath("tree/sub") && QDir(temp.path()).mkpath("out"));
            MainWindowContext context;
            context.programHome = home.path().toStdString() + "/";
            context.settings.defaultLocalDirectory = temp.path().toStdString();
            MainWindow window(std::move(context));
            auto* source = window.findChild<FilePaneView*>();
            const QList<SiteView*> views = window.findChildren<SiteView*>();
            FilePaneView* destination =
                views[views[0]->isAncestorOf(source) ? 1 : 0]->OpenLocalPath(temp.filePath(target));
            source->CurrentView()->selectionModel()->select(
                source->Model().index(source->Model().RowOfName("tree"), 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            if (target != "out") test::AnswerNextMessageBox(QMessageBox::Ok);  // refused
            QSignalSpy finished(destination, &FilePaneView::localJobFinished);
            emit source->transferRequested();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
            QCOMPARE(QFileInfo::exists(temp.filePath(target + "/tree/sub")), target == "out");
        }
    }

    // Files of a file manager dragged over a remote pane: the directory under the mouse is
    // the target while the drag lasts, the user's selection returns when it drops or leaves
    // (no drop), and Alt at the drop only queues.
    void dropFromFileManager() {
        for (const auto& [keys, leave] :
             {std::pair{Qt::NoModifier, false}, std::pair{Qt::AltModifier, false},
              std::pair{Qt::NoModifier, true}}) {
            FilePaneView pane(1, "h", "/pub", {});
            pane.ShowListing("/pub", {Entry("dir", 0, 1, true), Entry("f.txt", 1, 1)});
            QAbstractItemView* view = pane.CurrentView();
            view->selectionModel()->select(pane.Model().index(1, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
            QMimeData files;
            files.setUrls({QUrl::fromLocalFile(QDir::tempPath())});
            const QPoint onDir = view->visualRect(pane.Model().index(0, 0)).center();
            QDragEnterEvent enter(onDir, Qt::CopyAction, &files, Qt::LeftButton, keys);
            QApplication::sendEvent(view->viewport(), &enter);
            QCOMPARE(pane.SelectedRows(), std::vector<int>{0});  // the directory is the target
            QSignalSpy dropped(&pane, &FilePaneView::filesDropped);
            QDragLeaveEvent away;
            QDropEvent drop(onDir, Qt::CopyAction, &files, Qt::LeftButton, keys);
            QApplication::sendEvent(view->viewport(), leave ? static_cast<QEvent*>(&away) : &drop);
            QCOMPARE(pane.SelectedRows(), std::vector<int>{1});
            QCOMPARE(dropped.count(), leave ? 0 : 1);
            if (!leave)
                QCOMPARE(dropped.at(0).mid(1), (QVariantList{"/pub/dir", keys == Qt::AltModifier}));
        }
    }
};

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::PanesTest)
#include "panes_test.moc"
