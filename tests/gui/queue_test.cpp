// The queue view's model: it follows the engine's change reports as row ranges and always
// shows the queue's own order.
#include <QAbstractItemModelTester>
#include <QTest>

#include "queue/queue_model.h"

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
        for (int i = 0; i < 6; ++i) {
            items.push_back(MakeQueueItem(QueueOperation::kDownload, "/l/" + std::to_string(i),
                                          "/r/" + std::to_string(i), 100, QueueItemKind::kFile));
        }
        queue.AppendAll(items);
        QCOMPARE(inserts, 1);  // an import is one insert
        auto shown = [&model] {
            std::vector<uint64_t> ids;
            for (int row = 0; row < model.rowCount(); ++row) ids.push_back(model.ItemAt(row)->id);
            return ids;
        };
        auto queued = [&queue] {
            std::vector<uint64_t> ids;
            for (const auto& item : queue.Snapshot()) ids.push_back(item->id);
            return ids;
        };
        QCOMPARE(shown(), queued());
        queue.Move({items[4].get(), items[1].get()}, QueueMove::kToTop);
        QCOMPARE(shown(), queued());
        queue.Move({items[0].get()}, QueueMove::kToBottom);
        QCOMPARE(shown(), queued());
        queue.Remove({items[2].get(), items[0].get(), items[5].get()});
        QCOMPARE(shown(), queued());
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.UrlAt(model.RowOf(items[3]->id)), QString("ftp://ftp.example.org/r/3"));
        queue.Clear();
        QCOMPARE(model.rowCount(), 0);
    }
};

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::QueueTest)
#include "queue_test.moc"
