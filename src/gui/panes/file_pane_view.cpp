#include "panes/file_pane_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QStackedWidget>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <set>

#include "listing/clipboard_urls.h"
#include "listing/local_files.h"
#include "listing/paths.h"
#include "listing/url.h"
#include "panes/tree_cache_dialog.h"
#include "prompts/confirm_dialog.h"

namespace tarnwick::gui {

namespace {
std::string Utf8(const QString& text) {
    return text.toStdString();
}
}  // namespace

FilePaneView::FilePaneView(QWidget* parent) : QWidget(parent) {
    model = new LocalFileModel(this);
    Build();
}

FilePaneView::FilePaneView(SessionId session, QString host, QString directory, CommandPoster poster,
                           QWidget* parent)
    : QWidget(parent),
      remote(true),
      session(session),
      host(std::move(host)),
      directory(std::move(directory)),
      poster(std::move(poster)) {
    model = new RemoteFileModel(this);
    Build();
}

void FilePaneView::Build() {
    stack = new QStackedWidget(this);
    tree = new QTreeView(stack);
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setSortingEnabled(false);
    tree->header()->setSectionsClickable(true);
    tree->header()->setSortIndicatorShown(true);
    icons = new QListView(stack);
    icons->setResizeMode(QListView::Adjust);
    icons->setUniformItemSizes(true);
    const int widths[] = {150, 100, 50, remote ? 120 : 150, 80, 150};
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(tree), static_cast<QAbstractItemView*>(icons)}) {
        view->setModel(model);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::EditKeyPressed);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        view->setDragEnabled(true);
        view->setAccessibleName(remote ? tr("Remote files") : tr("Local files"));
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        connect(view, &QAbstractItemView::doubleClicked, this,
                [this](const QModelIndex&) { ActivateCurrent(); });
        connect(view, &QWidget::customContextMenuRequested, this, &FilePaneView::ShowPopup);
    }
    icons->setSelectionModel(tree->selectionModel());
    for (int column = 0; column < model->columnCount(); ++column)
        tree->setColumnWidth(column, widths[column]);
    connect(tree->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        model->ToggleSort(column);
        tree->header()->setSortIndicator(
            column, model->SortDirection(column) > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    });
    connect(model, &FileModel::renameRequested, this, [this](int row, const QString& name) {
        if (!remote) {
            RenameLocal(row, name);
            return;
        }
        PostRename(model->Entry(row).name, Utf8(name.trimmed()));
    });
    stack->addWidget(icons);
    stack->addWidget(tree);
    stack->setCurrentWidget(tree);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack);
    setFocusProxy(tree);
}

QAbstractItemView* FilePaneView::CurrentView() const {
    return mode == PaneViewMode::kDetails ? static_cast<QAbstractItemView*>(tree) : icons;
}

void FilePaneView::SetViewMode(PaneViewMode newMode) {
    mode = newMode;
    if (mode == PaneViewMode::kDetails) {
        stack->setCurrentWidget(tree);
    } else {
        const bool large = mode == PaneViewMode::kLargeIcons;
        icons->setViewMode(mode == PaneViewMode::kList ? QListView::ListMode : QListView::IconMode);
        icons->setFlow(mode == PaneViewMode::kList ? QListView::TopToBottom
                                                   : QListView::LeftToRight);
        icons->setWrapping(true);
        icons->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
        icons->setGridSize(large ? QSize(96, 64) : QSize());
        stack->setCurrentWidget(icons);
    }
    setFocusProxy(CurrentView());
}

void FilePaneView::Message(const QString& text) {
    QMessageBox::warning(this, tr("Tarnwick"), text);
}

// ---- local pane ----

