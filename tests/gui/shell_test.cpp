// The desktop program's rules: the bridge's hand-over to the user-interface thread, the
// speed window, the log trim, the overwrite countdown, the options sheet's checks and the
// single-instance message.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <atomic>
#include <thread>

#include "app/history.h"
#include "app/main_window.h"
#include "app/memory_settings_store.h"
#include "app/session_bridge.h"
#include "app/settings_io.h"
#include "app/single_instance.h"
#include "app/speed_window.h"
#include "gui_test_support.h"
#include "log/log_view.h"
#include "loopback_socket.h"
#include "options/options_sheet.h"
#include "prompts/overwrite_dialog.h"

using namespace tarnwick;
using namespace tarnwick::gui;
using namespace tarnwick::gui::test;

class GuiTest : public QObject {
    Q_OBJECT

private slots:
    void bridgeDeliversOnTheUiThreadOnlyForTrackedSessions() {
        SessionBridge bridge;
        CFtpSession open(LoopbackSite(), nullptr, bridge);
        CFtpSession closed(LoopbackSite(), nullptr, bridge);
        bridge.Track(open.Id());
        bridge.Track(closed.Id());
        std::vector<std::pair<SessionId, std::string>> lines;
        bool offThread = false;
        connect(&bridge, &SessionBridge::logLine, [&](SessionId id, const LogRecord& record) {
            offThread = offThread || QThread::currentThread() != qApp->thread();
            lines.emplace_back(id, record.text);
        });
        QSignalSpy questions(&bridge, &SessionBridge::question);
        auto asked = std::make_shared<Question>("Go on?", kAskYesNo);
        std::thread worker([&] {
            LogRecord record{"220 ready", LOG_REPLY, true, true};
            bridge.OnLog(open, record);
            record.text = "lost";
            bridge.OnLog(closed, record);
            bridge.OnQuestion(closed, asked);
        });
        worker.join();
        bridge.Forget(closed.Id());  // closed before the notifications were handled
        QCoreApplication::processEvents();
        QCOMPARE(lines.size(), size_t{1});
        QCOMPARE(lines[0].first, open.Id());
        QCOMPARE(lines[0].second, std::string("220 ready"));
        QVERIFY(!offThread);
        QCOMPARE(questions.count(), 0);
        QVERIFY(asked->Answered());
        QCOMPARE(asked->AskResult(), int{kAnswerNo});
    }

    void speedWindowAveragesTheLastTenHalfSeconds() {
        SpeedWindow window;
        QCOMPARE(window.Update(5000), -1.0);  // after a reset only the byte count is taken
        QCOMPARE(window.Update(5000 + 1024), 2.0);
        QCOMPARE(window.Update(5000 + 1024), 1.0);  // a sample without bytes lowers the mean
        uint64_t bytes = 5000 + 1024;
        for (int i = 0; i < 12; ++i) window.Update(bytes += 4096);
        QCOMPARE(window.Update(bytes += 4096), 8.0);  // the older samples have left
        QCOMPARE(window.Update(100), -1.0);           // the next file started
        QCOMPARE(window.Update(100 + 2048), 4.0);
        QCOMPARE(PercentText(999, 1000), std::string("99% [999/1,000]"));
        const uint64_t sixGiB = 6ull << 30;
        QCOMPARE(PercentText(sixGiB / 4, sixGiB).substr(0, 4), std::string("25% "));
        QCOMPARE(PercentText(0, 0), std::string("100% [0/0]"));  // an empty file
    }

    void logDropsTheOldestHundredLinesPastThreeHundred() {
        LogView log;
        auto add = [&](int from, int to) {
            for (int i = from; i <= to; ++i)
                log.AddRecord({"line " + std::to_string(i), LOG_STATE, true, true});
            log.Flush();
        };
        add(1, 300);
        QCOMPARE(log.LineCount(), 300);
        add(301, 301);  // the 301st line removes lines 1 to 100 first
        QCOMPARE(log.LineCount(), 201);
        QCOMPARE(log.document()->firstBlock().text(), QString("State:>\t\tline 101"));
        add(302, 10301);  // a flood in one turn ends as if added one by one
        QCOMPARE(log.LineCount(), 201);
        QCOMPARE(log.document()->findBlockByNumber(log.LineCount() - 1).text(),
                 QString("State:>\t\tline 10301"));
        log.AddRecord({"220-first\r\r", LOG_REPLY, false, true});
        log.AddRecord({"\t\tsecond", LOG_REPLY, true, false});
        log.Flush();
        QCOMPARE(log.document()->findBlockByNumber(log.LineCount() - 2).text(),
                 QString("Reply:>\t220-first"));
        QCOMPARE(log.document()->findBlockByNumber(log.LineCount() - 1).text(),
                 QString("\t\tsecond"));
    }

