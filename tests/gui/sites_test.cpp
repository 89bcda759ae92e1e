// The site manager's edits and file, the TLS rules of sites and URLs, the certificate question
// and the destinations of pasted and typed URLs.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "gui_test_support.h"
#include "listing/directory_cache.h"
#include "panes/pane_rules.h"
#include "session/ftp_session.h"
#include "sites/certificate_dialog.h"
#include "sites/paste_url_dialog.h"
#include "sites/site_file.h"
#include "sites/site_manager_dialog.h"
#include "sites/tls_url.h"
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
    // Escape writes nothing; Close writes the edits, and typing a login makes it normal.
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
        QTest::keyClicks(EditFor(dialog, "&User Name:"), "bob");
        dialog.CloseAndSave();
        std::vector<SiteSetting> loaded;
        QCOMPARE(LoadSiteFile(Path(), loaded), SiteFileResult::kOk);
        QCOMPARE(loaded.size(), size_t{2});
        QCOMPARE(loaded[0].address + " " + loaded[0].username,
                 std::string("changed.example anonymousbob"));
        QCOMPARE(loaded[0].logintype, int{kLoginNormal});
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
    }

    // Choosing a mode moves a default port to the new mode's default; a port of the user's
    // own, and a record's port as shown, stay.
    void TlsModeMovesOnlyADefaultPort() {
        struct Case {
            QString port;
            int from, to;
            QString expected;
        };
        for (const Case& c : {Case{"21", kTlsNone, kTlsImplicit, "990"},
                              Case{"990", kTlsImplicit, kTlsExplicit, "21"},
                              Case{"2121", kTlsNone, kTlsImplicit, "2121"},   // own port
                              Case{"990", kTlsNone, kTlsExplicit, "990"}}) {  // not implicit
            std::vector<SiteSetting> sites = TwoSites();
            sites[0].tls = c.from;
            SiteManagerDialog dialog(sites, Path(), "me@x");
            EditFor(dialog, "P&ort:")->setText(c.port);
            auto* box = BuddyOf<QComboBox>(dialog, "Encr&yption:");
            box->setCurrentIndex(box->findData(c.to));
            QCOMPARE(EditFor(dialog, "P&ort:")->text(), c.expected);
            dialog.CloseAndSave();
            QCOMPARE(dialog.Sites()[0].tls, c.to);
        }
    }

    // A URL's TLS is never dropped: a typed secure scheme is kept, in any case; a site in
    // clear takes the URL's mode (and the implicit port), a listed secured site keeps its own,
    // and a session in clear does not serve it.
    void SecureUrlNeverGoesInClear() {
        for (const char* text : {"ftps://h/x", "FTPES://u@h:2121/"}) {
            QCOMPARE(QString::fromStdString(AsFtpUrl(text)), QString(text));
            QVERIFY(ClassifyAddress(text).kind == AddressKind::kFtpUrl);
        }
        QCOMPARE(QString::fromStdString(AsFtpUrl("h.example/x")), QString("ftp://h.example/x"));
        SiteSetting listed = LoopbackSite();
        listed.address = "secured.example";
        listed.tls = kTlsExplicit;
        const std::vector<SiteSetting> sites = {listed};
        UrlParts url;
        QVERIFY(ParseUrl("ftps://plain.example/x", url));
        const SiteSetting made = SiteForUrl(sites, url, "me@");
        QCOMPARE(made.tls, int{kTlsImplicit});
        QCOMPARE(made.port, 990);
        QVERIFY(!SessionMayServe(kTlsNone, url) && SessionMayServe(kTlsExplicit, url));
        QVERIFY(ParseUrl("ftps://secured.example/x", url));
        QCOMPARE(SiteForUrl(sites, url, "me@").tls, int{kTlsExplicit});
        QVERIFY(ParseUrl("ftp://plain.example/x", url));
        QVERIFY(SessionMayServe(kTlsNone, url));
    }

    // Only "Trust and remember" trusts; Return (Cancel is the default), Escape (Cancel) and
    // closing the window refuse.
    void CertificateQuestionIsTrustedOnlyOnRequest() {
        for (const char* how : {"trust", "return", "escape", "close"}) {
            MainWindowContext context;
            context.programHome = dir.path().toStdString() + "/";
            MainWindow window(std::move(context));
            CFtpSession session(LoopbackSite(), nullptr, window.Bridge());
            window.Bridge().Track(session.Id());
            auto asked = std::make_shared<Question>(CertificateQuestion{
                "::1", 990, "CN=a", "CN=a", "then", "later", "AB:CD", "self-signed certificate"});
            window.Bridge().OnQuestion(session, asked);
            CertificateDialog* dialog = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(
                (dialog = qobject_cast<CertificateDialog*>(QApplication::activeModalWidget())),
                2000);
            const QString way = how;
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            if (way == "trust") {
                for (QAbstractButton* b : buttons->buttons())
                    if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) b->click();
            } else if (way == "close") {
                dialog->close();
            } else {
                QTest::keyClick(dialog, way == "return" ? Qt::Key_Return : Qt::Key_Escape);
            }
            QVERIFY2(asked->Answered(), how);
            QCOMPARE(asked->AskResult(), int{way == "trust" ? kAnswerYes : kAnswerNo});
            window.Bridge().Forget(session.Id());
        }
    }

    // The host and path read from a typed destination or a pasted URL; empty: refused.
    void DestinationParsing() {
        const std::tuple<const char*, bool, const char*> cases[] = {
            {"h.example/up", true, "h.example/up"},         // the prefix is optional
            {"FTP://h.example/", true, "FTP//h.example/"},  // an upper-case prefix is kept
            {"h.example/up", false, ""},                    // a paste needs the scheme
            {"http://h.example/x", false, ""},
            {"ftp://u:p@h.example:2121/x", false, "h.example/x"},
            {"ftps://h.example/up", true, "h.example/up"},  // implicit TLS is kept
        };
        for (const auto& [text, prefixOptional, expected] : cases) {
            const auto url = ParseFtpUrlText(text, prefixOptional);
            QCOMPARE(url ? url->server + url->path : std::string(), std::string(expected));
        }
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
        const auto provider = [&](const UrlParts&, bool) {
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