bool FilePaneView::FillLocal(const QString& dir, const QString& newPattern) {
    if (dir.isEmpty()) return false;
    const std::string path = StripTrailingSeparator(Utf8(QDir::cleanPath(dir)));
    if (!FileExists(path) || IsDirectoryPath(path) != 1) {
        Message(tr("Invalid Path!"));
        return false;
    }
    FileEntryList entries;
    ListLocalDirectory(path, Utf8(newPattern), entries);
    const QString previous = directory;
    directory = QString::fromStdString(path);
    pattern = newPattern;
    model->SetEntries(std::move(entries));
    // Coming up from a child: the directory just left becomes the selected item.
    if (!previous.isEmpty() && ParentPath(Utf8(previous)) == path) {
        const int row = model->RowOfName(QString::fromStdString(LastComponent(Utf8(previous))));
        if (row >= 0) {
            const QModelIndex index = model->index(row, 0);
            tree->selectionModel()->setCurrentIndex(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            CurrentView()->scrollTo(index);
        }
    }
    emit directoryShown(directory);
    return true;
}

void FilePaneView::ChangeLocalDirectory(const QString& text) {
    const LocalPathSplit split = SplitLocalPath(Utf8(text));
    if (split.directory.empty() || IsDirectoryPath(split.directory) != 1) {
        Message(tr("Invalid Path!"));
        return;
    }
    FillLocal(QString::fromStdString(split.directory), QString::fromStdString(split.pattern));
}

bool FilePaneView::RenameLocal(int row, const QString& newName) {
    const std::string from = JoinPath(Utf8(directory), model->Entry(row).name, '/');
    const std::string to = JoinPath(Utf8(directory), Utf8(newName.trimmed()), '/');
    const bool renamed = std::rename(from.c_str(), to.c_str()) == 0;
    Refresh();
    return renamed;
}

// Permanent deletes may walk whole trees, so they run as a job; moving to the trash is one
// rename per entry.
void FilePaneView::DeleteLocal(bool permanent) {
    QStringList paths;
    for (int row : SelectedRows())
        paths << QString::fromStdString(JoinPath(Utf8(directory), model->Entry(row).name, '/'));
    if (permanent) {
        RunLocalJob(LocalFileJob::Kind::kDelete, paths, {});
        return;
    }
    for (const QString& path : paths) QFile::moveToTrash(path);
    Refresh();
}

LocalFileJob* FilePaneView::RunLocalJob(LocalFileJob::Kind kind, const QStringList& paths,
                                        const QString& target) {
    if (paths.isEmpty()) return nullptr;
    auto* job = new LocalFileJob(kind, paths, target, this);
    auto* progress = new QProgressDialog(tr("Transferring..."), tr("Cancel"), 0, 0, this);
    progress->setWindowTitle(tr("Transferring..."));
    progress->setMinimumDuration(300);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(progress, &QProgressDialog::canceled, job, &LocalFileJob::Cancel);
    connect(job, &LocalFileJob::progress, progress, [progress](int done, int total) {
        progress->setMaximum(total);
        progress->setValue(done);
    });
    connect(job, &LocalFileJob::finished, this, [this, job, progress](bool, const QString& error) {
        progress->close();
        job->deleteLater();
        Refresh();
        if (!error.isEmpty()) Message(error);
        emit localJobFinished();
    });
    job->Start();
    return job;
}

LocalFileJob* FilePaneView::CopyInto(const std::vector<TransferSource>& files,
                                     const QString& dropDirectory) {
    QStringList paths;
    for (const TransferSource& file : files) paths << QString::fromStdString(file.path);
    return RunLocalJob(LocalFileJob::Kind::kCopy, paths,
                       dropDirectory.isEmpty() ? directory : dropDirectory);
}

// ---- remote pane ----

void FilePaneView::ShowListing(const QString& listedDirectory, const FileEntryList& entries) {
    ShowEntries(listedDirectory.isEmpty() ? directory : listedDirectory, entries);
}

// Shows a listing of newDirectory; coming up from a child, the child becomes the selection.
void FilePaneView::ShowEntries(const QString& newDirectory, const FileEntryList& entries) {
    directory = newDirectory;
    const QString previous = shownDirectory;
    model->SetEntries(entries);
    shownDirectory = directory;
    if (!previous.isEmpty() && ParentPath(Utf8(previous)) == Utf8(directory)) {
        const int row = model->RowOfName(QString::fromStdString(LastComponent(Utf8(previous))));
        if (row >= 0)
            tree->selectionModel()->setCurrentIndex(
                model->index(row, 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    emit directoryShown(directory);
}

void FilePaneView::SetRemoteDirectory(const QString& remoteDirectory) {
    sessionDirectory = remoteDirectory;
    directory = remoteDirectory;
    emit directoryShown(directory);
}

void FilePaneView::GoToRemotePath(const QString& path) {
    ChangeRemoteDirectory(Utf8(path));
}

// A cached directory is shown without a word to the server; otherwise the session changes
// to it (by its last name when it is a child of the session's directory) and lists it.
void FilePaneView::ChangeRemoteDirectory(const std::string& target) {
    if (PathsEqual(Utf8(directory), target)) return;
    FileEntryList cached;
    if (cacheLoader && cacheLoader(target, cached)) {
        ShowEntries(QString::fromStdString(target), cached);
        return;
    }
    const std::string current = Utf8(sessionDirectory);
    if (!current.empty() && PathsEqual(current, target)) {
        directory = QString::fromStdString(target);
        Post(CmdList, target);
        return;
    }
    const bool child = !current.empty() && PathsEqual(ParentPath(target), current);
    Post(CmdChangeDir, child ? LastComponent(target) : target);
}

void FilePaneView::ViewRemote(AfterDownload after) {
    std::vector<std::shared_ptr<QueueItem>> items;
    for (const TransferSource& source : SelectedSources()) {
        if (source.isDirectory) continue;
        auto item =
            MakeQueueItem(QueueOperation::kDownload, TempDirectory() + LastComponent(source.path),
                          source.path, source.size);
        item->afterDownload = after;
        items.push_back(std::move(item));
    }
    if (!items.empty()) emit queueRequested(items, false);
}

void FilePaneView::CopyUrl() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1) return;
    const std::string path = JoinPath(Utf8(directory), model->Entry(rows[0]).name, '/');
    QGuiApplication::clipboard()->setText(QString::fromStdString(MakeFtpUrl(Utf8(host), path)));
}

void FilePaneView::RenameSelected() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1) return;
    const QString old = QString::fromStdString(model->Entry(rows[0]).name);
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, tr("Rename"), tr("Name:"), QLineEdit::Normal, old, &ok)
            .trimmed();
    if (!ok || name.isEmpty() || name == old) return;
    if (!remote) {
        RenameLocal(rows[0], name);
        return;
    }
    PostRename(Utf8(old), Utf8(name));
}