    void overwriteCountdownAnswersTheSuggestedAction() {
        OverwriteQuestion question;
        question.suggested = kOverwrite;
        question.autoAction = kSkip;
        OverwriteDialog dialog(question, true, 3);
        QSignalSpy answered(&dialog, &OverwriteDialog::answered);
        dialog.Tick();
        dialog.Tick();
        QCOMPARE(answered.count(), 0);
        dialog.Tick();
        QCOMPARE(answered.count(), 1);
        QCOMPARE(answered[0][0].toInt(), int{kOverwrite});
        dialog.Tick();
        QCOMPARE(answered.count(), 1);  // answered once

        OverwriteDialog closed(question, false, 3);
        QSignalSpy skipped(&closed, &OverwriteDialog::answered);
        closed.reject();  // Escape or the close box
        QCOMPARE(skipped.count(), 1);
        QCOMPARE(skipped[0][0].toInt(), int{kSkip});
    }

    void optionsSheetChecksRangesAndRebuildsExtensions() {
        struct Case {
            const char* label;
            const char* text;
            bool accepted;
        };
        const Case cases[] = {
            {"Number of times to retry after failure:", "32767", true},
            {"Number of times to retry after failure:", "32768", false},
            {"Time to wait before retry:", "-1", false},
            {"Anti-idle command interval:", "100000", true},  // no range check
            {"Anti-idle command interval:", "ten", false},
            {"Seconds before the confirmation is dismissed", "1001", false},  // no label
        };
        AppSettings settings, result;
        QString error;
        settings.disableAllPrompt = true;
        for (const Case& c : cases) {
            OptionsSheet sheet(settings);
            QLineEdit* edit = EditFor(sheet, c.label);
            for (QLineEdit* named : sheet.findChildren<QLineEdit*>())
                if (named->accessibleName() == c.label) edit = named;
            QVERIFY2(edit, c.label);
            edit->setText(c.text);
            QVERIFY2(sheet.Collect(result, error) == c.accepted, c.label);
            QCOMPARE(error.isEmpty(), c.accepted);
            error.clear();
        }
        OptionsSheet untouched(settings);
        QVERIFY(untouched.Collect(result, error));
        QCOMPARE(result.textFileExtension, settings.textFileExtension);
        QVERIFY(result.disableAllPrompt);
        OptionsSheet shown(settings);
        shown.findChild<QTabWidget*>()->setCurrentIndex(2);
        EditFor(shown, "External Viewer:")->clear();
        QVERIFY(shown.Collect(result, error));
        QCOMPARE(result.textFileExtension, settings.textFileExtension + ";");
        QCOMPARE(result.viewerPath, std::string(kDefaultViewerPath));
    }

    void quickConnectLogsInAnonymouslyUnlessAUserIsTyped() {
        QTemporaryDir home;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        context.settings.lastPassword = context.settings.anonymousPass;
        MainWindow window(context);
        window.show();
        QCheckBox* anonymous = window.findChild<QCheckBox*>();
        QLineEdit* user = EditFor(window, "User:");
        QLineEdit* password = EditFor(window, "Password:");
        QLineEdit* port = EditFor(window, "Port:");
        QComboBox* url = BuddyOf<QComboBox>(window, "URL:");
        const int freePort = tarnwick::test::RefusingPort();
        struct Case {
            QString url, user, password, port;
            bool anonymous;
            std::string expectedUser, expectedPassword;
            int expectedPort;
        };
        const std::string anonymousPass = context.settings.anonymousPass;
        const QString free = QString::number(freePort);
        const Case cases[] = {
            {"127.0.0.1", "", "secret", free, false, "anonymous", anonymousPass, freePort},
            {"127.0.0.1", "alice", "secret", "", true, "anonymous", anonymousPass, 21},
            {"127.0.0.1", "alice", "secret", free, false, "alice", "secret", freePort},
            // A login and a port the URL names win over the bar's fields.
            {"ftp://bob:pw@127.0.0.1:" + free + "/", "carol", "x", "21", true, "bob", "pw",
             freePort},
        };
        for (const Case& c : cases) {
            url->setEditText(c.url);
            QTest::keyClicks(user, c.user);  // typing unchecks "Anonymous"
            QCOMPARE(anonymous->isChecked(), c.user.isEmpty());
            password->setText(c.password);
            port->setText(c.port);
            anonymous->setChecked(c.anonymous);
            QTest::keyClick(url->lineEdit(), Qt::Key_Return);
            QCoreApplication::processEvents();
            QCOMPARE(window.Settings().lastUser, c.expectedUser);
            QCOMPARE(window.Settings().lastPassword, c.expectedPassword);
            QCOMPARE(window.Settings().lastPort, c.expectedPort);
            user->clear();
        }
        QCOMPARE(window.Sessions().Size(), size_t{4});
        QCOMPARE(LoadHistory(context.programHome + "urlhis.txt").size(), size_t{2});
    }

