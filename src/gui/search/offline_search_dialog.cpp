#include "search/offline_search_dialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "listing/clipboard_urls.h"

namespace tarnwick::gui {

// The dialog waits this long for its worker when destroyed mid-search.
constexpr std::chrono::milliseconds kWorkerStopBound{2000};
constexpr int kBatchIntervalMs = 50;
constexpr int kWorkerBatch = 4096;
constexpr int kRowsPerBatchMs = 2000;
constexpr int kSiteKeyRole = Qt::UserRole;  // the site directory's name, as bytes

struct SearchChannel {
    std::mutex mutex;
    std::condition_variable ended;
    OfflineSearchDialog* receiver = nullptr;  // null once the dialog no longer listens
    QStringList pending;                      // results the GUI has not taken yet
    std::string directory;                    // the directory being searched
    bool firstResultPosted = false;
    bool done = false;
    std::atomic<bool> stop{false};

    // Runs `call` on the receiver's thread, unless the receiver is gone. Holding the lock
    // keeps the receiver alive while the call is posted.
    template <typename Call>
    void PostLocked(Call call) {
        if (receiver != nullptr) QMetaObject::invokeMethod(receiver, call, Qt::QueuedConnection);
    }
};

void SearchResultModel::Append(const QStringList& batch) {
    if (batch.isEmpty()) return;
    beginInsertRows({}, static_cast<int>(urls.size()),
                    static_cast<int>(urls.size() + batch.size() - 1));
    urls.append(batch);
    endInsertRows();
}

void SearchResultModel::Clear() {
    beginResetModel();
    urls.clear();
    endResetModel();
}

int SearchResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(urls.size());
}

QVariant SearchResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= urls.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return urls.at(index.row());
    return {};
}

