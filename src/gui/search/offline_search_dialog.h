// The Offline Search dialog: finds entries by name in the listings of the directory cache,
// without any connection, and lists them as ftp:// URLs that can be copied or opened.
//
// The search walk runs on a worker thread of the dialog's own. The worker only appends to a
// shared channel (results, the directory being searched); the GUI thread takes what has
// gathered every 50 ms (and at once for the first result and at the end), so the result list
// grows by one inserted range per batch and the GUI stays responsive however many results
// come. The dialog's destruction stops the worker and waits for it for a bounded time only;
// a worker still busy after that (a stuck disk) is left to end on its own, holding no
// pointer to the dialog.
//
// Threads: the dialog and its model live on the GUI thread; the worker touches only the
// shared channel. Ownership: widgets by Qt parent/child; the channel is shared by the dialog
// and the worker.
#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QStringList>
#include <memory>
#include <string>
#include <thread>

#include "search/offline_search.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QTableView;

namespace tarnwick::gui {

// The search results, one ftp:// URL per row, appended a batch at a time.
// Threads: the GUI thread.
class SearchResultModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // Appends the batch as one inserted range; an empty batch changes nothing.
    void Append(const QStringList& batch);
    void Clear();
    QString Url(int row) const { return urls.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QStringList urls;
};

struct SearchChannel;  // what the dialog and its worker share

class OfflineSearchDialog : public QDialog {
    Q_OBJECT

public:
    // Lists the sites cached under `cacheHome` as the sites available for searching.
    explicit OfflineSearchDialog(const std::string& cacheHome, QWidget* parent = nullptr);
    ~OfflineSearchDialog() override;

    bool Searching() const { return worker.joinable(); }
    const SearchResultModel& Results() const { return *results; }
    QString StatusText() const;
    QString CountText() const;

signals:
    // "Open in Browser": the URL of the chosen result, to be opened in a site view.
    void openUrlRequested(const QString& url);
    // "Download..." / "Download All...": the URLs of the chosen (or all) results, to be queued
    // for download.
    void downloadRequested(const QStringList& urls);
    // The walk has ended (completed, cancelled or a bad pattern) and the controls are back.
    void searchFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void StartOrStop();
    void StartSearch();
    void RequestStop();
    void TakeBatch();
    void FinishSearch(const OfflineSearchResult& outcome);
    void SetControlsEnabled(bool enabled);
    void MoveSites(QListWidget* from, QListWidget* to, bool all);
    QStringList SelectedUrls() const;
    QStringList AllUrls() const;
    void CopySelected();
    void OpenSelected();
    void StopWorker();

    std::string cacheHome;
    bool stopping = false;
    std::shared_ptr<SearchChannel> channel;
    std::thread worker;

    QListWidget* availableSites = nullptr;
    QListWidget* sitesToSearch = nullptr;
    QPushButton* moveButtons[4] = {};
    QLineEdit* fileToSearch = nullptr;
    QCheckBox* useRegularExpression = nullptr;
    QPushButton* searchButton = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* statusLabel = nullptr;
    SearchResultModel* results = nullptr;
    QTableView* resultList = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* downloadButton = nullptr;
    QPushButton* downloadAllButton = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* closeButton = nullptr;
    QTimer* batchTimer = nullptr;
};

}  // namespace tarnwick::gui