    void closingAsksBeforeAbortingAndThenSavesSettingsAndPlacement() {
        QTemporaryDir home;
        const QString autosave = home.filePath("autosave.que");
        QFile stale(autosave);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        MemorySettingsStore store;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        context.settings.saveQueue = false;
        context.settings.wpWidth = 900;
        context.store = &store;
        MainWindow window(context);
        window.show();
        auto idle = std::make_shared<CFtpSession>(LoopbackSite(), nullptr, window.Bridge());
        auto busy = std::make_shared<CFtpSession>(LoopbackSite(), nullptr, window.Bridge());
        QVERIFY(busy->TryMarkBusy());  // transferring
        window.Sessions().Add(idle);
        window.Sessions().Add(busy);
        AnswerNextMessageBox(QMessageBox::Cancel);
        QVERIFY(!window.close());  // the abort question was cancelled
        QCOMPARE(window.Sessions().Size(), size_t{1});
        QVERIFY(!store.Contains("WPWidth"));  // nothing saved
        AnswerNextMessageBox(QMessageBox::Ok);
        QVERIFY(window.close());
        QVERIFY(!QFile::exists(autosave));  // SaveQueue off: the old queue goes
        QCOMPARE(LoadSettings(store, context.programHome, "/").wpWidth, 900);
    }

    // A question's dialog closes once its question is cancelled (the worker stopped waiting);
    // closing the window cancels a question a worker still waits for, within a bound.
    void questionDialogFollowsItsQuestionAndClosingCancelsIt() {
        QTemporaryDir home;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        MainWindow window(std::move(context));
        window.show();
        CFtpSession session(LoopbackSite(), nullptr, window.Bridge());
        window.Bridge().Track(session.Id());
        auto visibleBoxes = [] {
            int count = 0;
            for (QWidget* widget : QApplication::topLevelWidgets())
                count += qobject_cast<QMessageBox*>(widget) && widget->isVisible();
            return count;
        };
        auto cancelled = std::make_shared<Question>("Resume the queue?", kAskOkCancel);
        window.Bridge().OnQuestion(session, cancelled);
        QCoreApplication::processEvents();
        QCOMPARE(visibleBoxes(), 1);
        cancelled->Cancel();
        window.TimerTick();
        QCOMPARE(visibleBoxes(), 0);

        auto asked = std::make_shared<Question>("Resume the queue?", kAskOkCancel);
        std::atomic<bool> settled{false};
        std::thread worker([&] {  // waits as a session's worker does, with a bound
            for (int i = 0; i < 500 && !asked->Answered(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            settled = asked->Answered();
        });
        window.Bridge().OnQuestion(session, asked);
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(window.close());
        worker.join();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(settled);
        QCOMPARE(asked->AskResult(), int{kAnswerCancel});
        window.Bridge().Forget(session.Id());
    }

    void fileListMessageIsReadOnlyWhenWhole() {
        const QStringList paths = {"/home/u/a b.txt",
                                   QString::fromUtf8("/home/u/\xc3\xa9t\xc3\xa9")};
        const QByteArray message = EncodeFileList(paths);
        QByteArray buffer = message.left(message.size() - 3);
        QStringList received;
        QVERIFY(!DecodeFileList(buffer, received));
        buffer = message + message.left(2);
        QVERIFY(DecodeFileList(buffer, received));
        QCOMPARE(received, paths);
        QCOMPARE(buffer, message.left(2));  // the next message's start stays
    }
};

QTEST_MAIN(GuiTest)
#include "shell_test.moc"
