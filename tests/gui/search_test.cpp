// The offline search dialog over a cache written by the directory cache: what it finds and
// says at the end, results arriving in batches while the walk runs, Stop, and destruction
// mid-search.
#include <QCheckBox>
#include <QTemporaryDir>
#include <QtTest>

#include "gui_test_support.h"
#include "listing/directory_cache.h"
#include "search/offline_search_dialog.h"

namespace tarnwick::gui::test {

constexpr int kBigDirectories = 3000, kBigFilesEach = 30;

std::string Line(const std::string& name, bool directory = false) {
    return std::string(directory ? "d" : "-") + "rw-r--r-- 1 u g 12 Jan  5 10:00 " + name + "\n";
}

QPushButton* ButtonOf(QWidget& dialog, const QString& text) {
    for (auto* button : dialog.findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

class SearchTest : public QObject {
    Q_OBJECT

    QTemporaryDir small, big;

    // A dialog that has started searching every site cached under `home` for `text`.
    std::unique_ptr<OfflineSearchDialog> Start(const QTemporaryDir& home, const QString& text,
                                               bool regex = false) {
        auto dialog = std::make_unique<OfflineSearchDialog>(home.path().toStdString());
        EditFor(*dialog, QStringLiteral("File to search:"))->setText(text);
        dialog->findChild<QCheckBox*>()->setChecked(regex);
        ButtonOf(*dialog, QStringLiteral(">>"))->click();
        ButtonOf(*dialog, QStringLiteral("Search"))->click();
        return dialog;
    }

private slots:
    void initTestCase() {
        const CacheConfig c{small.path().toStdString()}, many{big.path().toStdString()};
        UpdateDirectoryCache(c, "alpha", "/", Line("a.txt") + Line("a.txt~") + Line("pub", true));
        UpdateDirectoryCache(c, "alpha", "/pub", Line("a.txt") + Line("[x].c"));
        UpdateDirectoryCache(c, "beta", "/", Line("notes.txt"));
        std::string root, files;
        for (int i = 0; i < kBigDirectories; ++i) root += Line("d" + std::to_string(i), true);
        for (int i = 0; i < kBigFilesEach; ++i) files += Line(std::to_string(i) + ".txt");
        UpdateDirectoryCache(many, "site", "/", root);
        for (int i = 0; i < kBigDirectories; ++i)
            UpdateDirectoryCache(many, "site", "/d" + std::to_string(i), files);
    }

    // Wildcards (a bracket keeps its meaning as a set: "[x].c" is not found), a pattern, and
    // one that does not compile.
    void FindsWholeNamesAndSaysHowItEnded() {
        const QStringList txt{"ftp://alpha/a.txt", "ftp://alpha/pub/a.txt", "ftp://beta/notes.txt"};
        struct Case {
            QString text;
            bool regex;
            QStringList urls;
        };
        for (const Case& c : {Case{"*.txt", false, txt}, Case{"[x].c", false, {}},
                              Case{"(a|notes)\\.txt", true, txt}, Case{"(a", true, {}}}) {
            auto dialog = Start(small, c.text, c.regex);
            QSignalSpy finished(dialog.get(), &OfflineSearchDialog::searchFinished);
            QVERIFY(finished.wait(5000));
            QStringList found;
            for (int row = 0; row < dialog->Results().rowCount(); ++row)
                found << dialog->Results().Url(row);
            QCOMPARE(found, c.urls);
            const bool bad = c.text == "(a";
            QVERIFY(dialog->StatusText().startsWith(bad ? "Bad pattern: " : "Searching completed"));
            QCOMPARE(dialog->CountText(),
                     QStringLiteral("Results: %1 files found.").arg(c.urls.size()));
        }
    }

    void ResultsStreamInBatchesStopCancelsAndDestructionEndsTheWalk() {
        auto dialog = Start(big, QStringLiteral("*.txt"));
        int batches = 0, beforeTheEnd = 0;
        connect(&dialog->Results(), &QAbstractItemModel::rowsInserted, this,
                [&] { beforeTheEnd += ++batches && dialog->Searching(); });
        QSignalSpy finished(dialog.get(), &OfflineSearchDialog::searchFinished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(dialog->Results().rowCount(), kBigDirectories * kBigFilesEach);
        QVERIFY2(batches < 200 && beforeTheEnd > 0, qPrintable(QString::number(batches)));

        QPushButton* search = ButtonOf(*dialog, QStringLiteral("Search"));
        search->click();
        search->click();  // now "Stop"
        QCOMPARE(dialog->StatusText(), QStringLiteral("Stopping search..."));
        QVERIFY(finished.wait(5000));
        QCOMPARE(dialog->StatusText(), QStringLiteral("Searching cancelled by user!"));

        dialog = Start(big, QStringLiteral("*"));  // destroyed mid-walk: nothing may post to it
        dialog.reset();
        QTest::qWait(100);
    }
};

}  // namespace tarnwick::gui::test

QTEST_MAIN(tarnwick::gui::test::SearchTest)
#include "search_test.moc"
