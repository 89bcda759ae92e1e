// The session list: its rows follow the open sessions (from any thread), its popup offers
// what the selected sessions allow, and Delete leaves the caret where the user expects.
#include <QAbstractItemModelTester>
#include <QMenu>
#include <QTest>
#include <thread>

#include "gui_test_support.h"
#include "queue/session_list.h"

namespace tarnwick::gui {

namespace {

std::shared_ptr<CFtpSession> NewSession(SessionObserver& observer, const std::string& host) {
    SiteSetting site = test::LoopbackSite();
    site.address = host;
    return std::make_shared<CFtpSession>(site, std::make_shared<const AppSettings>(), observer);
}

QString Hosts(const SessionListModel& model) {
    QStringList hosts;
    for (int row = 0; row < model.rowCount(); ++row)
        hosts << model.data(model.index(row)).toString();
    return hosts.join(',');
}

}  // namespace

class SessionsTest : public QObject {
    Q_OBJECT

private slots:
    void modelFollowsOpenAndClose() {
        SessionObserver observer;
        OpenSessions sessions;
        SessionListModel model(sessions);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        int inserts = 0, removes = 0;
        connect(&model, &QAbstractItemModel::rowsInserted, [&inserts] { ++inserts; });
        connect(&model, &QAbstractItemModel::rowsRemoved, [&removes] { ++removes; });
        auto a = NewSession(observer, "a"), b = NewSession(observer, "b");
        auto c = NewSession(observer, "c");
        for (const auto& session : {a, b, c}) sessions.Add(session);
        sessions.Add(b);  // listed already: no second row
        QCOMPARE(Hosts(model), QString("a,b,c"));
        QCOMPARE(inserts, 3);
        sessions.Remove(*b);
        QCOMPARE(Hosts(model), QString("a,c"));
        QCOMPARE(model.IdAt(1), c->Id());
        // A session leaving the list on another thread goes once the event loop runs.
        std::thread([&sessions, &c] { sessions.Remove(*c); }).join();
        QTRY_COMPARE_WITH_TIMEOUT(Hosts(model), QString("a"), 2000);
        QCOMPARE(removes, 2);
    }

    void popupEnablingFollowsTheSelection_data() {
        QTest::addColumn<int>("clickedRow");  // -1: over no entry
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("save");
        // Row 0 has items, row 1 is empty, row 2 is busy with items.
        QTest::newRow("with items") << 0 << true << false << true;
        QTest::newRow("empty queue") << 1 << false << false << true;
        QTest::newRow("busy") << 2 << false << true << true;
        QTest::newRow("no entry keeps the selection") << -1 << true << false << false;
    }
    void popupEnablingFollowsTheSelection() {
        QFETCH(int, clickedRow);
        QFETCH(bool, start);
        QFETCH(bool, stop);
        QFETCH(bool, save);
        SessionObserver observer;
        OpenSessions sessions;
        SessionListView view(sessions);
        std::vector<std::shared_ptr<CFtpSession>> all;
        for (const char* host : {"a", "b", "c"}) all.push_back(NewSession(observer, host));
        for (int i : {0, 2})
            all[i]->queue.Append(
                MakeQueueItem(QueueOperation::kDownload, "/l", "/r/f", 1, QueueItemKind::kFile));
        QVERIFY(all[2]->TryMarkBusy());
        for (const auto& session : all) sessions.Add(session);
        view.SelectSession(all[0]->Id());
        QMenu* menu = view.PreparePopup(clickedRow);
        auto enabled = [menu](const char* text) {
            for (QAction* action : menu->actions())
                if (action->text() == QLatin1String(text)) return action->isEnabled();
            return false;
        };
        QCOMPARE(enabled("Start"), start);
        QCOMPARE(enabled("Stop"), stop);
        QCOMPARE(enabled("Save..."), save);
        QCOMPARE(enabled("Delete"), save);
        QVERIFY(enabled("Save All.."));
        // Right-clicking an unselected entry makes it the only selection.
        QCOMPARE(sessions.Selected().size(), size_t{1});
        QCOMPARE(view.CurrentSession(), all[clickedRow < 0 ? 0 : clickedRow]->Id());
    }

    void deleteMovesTheCaret_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("caret");
        QTest::newRow("middle: the next one") << QList<int>{1} << "a,c,d"
                                              << "c";
        QTest::newRow("last: the new last") << QList<int>{3} << "a,b,c"
                                            << "c";
        QTest::newRow("several: at the last index") << QList<int>{0, 2} << "b,d"
                                                    << "d";
        QTest::newRow("all: nothing") << QList<int>{0, 1, 2, 3} << ""
                                      << "";
    }
    void deleteMovesTheCaret() {
        QFETCH(QList<int>, selected);
        QFETCH(QString, left);
        QFETCH(QString, caret);
        SessionObserver observer;
        OpenSessions sessions;
        SessionListView view(sessions);
        for (const char* host : {"a", "b", "c", "d"}) sessions.Add(NewSession(observer, host));
        view.clearSelection();
        for (int row : selected)
            view.selectionModel()->select(view.model()->index(row, 0), QItemSelectionModel::Select);
        SessionId activated = 1234;
        connect(&view, &SessionListView::sessionActivated,
                [&activated](SessionId id) { activated = id; });
        test::AnswerNextMessageBox(QMessageBox::Ok);
        view.DeleteSelected();
        QCOMPARE(Hosts(*view.Model()), left);
        const int row = view.Model()->RowOf(activated);
        QCOMPARE(row < 0 ? QString() : view.Model()->data(view.Model()->index(row)).toString(),
                 caret);
        QCOMPARE(view.CurrentSession(), activated);
    }
};

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::SessionsTest)
#include "sessions_test.moc"
