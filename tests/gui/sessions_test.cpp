// The session list: its rows follow the open sessions (from any thread), its popup offers
// what the selected sessions allow, and Delete leaves the caret where the user expects. The
// queue runs' notifier: who is told when a run ends, and the title's percent.
#include <QAbstractItemModelTester>
#include <QMenu>
#include <QTest>
#include <thread>

#include "app/run_notifier.h"
#include "gui_test_support.h"
#include "queue/session_list.h"

namespace tarnwick::gui {

namespace {

SessionObserver observer;

// One session per letter of `hosts`, each with `items` queued, appended to the list.
std::shared_ptr<CFtpSession> Open(OpenSessions& sessions, const std::string& hosts, int items = 0) {
    for (char host : hosts) {
        SiteSetting site = test::LoopbackSite();
        site.address = std::string(1, host);
        auto session = std::make_shared<CFtpSession>(site, nullptr, observer);
        for (int i = 0; i < items; ++i)
            session->queue.Append(
                MakeQueueItem(QueueOperation::kUpload, "/l", "/r", 1, QueueItemKind::kFile));
        sessions.Add(session);
    }
    return sessions.Sessions().back();  // the last one opened
}

// The hosts shown, then ">" and the host of row `caret` when there is one.
QString Hosts(const SessionListModel& model, int caret = -1) {
    QStringList hosts;
    for (int row = 0; row < model.rowCount(); ++row)
        hosts << model.data(model.index(row)).toString();
    return hosts.join(',') + (caret >= 0 ? '>' + hosts[caret] : QString());
}

}  // namespace

class SessionsTest : public QObject {
    Q_OBJECT

private slots:
    void modelFollowsOpenAndClose() {
        OpenSessions sessions;
        SessionListModel model(sessions);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        int inserts = 0;
        connect(&model, &QAbstractItemModel::rowsInserted, [&inserts] { ++inserts; });
        Open(sessions, "abc");
        auto all = sessions.Sessions();
        QCOMPARE(inserts, 3);
        sessions.Remove(*all[1]);
        QCOMPARE(Hosts(model), QString("a,c"));
        // A session leaving the list on another thread goes once the event loop runs.
        std::thread([&sessions, &all] { sessions.Remove(*all[2]); }).join();
        QTRY_COMPARE_WITH_TIMEOUT(Hosts(model), QString("a"), 2000);
    }

    // Row 0 has items, row 1 is empty, row 2 is busy with items; -1: over no entry, which
    // keeps the selection.
    void popupEnablingFollowsTheSelection() {
        const QString rest = "Save... Save All.. Import... Delete Select All ";
        const std::pair<int, QString> cases[] = {{0, "Start " + rest},
                                                 {2, "Stop " + rest},
                                                 {-1, "Start Save All.. Import... Select All "}};
        for (const auto& [clickedRow, expected] : cases) {
            OpenSessions sessions;
            SessionListView view(sessions);
            Open(sessions, "a", 1);
            Open(sessions, "b");
            QVERIFY(Open(sessions, "c", 1)->TryMarkBusy());
            view.SelectSession(view.Model()->IdAt(0));
            QString enabled;  // the enabled commands, in menu order
            for (QAction* action : view.PreparePopup(clickedRow)->actions())
                if (action->isEnabled() && !action->isSeparator()) enabled += action->text() + ' ';
            QCOMPARE(enabled, expected);
            // Right-clicking an unselected entry makes it the only selection.
            QCOMPARE(sessions.Selected().size(), size_t{1});
            QCOMPARE(view.Model()->RowOf(view.CurrentSession()), std::max(clickedRow, 0));
        }
    }

    void deleteMovesTheCaret() {
        // Selected rows; the hosts left > the caret's host.
        const std::pair<QList<int>, QString> cases[] = {
            {{1}, "a,c,d>c"}, {{3}, "a,b,c>c"}, {{0, 2}, "b,d>d"}, {{0, 1, 2, 3}, ""}};
        for (const auto& [selected, left] : cases) {
            OpenSessions sessions;
            SessionListView view(sessions);
            Open(sessions, "abcd");
            for (int row : selected)
                view.selectionModel()->select(view.model()->index(row, 0),
                                              QItemSelectionModel::Select);
            SessionId activated = 1234;
            connect(&view, &SessionListView::sessionActivated,
                    [&activated](SessionId id) { activated = id; });
            test::AnswerNextMessageBox(QMessageBox::Ok);
            view.DeleteSelected();
            QCOMPARE(Hosts(*view.Model(), view.Model()->RowOf(activated)), left);
            QCOMPARE(view.CurrentSession(), activated);
        }
    }

    void runEndNotifiesOnlyWhenAway() {
        // Resumes after a reconnect, the window is active; what the user is told.
        const std::tuple<bool, bool, QString> cases[] = {
            {false, false, "h: 1 done, 1 failed"}, {false, true, ""}, {true, false, ""}};
        for (const auto& [resumes, active, message] : cases) {
            RunNotifier runs;
            QString told;
            connect(&runs, &RunNotifier::notified,
                    [&told](const QString&, const QString& text) { told = text; });
            for (auto [item, done] : {std::pair{1, false}, {1, true}, {2, false}})
                runs.ItemStarted(7, item, done);
            runs.RunFinished(7, "h", resumes, active);
            QCOMPARE(told, message);
            QCOMPARE(runs.Running(7), resumes);  // a resumed run keeps its counts
        }
    }

    void titleShowsTheRunsPercent() {
        OpenSessions sessions;
        const SessionId id = Open(sessions, "a", 3)->Id();
        RunNotifier runs;
        runs.ItemStarted(id, 99, true);  // one done, three to go
        QCOMPARE(RunNotifier::TitleWithPercent(runs.OverallPercent(sessions), "T"), "25% - T");
        runs.RunFinished(id, "a", false, true);
        QCOMPARE(RunNotifier::TitleWithPercent(runs.OverallPercent(sessions), "T"), "T");
    }
};

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::SessionsTest)
#include "sessions_test.moc"
