// The queue view's model: it follows the engine's change reports as row ranges and always
// shows the queue's own order; the running item's status carries its percent. End to end: an
// imported queue runs against a real server until it is empty, and the user is told.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "app/run_notifier.h"
#include "gui_test_support.h"
#include "queue/queue_file.h"
#include "queue/queue_model.h"
#include "queue/queue_view.h"
#include "real_ftp_server.h"

namespace tarnwick::gui {

class QueueTest : public QObject {
    Q_OBJECT

private slots:
    void modelFollowsTheQueuesChanges() {
        TransferQueue queue;
        QueueModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.SetQueue(&queue, "ftp.example.org");
        queue.SetChangedHandler([&model](const QueueChange& change) { model.Apply(change); });
        int inserts = 0;
        connect(&model, &QAbstractItemModel::rowsInserted, [&inserts] { ++inserts; });
        std::vector<std::shared_ptr<QueueItem>> items;
        for (const std::string name : {"0", "1", "2", "3", "4", "5"})
            items.push_back(MakeQueueItem(QueueOperation::kDownload, "/l/" + name, "/r/" + name,
                                          200, QueueItemKind::kFile));
        queue.AppendAll(items);
        QCOMPARE(inserts, 1);  // an import is one insert
        auto same = [&] {
            const auto queued = queue.Snapshot();
            for (int row = 0; row < model.rowCount(); ++row)
                if (model.ItemAt(row) != queued[row]) return false;
            return size_t(model.rowCount()) == queued.size();
        };
        QVERIFY(same());
        queue.Move({items[4].get(), items[1].get()}, QueueMove::kToTop);
        QVERIFY(same());
        queue.Move({items[0].get()}, QueueMove::kToBottom);
        QVERIFY(same());
        queue.Remove({items[2].get(), items[0].get(), items[5].get()});
        QVERIFY(same() && model.rowCount() == 3);
        const int row = model.RowOf(items[3]->id);
        QCOMPARE(model.UrlAt(row), QString("ftp://ftp.example.org/r/3"));
        queue.SetItemState(*items[3], QueueState::kTransferring);
        model.SetProgress(items[3]->id, 42);  // the running item's status carries its percent
        QVERIFY(model.data(model.index(row, QueueModel::kStatus)).toString().endsWith(" 42%"));
        queue.Clear();  // all but the running item
        QVERIFY(same() && model.rowCount() == 1);
    }

    void percentOfTheRunningItem() {
        auto progress = [](bool transferring, int64_t size, uint64_t done) {
            return QueuePercentOf({transferring, false, "f", size, done, 0});
        };
        QCOMPARE(progress(true, 200, 84), 42);
        QCOMPARE(progress(true, -1, 84), -1);                 // size unknown
        QCOMPARE(progress(true, 100, 150), 100);              // a file that grew while it moved
        QCOMPARE(progress(true, 6ll << 30, 3ull << 30), 50);  // past 4 GiB
    }

    // Three downloads from the autosaved queue: the session opens without a pane, the queue
    // runs to the end, the files arrive whole, the user is told the counts; Clear Queue then
    // closes the session that existed only for its queue.
    void importedQueueRunsToTheEnd() {
        tarnwick::test::RealFtpServer server;
        QVERIFY2(server.Running(), server.Error().c_str());
        QTemporaryDir home, local;
        SiteSetting site = test::LoopbackSite();
        site.port = server.Port();
        site.username = tarnwick::test::RealFtpServer::kUser;
        site.password = tarnwick::test::RealFtpServer::kPassword;
        QueueSection section{site.address, {}};
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            std::ofstream(server.Root() / name) << "contents of " << name;
            section.items.push_back(MakeQueueItem(QueueOperation::kDownload,
                                                  local.path().toStdString(),  // into here
                                                  std::string("/") + name, 17));
        }
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        context.sites = {site};
        QCOMPARE(SaveQueues(AutosaveQueuePath(context.programHome), {section}).skippedItems,
                 size_t{0});
        MainWindow window(std::move(context));
        QSignalSpy notified(window.Runs(), &RunNotifier::notified);
        window.ImportAutosavedQueue();
        QCOMPARE(window.Sessions().Sessions().size(), size_t{1});
        auto session = window.Sessions().Sessions().front();
        QCOMPARE(window.Queue()->Model().rowCount(), 3);
        QVERIFY(session->StartQueue().kind != StartQueueResult::kNoThread);
        QTRY_COMPARE_WITH_TIMEOUT(notified.count(), 1, 20000);
        QCOMPARE(notified.first().at(1).toString(), QString("127.0.0.1: 3 done, 0 failed"));
        QCOMPARE(window.Queue()->Model().rowCount(), 0);
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            std::ifstream in(local.filePath(name).toStdString());
            QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}),
                     std::string("contents of ") + name);
        }
        window.Queue()->ClearQueue();
        QTRY_VERIFY_WITH_TIMEOUT(window.Sessions().Sessions().empty(), 5000);
    }
};

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::QueueTest)
#include "queue_test.moc"
