#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "gui_test_support.h"
#include "listing/directory_cache.h"
#include "session/ftp_session.h"
#include "sites/paste_url_dialog.h"
#include "sites/site_file.h"
#include "sites/site_manager_dialog.h"
#include "sites/transfer_url.h"

namespace tarnwick::gui::test {

class SitesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::string Path() const { return (dir.path() + "/site.dat").toStdString(); }
    std::vector<SiteSetting> TwoSites() {
        SiteSetting a = NewSiteSetting("me@x");
        a.name = "alpha";
        a.address = "a.example";
        SiteSetting b = a;
        b.name = "beta";
        b.address = "b.example";
        return {a, b};
    }
    QByteArray FileBytes() {
        QFile file(QString::fromStdString(Path()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void EscapeLeavesFileUntouchedAndCloseWritesIt() {
        QCOMPARE(SaveSiteFile(Path(), TwoSites()), SiteFileResult::kOk);
        const QByteArray before = FileBytes();
        {
            SiteManagerDialog dialog(TwoSites(), Path(), "me@x");
            EditFor(dialog, "&Host Address:")->setText("changed.example");
            dialog.findChild<QListWidget*>()->setCurrentRow(1);  // stores the edit
            dialog.reject();
            QCOMPARE(FileBytes(), before);
        }
        SiteManagerDialog dialog(TwoSites(), Path(), "me@x");
        EditFor(dialog, "&Host Address:")->setText("changed.example");
        dialog.CloseAndSave();
        std::vector<SiteSetting> loaded;
        QCOMPARE(LoadSiteFile(Path(), loaded), SiteFileResult::kOk);
        QCOMPARE(loaded.size(), size_t{2});
        QCOMPARE(loaded[0].address, std::string("changed.example"));
    }

    void AddRefusesCaseInsensitiveDuplicateAndNamesByAddress() {
        SiteManagerDialog dialog(TwoSites(), Path(), "me@x");
        auto* list = dialog.findChild<QListWidget*>();
        dialog.NewOrAdd();  // enters adding mode with a cleared form
        EditFor(dialog, "&Site Name:")->setText("ALPHA");
        EditFor(dialog, "&Host Address:")->setText("c.example");
        AnswerNextMessageBox(QMessageBox::Ok);
        dialog.NewOrAdd();
        QCOMPARE(list->count(), 2);
        EditFor(dialog, "&Site Name:")->clear();
        dialog.NewOrAdd();
        QCOMPARE(list->count(), 3);
        QCOMPARE(dialog.Sites().back().name, std::string("c.example"));
        AnswerNextMessageBox(QMessageBox::Ok);  // an empty address is refused
        dialog.NewOrAdd();
        dialog.NewOrAdd();
        QCOMPARE(list->count(), 3);
    }

    void RenameAndDeleteKeepEntriesOnTheirRecords() {
        SiteManagerDialog dialog(TwoSites(), Path(), "me@x");
        auto* list = dialog.findChild<QListWidget*>();
        QTest::keyClicks(EditFor(dialog, "&Site Name:"), "2");
        QCOMPARE(list->item(0)->text(), QString("alpha2"));
        dialog.Delete();  // removes alpha2, shows beta
        QCOMPARE(dialog.Sites().size(), size_t{1});
        QCOMPARE(EditFor(dialog, "&Host Address:")->text(), QString("b.example"));
        dialog.Delete();  // the list is empty: adding mode with a fresh form
        QCOMPARE(list->count(), 0);
        QCOMPARE(EditFor(dialog, "P&ort:")->text(), QString("21"));
    }

    void TypingALoginMakesItNormal() {
        SiteManagerDialog dialog(TwoSites(), Path(), "me@x");
        QTest::keyClicks(EditFor(dialog, "&User Name:"), "bob");
        dialog.CloseAndSave();
        QCOMPARE(dialog.Sites()[0].logintype, int{kLoginNormal});
        QCOMPARE(dialog.Sites()[0].username, std::string("anonymousbob"));
    }

    void DestinationParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prefixOptional");
        QTest::addColumn<QString>("host");  // empty: refused
        QTest::addColumn<QString>("path");
        QTest::newRow("with prefix") << "ftp://h.example/up" << true << "h.example"
                                     << "/up";
        QTest::newRow("without prefix") << "h.example/up" << true << "h.example"
                                        << "/up";
        QTest::newRow("upper prefix kept") << "FTP://h.example/" << true << "FTP"
                                           << "//h.example/";
        QTest::newRow("paste needs scheme") << "h.example/up" << false << ""
                                            << "";
        QTest::newRow("paste http refused") << "http://h.example/x" << false << ""
                                            << "";
        QTest::newRow("paste ftp") << "ftp://u:p@h.example:2121/x" << false << "h.example"
                                   << "/x";
    }
    void DestinationParsing() {
        QFETCH(QString, text);
        QFETCH(bool, prefixOptional);
        QFETCH(QString, host);
        QFETCH(QString, path);
        const auto url = ParseFtpUrlText(text.toStdString(), prefixOptional);
        const QString got = url ? QString::fromStdString(url->server + url->path) : QString();
        QCOMPARE(got, host + path);
    }

    void UploadItemsSkipMissingAndMarkDirectories() {
        const std::vector<LocalPathFacts> facts = {{"/l/a.txt", true, false, 10},
                                                   {"/l/gone", false, false, -1},
                                                   {"/l/dir", true, true, -1}};
        std::vector<std::string> missing;
        const auto items = BuildUploadItems(facts, "/up", missing);
        QCOMPARE(missing, std::vector<std::string>{"/l/gone"});
        QCOMPARE(items.size(), size_t{2});
        QCOMPARE(items[0]->operation, QueueOperation::kUpload);
        QCOMPARE(items[0]->serverPath, std::string("/up"));
        QCOMPARE(items[0]->Size(), int64_t{10});
        QCOMPARE(items[1]->kind, QueueItemKind::kDirectory);
    }

    // A pasted URL is queued with the size the directory cache knows, else unknown; one the
    // cache knows as a directory is queued as a tree.
    void PasteUrlTakesTheSizeFromTheDirectoryCache() {
        auto settings = std::make_shared<AppSettings>();
        settings->cacheHomeDirectory = dir.path().toStdString() + "/cache/";
        QVERIFY(UpdateDirectoryCache({settings->cacheHomeDirectory, true}, "127.0.0.1", "/pub",
                                     "-rw-r--r-- 1 u g 5000000000 Jan 01  2020 big.iso\r\n"
                                     "drwxr-xr-x 1 u g 4096 Jan 01  2020 releases\r\n") == 1);
        SessionObserver quiet;
        CFtpSession session(LoopbackSite(), settings, quiet);
        const auto provider = [&](const std::string&, bool) {
            return std::shared_ptr<CFtpSession>(&session, [](CFtpSession*) {});
        };
        for (const char* name : {"big.iso", "other.iso", "releases"}) {
            QGuiApplication::clipboard()->setText(QStringLiteral("ftp://127.0.0.1/pub/") + name);
            QTimer::singleShot(0, [] {  // OK, with "Add to queue only" ticked
                auto* dialog = qobject_cast<PasteUrlDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog != nullptr);
                for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
                    box->setChecked(box->text().contains(QStringLiteral("Queue")));
                dialog->accept();
            });
            QVERIFY(PasteUrl(nullptr, dir.path().toStdString(), provider));
        }
        const auto items = session.queue.Snapshot();
        QCOMPARE(items.size(), size_t{3});
        QCOMPARE(items[0]->Size(), int64_t{5000000000});
        QCOMPARE(items[1]->Size(), kUnknownSize);
        QCOMPARE(items[2]->kind, QueueItemKind::kDirectory);
    }
};

}  // namespace tarnwick::gui::test

QTEST_MAIN(tarnwick::gui::test::SitesTest)
#include "sites_test.moc"