void FilePaneView::PostRename(const std::string& oldName, const std::string& newName) {
    if (!poster) return;
    SessionCommand cmd;
    cmd.code = CmdRename;
    cmd.firstArg = oldName;
    cmd.secondName = newName;
    cmd.commandOption = kOptListAfter;
    poster(session, cmd);
}

void FilePaneView::Post(int code, const std::string& first, const std::string& second) {
    if (!poster) return;
    SessionCommand cmd;
    cmd.code = code;
    cmd.firstArg = first;
    cmd.secondArg = second;
    // Every request but a listing is followed by a listing of the directory.
    cmd.commandOption = code == CmdList ? kOptPrintDir : kOptListAfter;
    poster(session, cmd);
}

// ---- both ----

void FilePaneView::UpDirectory() {
    const std::string parent = ParentPath(Utf8(directory));
    if (parent.empty()) {
        Message(remote ? tr("Root Directory! Can't Change to Parent Directory.")
                       : tr("Root encountered!"));
        return;
    }
    if (!remote) {
        FillLocal(QString::fromStdString(parent), QStringLiteral("*"));
        return;
    }
    FileEntryList cached;
    if (cacheLoader && cacheLoader(parent, cached))
        ShowEntries(QString::fromStdString(parent), cached);
    else if (PathsEqual(Utf8(directory), Utf8(sessionDirectory)))
        Post(CmdParentDir, {});
    else
        ChangeRemoteDirectory(parent);
}

void FilePaneView::Refresh() {
    if (remote)
        Post(CmdList, Utf8(directory));
    else
        FillLocal(directory, pattern);
}

void FilePaneView::ActivateCurrent() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1 || !model->Entry(rows[0]).isDirectory) return;
    const std::string child = JoinPath(Utf8(directory), model->Entry(rows[0]).name, '/');
    if (remote)
        ChangeRemoteDirectory(child);
    else
        FillLocal(QString::fromStdString(child), QStringLiteral("*"));
}

// Local entries are deleted here; remote ones become Delete items of the session's queue,
// which also removes directories with their contents.
void FilePaneView::DeleteSelected(bool permanent) {
    if (SelectedRows().empty()) return;
    bool queueOnly = false;
    if (confirmDelete) {
        ConfirmDialog confirm(ConfirmDialog::Kind::kDelete, this);
        if (confirm.exec() != QDialog::Accepted) return;
        queueOnly = remote && confirm.QueueOnly();
    }
    if (remote)
        emit deleteRequested(SelectedSources(), queueOnly);
    else
        DeleteLocal(permanent);
}

