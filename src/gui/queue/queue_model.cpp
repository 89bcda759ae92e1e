#include "queue/queue_model.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "listing/listing_parser.h"
#include "listing/url.h"
#include "res/icons.h"

namespace tarnwick::gui {

// Row of each item shown, by id: one pass, so a change naming many items stays linear.
static std::unordered_map<uint64_t, int> RowsById(
    const std::vector<std::shared_ptr<QueueItem>>& rows) {
    std::unordered_map<uint64_t, int> byId;
    byId.reserve(rows.size());
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) byId.emplace(rows[row]->id, row);
    return byId;
}

// The queue's own texts, shown translated.
QString QueueModel::OperationText(QueueOperation operation) {
    return tr(std::string(QueueOperationText(operation)).c_str());
}

QString QueueModel::StateText(QueueState state) {
    return tr(std::string(QueueStateText(state)).c_str());
}

QueueModel::QueueModel(QObject* parent) : QAbstractTableModel(parent) {}

void QueueModel::SetQueue(const TransferQueue* shown, const QString& address) {
    queue = shown;
    host = address;
    progressItem = 0;
    progressPercent = -1;
    Refill();
}

void QueueModel::Refill() {
    beginResetModel();
    rows.clear();
    if (queue != nullptr) rows = queue->Snapshot();
    endResetModel();
}

void QueueModel::Apply(const QueueChange& change) {
    if (queue == nullptr) return;
    switch (change.kind) {
        case QueueChange::Kind::kInserted:
            ApplyInserted(change);
            break;
        case QueueChange::Kind::kRemoved:
            ApplyRemoved(change);
            break;
        case QueueChange::Kind::kMoved:
            ApplyMoved(change);
            break;
        case QueueChange::Kind::kUpdated:
            ApplyUpdated(change);
            break;
        case QueueChange::Kind::kReset:
            Refill();
            break;
    }
}

void QueueModel::ApplyInserted(const QueueChange& change) {
    if (change.ids.empty()) return;
    // The items themselves come from the queue; one that has left it again meanwhile is
    // not shown (its removal, still to come, then finds no row).
    const auto snapshot = queue->Snapshot();
    std::unordered_map<uint64_t, std::shared_ptr<QueueItem>> byId;
    byId.reserve(snapshot.size());
    for (const auto& item : snapshot) byId.emplace(item->id, item);
    const auto shown = RowsById(rows);
    std::vector<std::shared_ptr<QueueItem>> added;
    added.reserve(change.ids.size());
    for (uint64_t id : change.ids) {
        auto found = byId.find(id);
        if (found != byId.end() && !shown.contains(id)) added.push_back(found->second);
    }
    if (added.empty()) return;
    if (change.first > rows.size()) return Refill();
    const int first = static_cast<int>(change.first);
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    rows.insert(rows.begin() + first, added.begin(), added.end());
    endInsertRows();
}

void QueueModel::ApplyRemoved(const QueueChange& change) {
    std::vector<int> doomed = RowsOf(change.ids);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    // Contiguous runs from the bottom, so the rows above stay valid.
    while (!doomed.empty()) {
        const int last = doomed.back();
        int first = last;
        doomed.pop_back();
        while (!doomed.empty() && doomed.back() == first - 1) {
            first = doomed.back();
            doomed.pop_back();
        }
        beginRemoveRows({}, first, last);
        rows.erase(rows.begin() + first, rows.begin() + last + 1);
        endRemoveRows();
    }
}

void QueueModel::ApplyMoved(const QueueChange& change) {
    // The payload is the whole new order; it fits only if it names exactly the rows held.
    const auto oldRow = RowsById(rows);
    if (change.ids.size() != rows.size()) return Refill();
    std::vector<std::shared_ptr<QueueItem>> reordered;
    reordered.reserve(rows.size());
    std::vector<int> newRowOf(rows.size(), -1);
    for (uint64_t id : change.ids) {
        auto found = oldRow.find(id);
        if (found == oldRow.end() || newRowOf[found->second] >= 0) return Refill();
        newRowOf[found->second] = static_cast<int>(reordered.size());
        reordered.push_back(rows[found->second]);
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.push_back(this->index(newRowOf[index.row()], index.column()));
    rows = std::move(reordered);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void QueueModel::ApplyUpdated(const QueueChange& change) {
    int first = -1;
    int last = -1;
    for (const int row : RowsOf(change.ids)) {
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    if (first >= 0) emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

void QueueModel::SetProgress(uint64_t itemId, int percent) {
    if (itemId == progressItem && percent == progressPercent) return;
    const int oldRow = RowOf(progressItem);
    progressItem = itemId;
    progressPercent = percent;
    for (int row : {oldRow, RowOf(itemId)})
        if (row >= 0) emit dataChanged(index(row, kStatus), index(row, kStatus));
}

std::shared_ptr<QueueItem> QueueModel::ItemAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows.size())) return nullptr;
    return rows[row];
}

// A run changes one item at a time, near the top: a scan from the top finds a few items
// without building a map of every row per change.
std::vector<int> QueueModel::RowsOf(const std::vector<uint64_t>& ids) const {
    constexpr size_t kFewIds = 16;
    std::vector<int> found;
    found.reserve(ids.size());
    if (ids.size() <= kFewIds) {
        for (uint64_t id : ids)
            if (const int row = RowOf(id); row >= 0) found.push_back(row);
        return found;
    }
    const auto byId = RowsById(rows);
    for (uint64_t id : ids)
        if (auto row = byId.find(id); row != byId.end()) found.push_back(row->second);
    return found;
}

int QueueModel::RowOf(uint64_t id) const {
    if (id == 0) return -1;
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows[row]->id == id) return static_cast<int>(row);
    return -1;
}

QString QueueModel::UrlAt(int row) const {
    const auto item = ItemAt(row);
    if (!item) return {};
    return QString::fromStdString(MakeFtpUrl(host.toStdString(), item->serverPath));
}

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int QueueModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    const auto item = ItemAt(index.row());
    if (!item || !index.isValid()) return {};
    if (role == Qt::DecorationRole && index.column() == kServerPath) {
        static const QIcon directory = ItemIcon(true);
        static const QIcon file = ItemIcon(false);
        return item->kind == QueueItemKind::kDirectory ? directory : file;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
        case kServerPath:
            return QString::fromStdString(item->serverPath);
        case kOperation:
            return OperationText(item->operation);
        case kClientPath:
            return QString::fromStdString(item->clientPath);
        case kSize:
            if (!item->SizeKnown()) return tr("unknown");
            return QString::fromStdString(FormatFileSize(static_cast<uint32_t>(item->sizeHigh),
                                                         static_cast<uint32_t>(item->sizeLow)));
        case kStatus: {
            const QueueState state = item->State();
            const QString text = StateText(state);
            if (state == QueueState::kTransferring && item->id == progressItem &&
                progressPercent >= 0)
                return tr("%1 %2%").arg(text).arg(progressPercent);
            return text;
        }
        default:
            return {};
    }
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kServerPath:
            return tr("ServerPath");
        case kOperation:
            return tr("Operation");
        case kClientPath:
            return tr("ClientPath");
        case kSize:
            return tr("Size");
        case kStatus:
            return tr("Status");
        default:
            return {};
    }
}

QueuePopupState QueuePopupFor(int rowCount, int selectedCount, bool queueEmpty) {
    QueuePopupState state;
    state.copyUrl = selectedCount == 1;
    state.clearQueue = rowCount > 0;
    state.removeAndMove = selectedCount > 0;
    state.resetQueue = !queueEmpty;
    return state;
}

}  // namespace tarnwick::gui