OfflineSearchDialog::OfflineSearchDialog(const std::string& cacheHome, QWidget* parent)
    : QDialog(parent), cacheHome(cacheHome) {
    setWindowTitle(tr("Offline Search"));
    auto plainLabel = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);  // "<search>" and directory names are no markup
        return label;
    };
    auto button = [this](const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        return b;
    };

    availableSites = new QListWidget(this);
    sitesToSearch = new QListWidget(this);
    for (QListWidget* list : {availableSites, sitesToSearch})
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const std::string& site : CachedSites(cacheHome)) {
        auto* item = new QListWidgetItem(QString::fromStdString(site), availableSites);
        item->setData(kSiteKeyRole, QByteArray::fromStdString(site));
    }
    auto* availableLabel = new QLabel(tr("Available Sites:"), this);
    availableLabel->setBuddy(availableSites);
    auto* searchLabel = new QLabel(tr("Sites to search:"), this);
    searchLabel->setBuddy(sitesToSearch);
    const struct {
        const char* text;
        const char* tip;
        bool toSearch;
        bool all;
    } moves[4] = {
        {">", QT_TR_NOOP("Search the selected sites"), true, false},
        {">>", QT_TR_NOOP("Search all sites"), true, true},
        {"<", QT_TR_NOOP("Do not search the selected sites"), false, false},
        {"<<", QT_TR_NOOP("Search no site"), false, true},
    };
    auto* moveColumn = new QVBoxLayout;
    moveColumn->addStretch();
    for (int i = 0; i < 4; ++i) {
        moveButtons[i] = button(QString::fromLatin1(moves[i].text), tr(moves[i].tip));
        moveButtons[i]->setAccessibleName(tr(moves[i].tip));
        moveColumn->addWidget(moveButtons[i]);
        const bool toSearch = moves[i].toSearch;
        const bool all = moves[i].all;
        connect(moveButtons[i], &QPushButton::clicked, this, [this, toSearch, all] {
            if (toSearch)
                MoveSites(availableSites, sitesToSearch, all);
            else
                MoveSites(sitesToSearch, availableSites, all);
        });
    }
    moveColumn->addStretch();

    fileToSearch = new QLineEdit(this);
    auto* fileLabel = new QLabel(tr("File to search:"), this);
    fileLabel->setBuddy(fileToSearch);
    useRegularExpression = new QCheckBox(tr("Regular Expression"), this);
    useRegularExpression->setToolTip(tr("The text is a pattern, not a wildcard"));
    searchButton = button(tr("Search"), tr("Start or stop searching"));
    searchButton->setDefault(true);
    connect(searchButton, &QPushButton::clicked, this, &OfflineSearchDialog::StartOrStop);

    countLabel = plainLabel(tr("Result list: 0 files found."));
    statusLabel = plainLabel(tr("Click <search> button to start searching."));
    results = new SearchResultModel(this);
    // A one-column table: its rows are header sections of one height, so a batch costs
    // little however long the list is (list and tree views lay out every row again).
    resultList = new QTableView(this);
    resultList->setModel(results);
    resultList->setShowGrid(false);
    resultList->setWordWrap(false);
    resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    resultList->horizontalHeader()->hide();
    resultList->horizontalHeader()->setMinimumSectionSize(800);  // scrolls sideways from 800 px
    resultList->horizontalHeader()->setStretchLastSection(true);
    resultList->verticalHeader()->hide();
    resultList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    resultList->verticalHeader()->setDefaultSectionSize(resultList->fontMetrics().height() + 4);
    resultList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    resultList->setAccessibleName(tr("Result list"));
    resultList->setMinimumSize(560, 180);
    connect(resultList, &QTableView::activated, this, &OfflineSearchDialog::OpenSelected);

    copyButton = button(tr("Copy URL"), tr("Copy the selected results' URLs"));
    connect(copyButton, &QPushButton::clicked, this, &OfflineSearchDialog::CopySelected);
    downloadButton = button(tr("Download..."), tr("Download the selected results"));
    connect(downloadButton, &QPushButton::clicked, this, [this] {
        if (const QStringList urls = SelectedUrls(); !urls.isEmpty()) emit downloadRequested(urls);
    });
    downloadAllButton = button(tr("Download All..."), tr("Download all results"));
    connect(downloadAllButton, &QPushButton::clicked, this, [this] {
        if (const QStringList urls = AllUrls(); !urls.isEmpty()) emit downloadRequested(urls);
    });
    openButton = button(tr("Open in Browser"), tr("Open the selected result in a site view"));
    connect(openButton, &QPushButton::clicked, this, &OfflineSearchDialog::OpenSelected);
    closeButton = button(tr("Close"), tr("Close the window"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(availableLabel, 0, 0);
    grid->addWidget(searchLabel, 0, 2);
    grid->addWidget(availableSites, 1, 0);
    grid->addLayout(moveColumn, 1, 1);
    grid->addWidget(sitesToSearch, 1, 2);
    auto* patternRow = new QHBoxLayout;
    patternRow->addWidget(fileLabel);
    patternRow->addWidget(fileToSearch, 1);
    patternRow->addWidget(useRegularExpression);
    patternRow->addWidget(searchButton);
    auto* buttonRow = new QHBoxLayout;
    for (QPushButton* b : {copyButton, downloadButton, downloadAllButton, openButton})
        buttonRow->addWidget(b);
    buttonRow->addStretch();
    buttonRow->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(patternRow);
    layout->addWidget(countLabel);
    layout->addWidget(resultList, 3);
    layout->addWidget(statusLabel);
    layout->addLayout(buttonRow);

    batchTimer = new QTimer(this);
    batchTimer->setInterval(kBatchIntervalMs);
    connect(batchTimer, &QTimer::timeout, this, &OfflineSearchDialog::TakeBatch);
    fileToSearch->setFocus();
}

OfflineSearchDialog::~OfflineSearchDialog() {
    StopWorker();
}

void OfflineSearchDialog::StopWorker() {
    if (!worker.joinable()) return;
    std::unique_lock lock(channel->mutex);
    channel->receiver = nullptr;
    channel->stop = true;
    const bool ended =
        channel->ended.wait_for(lock, kWorkerStopBound, [this] { return channel->done; });
    lock.unlock();
    // A worker that did not end in time only holds the channel, which it shares.
    if (ended)
        worker.join();
    else
        worker.detach();
}

QString OfflineSearchDialog::StatusText() const {
    return statusLabel->text();
}

QString OfflineSearchDialog::CountText() const {
    return countLabel->text();
}

void OfflineSearchDialog::StartOrStop() {
    if (Searching())
        RequestStop();
    else
        StartSearch();
}

void OfflineSearchDialog::StartSearch() {
    OfflineSearchRequest request;
    request.cacheHome = cacheHome;
    for (int row = 0; row < sitesToSearch->count(); ++row)
        request.sites.push_back(
            sitesToSearch->item(row)->data(kSiteKeyRole).toByteArray().toStdString());
    request.text = fileToSearch->text().toStdString();
    request.useRegularExpression = useRegularExpression->isChecked();

    searchButton->setText(tr("Stop"));
    results->Clear();
    SetControlsEnabled(false);
    countLabel->setText(tr("Results: %1 files found.").arg(0));
    channel = std::make_shared<SearchChannel>();
    channel->receiver = this;
    batchTimer->setInterval(kBatchIntervalMs);
    worker = std::thread([channel = channel, request = std::move(request)] {
        // Results gather here and reach the channel once per directory (or every
        // kWorkerBatch results), so the lock is not taken for every result.
        QStringList found;
        auto handOver = [&channel, &found] {
            if (found.isEmpty()) return;
            const std::lock_guard lock(channel->mutex);
            channel->pending.append(std::move(found));
            found.clear();
            if (channel->firstResultPosted) return;
            channel->firstResultPosted = true;
            auto* dialog = channel->receiver;
            channel->PostLocked([dialog] { dialog->TakeBatch(); });
        };
        OfflineSearchCallbacks callbacks;
        callbacks.searchingDirectory = [&channel, &handOver](const std::string& directory) {
            handOver();
            const std::lock_guard lock(channel->mutex);
            channel->directory = directory;
        };
        callbacks.resultFound = [&found, &handOver, first = true](const std::string& url) mutable {
            found.append(QString::fromStdString(url));  // decoded here, not on the GUI thread
            if (first || found.size() >= kWorkerBatch) handOver();
            first = false;
        };
        callbacks.stopRequested = [&channel] { return channel->stop.load(); };
        const OfflineSearchResult outcome = RunOfflineSearch(request, callbacks);
        handOver();
        const std::lock_guard lock(channel->mutex);
        auto* dialog = channel->receiver;
        channel->PostLocked([dialog, outcome] { dialog->FinishSearch(outcome); });
        channel->done = true;
        channel->ended.notify_all();
    });
    batchTimer->start();
}

void OfflineSearchDialog::RequestStop() {
    searchButton->setEnabled(false);
    stopping = true;
    channel->stop = true;
    statusLabel->setText(tr("Stopping search..."));
}

void OfflineSearchDialog::TakeBatch() {
    if (!channel) return;
    QStringList batch;
    std::string directory;
    {
        const std::lock_guard lock(channel->mutex);
        batch.swap(channel->pending);
        directory = channel->directory;
    }
    if (!stopping && !directory.empty())
        statusLabel->setText(tr("Searching %1...").arg(QString::fromStdString(directory)));
    if (batch.isEmpty()) return;
    results->Append(batch);
    const int rows = results->rowCount();
    countLabel->setText(tr("Results: %1 files found.").arg(rows));
    // A batch costs the view work in proportion to the whole list: a long list gets fewer,
    // larger batches, so that the view's share of the search stays bounded.
    batchTimer->setInterval(std::max(kBatchIntervalMs, rows / kRowsPerBatchMs));
    resultList->scrollToBottom();
}

void OfflineSearchDialog::FinishSearch(const OfflineSearchResult& outcome) {
    batchTimer->stop();
    worker.join();  // it has posted this call as its last step
    TakeBatch();
    switch (outcome.outcome) {
        case SearchOutcome::kCompleted:
            statusLabel->setText(tr(kSearchCompletedText.data()));
            break;
        case SearchOutcome::kCancelled:
            statusLabel->setText(tr(kSearchCancelledText.data()));
            break;
        case SearchOutcome::kPatternError:
            statusLabel->setText(tr("Bad pattern: %1 at position %2")
                                     .arg(QString::fromStdString(outcome.compile.message))
                                     .arg(outcome.compile.position));
            break;
    }
    channel.reset();
    stopping = false;
    searchButton->setText(tr("Search"));
    searchButton->setEnabled(true);
    SetControlsEnabled(true);
    emit searchFinished();
}

void OfflineSearchDialog::SetControlsEnabled(bool enabled) {
    for (QPushButton* b : moveButtons) b->setEnabled(enabled);
    for (QWidget* w :
         std::initializer_list<QWidget*>{fileToSearch, useRegularExpression, closeButton,
                                         copyButton, downloadButton, downloadAllButton, openButton})
        w->setEnabled(enabled);
}

void OfflineSearchDialog::MoveSites(QListWidget* from, QListWidget* to, bool all) {
    for (int row = 0; row < from->count();) {
        if (!all && !from->item(row)->isSelected()) {
            ++row;
            continue;
        }
        QListWidgetItem* item = from->takeItem(row);
        item->setSelected(false);
        to->addItem(item);
    }
}

QStringList OfflineSearchDialog::AllUrls() const {
    QStringList urls;
    urls.reserve(results->rowCount());
    for (int row = 0; row < results->rowCount(); ++row) urls << results->Url(row);
    return urls;
}

QStringList OfflineSearchDialog::SelectedUrls() const {
    QModelIndexList rows = resultList->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList urls;
    for (const QModelIndex& index : rows) urls.append(results->Url(index.row()).trimmed());
    return urls;
}

void OfflineSearchDialog::CopySelected() {
    std::vector<std::string> texts;
    for (const QString& url : SelectedUrls()) texts.push_back(url.toStdString());
    if (texts.empty()) return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(JoinClipboardText(texts)));
}

void OfflineSearchDialog::OpenSelected() {
    if (Searching()) return;
    const QModelIndex current = resultList->currentIndex();
    if (!current.isValid() || !resultList->selectionModel()->isSelected(current)) return;
    emit openUrlRequested(results->Url(current.row()).trimmed());
}

void OfflineSearchDialog::closeEvent(QCloseEvent* event) {
    if (!Searching()) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    QMessageBox::information(this, windowTitle(),
                             stopping ? tr("Please wait until the searching is stopped.")
                                      : tr("Please stop searching first!"));
}

void OfflineSearchDialog::reject() {
    if (!Searching()) QDialog::reject();  // Escape is ignored while a search runs
}

}  // namespace tarnwick::gui