void FilePaneView::NewDirectory() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, tr("New Directory"), tr("Name:"), QLineEdit::Normal, {}, &ok)
            .trimmed();
    if (!ok || name.isEmpty()) return;
    const std::string path = JoinPath(Utf8(directory), Utf8(name), '/');
    if (remote) {
        Post(CmdMakeDir, path);
    } else {
        QDir().mkdir(QString::fromStdString(path));
        Refresh();
    }
}

void FilePaneView::SelectAll() {
    CurrentView()->selectAll();
}

std::vector<int> FilePaneView::SelectedRows() const {
    std::set<int> rows;
    for (const QModelIndex& index : tree->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    return {rows.begin(), rows.end()};
}

std::vector<TransferSource> FilePaneView::SelectedSources() const {
    std::vector<TransferSource> sources;
    for (int row : SelectedRows()) {
        const FileEntry& entry = model->Entry(row);
        sources.push_back({JoinPath(Utf8(directory), entry.name, '/'),
                           static_cast<int64_t>(entry.Size()), entry.isDirectory});
    }
    return sources;
}

void FilePaneView::CopySelected() {
    std::vector<std::string> texts;
    for (const TransferSource& source : SelectedSources())
        texts.push_back(remote ? MakeFtpUrl(Utf8(host), source.path) : source.path);
    if (!texts.empty()) PutUrlsOnClipboard(texts, this);
}

void PutUrlsOnClipboard(const std::vector<std::string>& texts, const void* source) {
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(JoinClipboardText(texts)));
    const std::string block =
        EncodeUrlBlock(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(source)), texts);
    data->setData(QString::fromLatin1(kUrlClipboardMimeType.data(), kUrlClipboardMimeType.size()),
                  QByteArray(block.data(), static_cast<qsizetype>(block.size())));
    QGuiApplication::clipboard()->setMimeData(data);
}

QString FilePaneView::DirectoryAt(QAbstractItemView* view, const QPoint& position) const {
    const QModelIndex index = view->indexAt(position);
    if (!index.isValid() || !model->Entry(index.row()).isDirectory) return {};
    return QString::fromStdString(JoinPath(Utf8(directory), model->Entry(index.row()).name, '/'));
}

// Drops: another pane's items (local to local is a copy), or local files from a file manager
// onto a remote pane. Holding Alt at the drop only queues the transfer.
bool FilePaneView::HandleDrag(QAbstractItemView* view, QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    FilePaneView* source = nullptr;
    for (QObject* object = drop->source(); object != nullptr; object = object->parent())
        if ((source = qobject_cast<FilePaneView*>(object)) != nullptr) break;
    const bool fromPane = source != nullptr && source != this && !(remote && source->IsRemote());
    const bool fromFiles = source == nullptr && remote && drop->mimeData()->hasUrls();
    if (!fromPane && !fromFiles) {
        event->ignore();
        return true;
    }
    drop->acceptProposedAction();
    const QPoint position = drop->position().toPoint();
    if (event->type() != QEvent::Drop) {
        HighlightDropTarget(view, position);
        return true;
    }
    const QString target = DirectoryAt(view, position);
    EndDropHighlight();
    const bool queueOnly = drop->modifiers() & Qt::AltModifier;
    if (fromPane) {
        emit dropped(source, target, queueOnly);
        return true;
    }
    std::vector<TransferSource> files;
    for (const QUrl& url : drop->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        const QFileInfo info(url.toLocalFile());
        files.push_back({Utf8(info.absoluteFilePath()), info.isDir() ? kUnknownSize : info.size(),
                         info.isDir()});
    }
    if (!files.empty()) emit filesDropped(files, target, queueOnly);
    return true;
}

