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
    void modelsAreConsistent() {
        for (bool remote : {false, true}) {
            std::unique_ptr<FileModel> model(remote ? static_cast<FileModel*>(new RemoteFileModel)
                                                    : new LocalFileModel);
            QAbstractItemModelTester tester(model.get(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            model->SetEntries(Listing());
            QCOMPARE(model->rowCount(), 5);  // "." and ".." are not shown
            QCOMPARE(model->columnCount(), remote ? 6 : 4);
            for (int column = 0; column < model->columnCount(); ++column) model->ToggleSort(column);
        }
    }

    void sortRules_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("name: directories first, case ignored")
            << QList<int>{} << QStringList{"a", "B", "c.txt", "D.bin", "e"};
        QTest::newRow("name twice: descending, directories last")
            << QList<int>{kColumnName} << QStringList{"e", "D.bin", "c.txt", "B", "a"};
        QTest::newRow("size: unsigned 64-bit, ties keep listing order")
            << QList<int>{kColumnSize} << QStringList{"B", "a", "c.txt", "e", "D.bin"};
        QTest::newRow("type, lower case")
            << QList<int>{kColumnType} << QStringList{"e", "B", "a", "D.bin", "c.txt"};
        QTest::newRow("modified") << QList<int>{kColumnModified}
                                  << QStringList{"e", "c.txt", "a", "B", "D.bin"};
    }
    void sortRules() {
        QFETCH(QList<int>, clicks);
        QFETCH(QStringList, names);
        RemoteFileModel model;
        model.SetEntries(Listing());
        for (int column : clicks) model.ToggleSort(column);
        QCOMPARE(Names(model), names);
        model.SetEntries(Listing());  // a new listing keeps the sort
        QCOMPARE(Names(model), names);
    }

    void reselectAfterUp_data() {
        QTest::addColumn<QString>("child");
        QTest::newRow("first") << "alpha";
        QTest::newRow("last, upper case") << "Zeta";
    }
    void reselectAfterUp() {
        QFETCH(QString, child);
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

    void localRenameAndDelete() {
        QTemporaryDir dir;
        Touch(dir.filePath("a.txt"));
        Touch(dir.filePath("taken"));
        FilePaneView pane;
        pane.SetConfirmDelete(false);
        pane.ChangeLocalDirectory(dir.path() + "/*.txt");  // the last component is the pattern
        QCOMPARE(pane.Model().rowCount(), 1);
        QVERIFY(pane.RenameLocal(0, "  b.txt "));
        QVERIFY(QFile::exists(dir.filePath("b.txt")));
        QCOMPARE(pane.Model().rowCount(), 1);
        pane.SelectAll();
        QSignalSpy deleted(&pane, &FilePaneView::localJobFinished);
        pane.DeleteLocal(true);
        QVERIFY(deleted.wait(10000));
        QVERIFY(!QFile::exists(dir.filePath("b.txt")));
        QVERIFY(QFile::exists(dir.filePath("taken")));
        QCOMPARE(pane.Model().rowCount(), 0);
    }

    void addressRules_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("target");
        const int path = int(AddressKind::kPath), ftp = int(AddressKind::kFtpUrl);
        QTest::newRow("absolute path") << "/pub" << path << "/pub";
        QTest::newRow("ftp url") << "ftp://h/x" << ftp << "ftp://h/x";
        QTest::newRow("host without scheme")
            << "ftp.example.org/pub" << ftp << "ftp://ftp.example.org/pub";
        QTest::newRow("file url") << "file:///tmp/x" << int(AddressKind::kLocalUrl) << "/tmp/x";
        QTest::newRow("other service")
            << "http://h/" << int(AddressKind::kUnsupported) << "http://h/";
    }
    void addressRules() {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(QString, target);
        const AddressAction action = ClassifyAddress(text.toStdString());
        QCOMPARE(int(action.kind), kind);
        QCOMPARE(QString::fromStdString(action.target), target);
    }

    // Entering a remote directory: from the cache without a command, else by its name when it
    // is a child of the session's directory, else by its full path; going up from a cached
    // directory the session is not in changes to the parent.
    void remoteDirectoryChange_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("argument");
        QTest::newRow("cached") << "/cached" << -1 << "";
        QTest::newRow("child") << "/pub/sub" << int(CmdChangeDir) << "sub";
        QTest::newRow("elsewhere") << "/other/x" << int(CmdChangeDir) << "/other/x";
        QTest::newRow("the session's own") << "/pub" << int(CmdList) << "/pub";
        QTest::newRow("up from the cache") << "/cached/.." << int(CmdChangeDir) << "/";
    }
    void remoteDirectoryChange() {
        QFETCH(QString, target);
        QFETCH(int, code);
        QFETCH(QString, argument);
        std::vector<SessionCommand> posted;
        FilePaneView pane(1, "h", "/",
                          [&](SessionId, const SessionCommand& c) { posted.push_back(c); });
        pane.SetCacheLoader([](const std::string& dir, FileEntryList& entries) {
            entries = Listing();
            return dir == "/cached";
        });
        pane.SetRemoteDirectory("/pub");
        pane.ShowListing("/elsewhere", {});  // the pane shows another directory than the session's
        const bool up = target.endsWith("/..");
        pane.ChangeRemoteDirectory(up ? "/cached" : target.toStdString());
        if (up) pane.UpDirectory();
        QCOMPARE(posted.empty() ? -1 : posted.back().code, code);
        if (code < 0) QCOMPARE(pane.Model().rowCount(), 5);
        if (code >= 0) QCOMPARE(QString::fromStdString(posted.back().firstArg), argument);
    }

    void transferItems_data() {
        QTest::addColumn<bool>("download");
        QTest::addColumn<QString>("drop");
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("server");
        QTest::newRow("download") << true << ""
                                  << "/home/u"
                                  << "/pub/f";
        QTest::newRow("upload") << false << ""
                                << "/pub/f"
                                << "/home/u";
        QTest::newRow("download dropped on a directory") << true << "/home/u/in"
                                                         << "/home/u/in"
                                                         << "/pub/f";
    }
    void transferItems() {
        QFETCH(bool, download);
        QFETCH(QString, drop);
        QFETCH(QString, client);
        QFETCH(QString, server);
        const std::vector<TransferSource> sources{{"/pub/f", 42, false}, {"/pub/d", 0, true}};
        const auto items = MakeTransferItems(download, sources, "/home/u", drop.toStdString());
        QCOMPARE(items.size(), size_t{2});
        const QueueItem& file = *items[0];
        QCOMPARE(file.operation, download ? QueueOperation::kDownload : QueueOperation::kUpload);
        QCOMPARE(QString::fromStdString(file.clientPath), client);
        QCOMPARE(QString::fromStdString(file.serverPath), server);
        QCOMPARE(file.Size(), int64_t{42});
        QCOMPARE(items[1]->kind, QueueItemKind::kDirectory);
        QCOMPARE(items[1]->Size(), kUnknownSize);
    }

    // Open a URL, list, enter a directory, download a file: it arrives in the local pane's
    // directory.
    void downloadFromRemotePane() {
        tarnwick::test::RealFtpServer server;
        QVERIFY2(server.Running(), server.Error().c_str());
        std::filesystem::create_directory(server.Root() / "dir");
        std::ofstream(server.Root() / "dir" / "f.txt") << "payload";
        QTemporaryDir home, local;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        context.settings.defaultLocalDirectory = local.path().toStdString();
        context.settings.pTransfer = false;
        MainWindow window(std::move(context));
        const QString url = QString("ftp://127.0.0.1:%1/").arg(server.Port());
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
    }

    // A copy of a tree, whole or cancelled after its first file: a cancelled copy reports
    // failure and leaves no half-written file; a permanent delete removes the whole tree.
    void localJobs_data() {
        QTest::addColumn<int>("cancelAfter");  // files; -1 runs to the end
        QTest::newRow("whole") << -1;
        QTest::newRow("cancelled") << 1;
    }
    void localJobs() {
        QFETCH(int, cancelAfter);
        QTemporaryDir temp;
        QVERIFY(QDir(temp.path()).mkpath(QStringLiteral("tree/sub")));
        const QString tree = temp.filePath(QStringLiteral("tree"));
        const QByteArray big(4 * 1024 * 1024, 'x');
        for (const auto& [name, data] :
             {std::pair{"a.txt", QByteArray("abc")}, std::pair{"b.bin", big}}) {
            QFile file(tree + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(data);
        }
        QVERIFY(QDir(temp.path()).mkpath(QStringLiteral("out")));
        LocalFileJob job(LocalFileJob::Kind::kCopy, {tree}, temp.filePath(QStringLiteral("out")));
        connect(
            &job, &LocalFileJob::progress, &job,
            [&job, cancelAfter](int done, int) {
                if (done == cancelAfter) job.Cancel();
            },
            Qt::DirectConnection);
        QSignalSpy finished(&job, &LocalFileJob::finished);
        job.Start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);  // it may end before a wait
        const QString copy = temp.filePath(QStringLiteral("out/tree/"));
        QCOMPARE(finished.at(0).at(0).toBool(), cancelAfter < 0);
        QCOMPARE(QFileInfo(copy + QStringLiteral("a.txt")).size(), 3);
        QCOMPARE(QFileInfo::exists(copy + QStringLiteral("b.bin")), cancelAfter < 0);
        if (cancelAfter < 0) {
            QCOMPARE(QFileInfo(copy + QStringLiteral("b.bin")).size(), big.size());
            QVERIFY(QFileInfo(copy + QStringLiteral("sub")).isDir());
        }
        LocalFileJob remove(LocalFileJob::Kind::kDelete, {tree});
        QSignalSpy removed(&remove, &LocalFileJob::finished);
        remove.Start();
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 10000);
        QVERIFY(removed.at(0).at(0).toBool());
        QVERIFY(!QFileInfo::exists(tree));
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