// The directory item under the mouse becomes the selection; elsewhere nothing is selected.
void FilePaneView::HighlightDropTarget(QAbstractItemView* view, const QPoint& position) {
    QItemSelectionModel* selection = tree->selectionModel();
    if (!dropHighlight) {
        dropHighlight = true;
        savedSelection = selection->selection();
        savedCurrent = selection->currentIndex();
    }
    if (DirectoryAt(view, position).isEmpty())
        selection->clearSelection();
    else
        selection->setCurrentIndex(view->indexAt(position),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FilePaneView::EndDropHighlight() {
    if (!dropHighlight) return;
    dropHighlight = false;
    QItemSelectionModel* selection = tree->selectionModel();
    selection->select(savedSelection, QItemSelectionModel::ClearAndSelect);
    selection->setCurrentIndex(savedCurrent, QItemSelectionModel::NoUpdate);
    savedSelection.clear();
}

bool FilePaneView::eventFilter(QObject* watched, QEvent* event) {
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(tree), static_cast<QAbstractItemView*>(icons)}) {
        if (watched != view->viewport()) continue;
        const QEvent::Type type = event->type();
        if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)
            return HandleDrag(view, event);
        if (type == QEvent::DragLeave) EndDropHighlight();  // also a cancelled drag
    }
    if (event->type() == QEvent::KeyPress && watched == CurrentView() &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        CopySelected();
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == CurrentView()) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
            case Qt::Key_Backspace:
                UpDirectory();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                ActivateCurrent();
                return true;
            case Qt::Key_Delete:
                DeleteSelected(key->modifiers() & Qt::ShiftModifier);
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FilePaneView::ShowPopup(const QPoint& position) {
    QMenu menu(this);
    FillPopup(menu, position);
    menu.exec(CurrentView()->viewport()->mapToGlobal(position));
}

// The entries offered depend on whether the click hit an item, on the selection and, for a
// remote pane, on whether its session is busy.
void FilePaneView::FillPopup(QMenu& menu, const QPoint& position) {
    const QModelIndex hitIndex = CurrentView()->indexAt(position);
    const bool hit = hitIndex.isValid();
    const bool one = SelectedRows().size() == 1;
    auto add = [&menu, this](const QString& text, bool enabled, auto&& slot) {
        QAction* action = menu.addAction(text, this, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(remote ? tr("Download") : tr("Upload"), hit, &FilePaneView::transferRequested);
    if (remote) {
        add(tr("View"), hit, [this] { ViewRemote(AfterDownload::kView); });
        add(tr("Open"), hit, [this] { ViewRemote(AfterDownload::kOpen); });
    } else {
        add(tr("View"), hit, [this] { OpenLocal(true); });
        add(tr("Open"), hit, [this] { OpenLocal(false); });
    }
    menu.addSeparator();
    add(tr("Rename"), hit && one, &FilePaneView::RenameSelected);
    add(tr("Delete"), hit,
        [this] { DeleteSelected(QApplication::keyboardModifiers() & Qt::ShiftModifier); });
    menu.addAction(tr("New Directory..."), this, &FilePaneView::NewDirectory);
    menu.addSeparator();
    menu.addAction(tr("Refresh"), this, &FilePaneView::Refresh);
    add(tr("Copy"), !SelectedRows().empty(), &FilePaneView::CopySelected);
    if (remote) add(tr("Copy URL"), one, &FilePaneView::CopyUrl);
    menu.addAction(tr("Select All"), this, &FilePaneView::SelectAll);
    if (!remote) menu.addAction(tr("Paste URL"), this, &FilePaneView::pasteUrlRequested);
    if (remote) {
        const bool directoryHit = hit && model->Entry(hitIndex.row()).isDirectory;
        const std::string hitPath =
            hit ? JoinPath(Utf8(directory), model->Entry(hitIndex.row()).name, '/') : std::string();
        menu.addSeparator();
        add(tr("Cache Directory..."), directoryHit, [this, hitPath] { CacheTree(hitPath); });
        menu.addAction(tr("Cache Entire Server..."), this, [this] { CacheTree("/"); });
        menu.addSeparator();
        menu.addAction(tr("Reconnect"), this, &FilePaneView::reconnectRequested);
        menu.addAction(tr("Disconnect"), this, &FilePaneView::disconnectRequested);
        add(tr("Quit"), !(busyProbe && busyProbe()), [this] { Post(CmdQuit, {}); });
    }
}

void FilePaneView::CacheTree(const std::string& start) {
    TreeCacheDialog dialog(QString::fromStdString(start), this);
    if (dialog.exec() != QDialog::Accepted) return;
    emit queueRequested({MakeQueueItem(QueueOperation::kCacheDir, {}, Utf8(dialog.Directory()), 0,
                                       QueueItemKind::kDirectory)},
                        dialog.QueueOnly());
}

void FilePaneView::OpenLocal(bool view) {
    for (const TransferSource& source : SelectedSources())
        if (!source.isDirectory) emit openRequested(QString::fromStdString(source.path), view);
}

}  // namespace tarnwick::gui
