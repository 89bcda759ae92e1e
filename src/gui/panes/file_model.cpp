#include "panes/file_model.h"

#include <algorithm>
#include <ctime>
#include <numeric>
#include <unordered_map>

#include "listing/paths.h"
#include "res/icons.h"

namespace tarnwick::gui {

namespace {

// Looked up once: data() is called for every painted row.
const QIcon& DirectoryIcon() {
    static const QIcon icon = ItemIcon(true);
    return icon;
}
const QIcon& FileIcon() {
    static const QIcon icon = ItemIcon(false);
    return icon;
}
constexpr int kMaxColumns = 6;
}  // namespace

QString SizeText(const FileEntry& entry) {
    return QString::fromStdString(FormatFileSize(entry.sizeHigh, entry.sizeLow));
}

QString TimeText(int64_t modified, const char* format) {
    const time_t seconds = static_cast<time_t>(modified);
    std::tm local{};
    char text[64];
    if (modified < 0 || localtime_r(&seconds, &local) == nullptr) return {};
    const size_t length = std::strftime(text, sizeof text, format, &local);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

FileModel::FileModel(int columns, const char* dateFormat, QObject* parent)
    : QAbstractTableModel(parent), columns(columns), dateFormat(dateFormat) {}

LocalFileModel::LocalFileModel(QObject* parent) : FileModel(4, "%m/%d/%y %H:%M:%S", parent) {}

RemoteFileModel::RemoteFileModel(QObject* parent) : FileModel(6, "%m/%d/%y %H:%M", parent) {}

// Texts that many entries of a listing share (times, attributes, types) are made once and
// shared between the rows: a fill of 100,000 entries formats a few hundred of them.
void FileModel::SetEntries(FileEntryList entries) {
    beginResetModel();
    rows.clear();
    rows.reserve(entries.size());
    std::unordered_map<int64_t, QString> times;
    std::unordered_map<std::string, QString> attributes;
    std::unordered_map<std::string, std::pair<QString, QString>> types;  // text, lower case
    const auto shared = [](auto& texts, const auto& key, auto make) -> const auto& {
        auto found = texts.find(key);
        if (found == texts.end()) found = texts.emplace(key, make()).first;
        return found->second;
    };
    const QString directoryType = QStringLiteral("<DIR>");
    for (FileEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        Row row;
        row.texts[kColumnName] = QString::fromStdString(entry.name);
        row.texts[kColumnSize] = SizeText(entry);
        if (entry.isDirectory) {
            row.texts[kColumnType] = directoryType;
            row.lowerType = directoryType.toLower();
        } else {
            const auto& type = shared(types, FileExtension(entry.name), [&] {
                const QString text = QString::fromStdString(FileExtension(entry.name));
                return std::pair(text, text.toLower());
            });
            row.texts[kColumnType] = type.first;
            row.lowerType = type.second;
        }
        row.texts[kColumnModified] =
            shared(times, entry.modified, [&] { return TimeText(entry.modified, dateFormat); });
        row.texts[kColumnAttribute] = shared(
            attributes, entry.attributes, [&] { return QString::fromStdString(entry.attributes); });
        row.texts[kColumnDescription] = QString::fromStdString(entry.description);
        row.lowerName = row.texts[kColumnName].toLower();
        row.entry = std::move(entry);
        rows.push_back(std::move(row));
    }
    order.resize(rows.size());
    std::iota(order.begin(), order.end(), 0);
    Resort();
    endResetModel();
}

int FileModel::RowOfName(const QString& name) const {
    for (size_t i = 0; i < order.size(); ++i)
        if (rows[order[i]].texts[kColumnName] == name) return static_cast<int>(i);
    return -1;
}

void FileModel::ToggleSort(int column) {
    if (column < 0 || column >= columns) return;
    const int direction = column == sortColumn ? -directions[column] : 1;
    sort(column, direction > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void FileModel::sort(int column, Qt::SortOrder sortOrder) {
    if (column < 0 || column >= columns) return;
    directions.fill(0);
    sortColumn = column;
    directions[column] = sortOrder == Qt::AscendingOrder ? 1 : -1;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> previous = order;
    std::iota(order.begin(), order.end(), 0);  // equal keys keep their listing order
    Resort();
    std::vector<int> newRowOf(rows.size());
    for (size_t i = 0; i < order.size(); ++i) newRowOf[order[i]] = static_cast<int>(i);
    for (const QModelIndex& index : before) {
        const int moved = newRowOf[previous[index.row()]];
        changePersistentIndex(index, createIndex(moved, index.column()));
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// Directories before files when ascending (after them when descending), then the column's
// key; equal keys keep their listing order.
void FileModel::Resort() {
    const int direction = directions[sortColumn];
    auto key = [this](const Row& a, const Row& b) -> int {
        switch (sortColumn) {
            case kColumnName:
                return a.lowerName.compare(b.lowerName);
            case kColumnSize: {
                const uint64_t x = a.entry.Size(), y = b.entry.Size();
                return x < y ? -1 : (x > y ? 1 : 0);
            }
            case kColumnType:
                return a.lowerType.compare(b.lowerType);
            case kColumnModified:
                return a.entry.modified < b.entry.modified
                           ? -1
                           : (a.entry.modified > b.entry.modified ? 1 : 0);
            default:
                return a.texts[sortColumn].compare(b.texts[sortColumn]);
        }
    };
    std::stable_sort(order.begin(), order.end(), [&](int i, int j) {
        const Row& a = rows[i];
        const Row& b = rows[j];
        if (sortColumn == kColumnName && a.entry.isDirectory != b.entry.isDirectory)
            return direction > 0 ? a.entry.isDirectory : b.entry.isDirectory;
        return direction * key(a, b) < 0;
    });
}

int FileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order.size());
}

int FileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant FileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columns) return {};
    const Row& row = rows[order[index.row()]];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return row.texts[index.column()];
        case Qt::TextAlignmentRole:  // the name keeps the view's own (centred under icons)
            if (index.column() == kColumnName) return {};
            return index.column() == kColumnSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::DecorationRole:
            if (index.column() != kColumnName) return {};
            return row.entry.isDirectory ? DirectoryIcon() : FileIcon();
        default:
            return {};
    }
}

QVariant FileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns) return {};
    if (role == Qt::TextAlignmentRole)
        return section == kColumnSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                      : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    static const char* const headers[kMaxColumns] = {
        QT_TR_NOOP("Name"),     QT_TR_NOOP("Size"),      QT_TR_NOOP("Type"),
        QT_TR_NOOP("Modified"), QT_TR_NOOP("Attribute"), QT_TR_NOOP("Description")};
    return tr(headers[section]);
}

bool FileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != kColumnName) return false;
    const QString newName = value.toString().trimmed();
    if (newName.isEmpty() || newName == data(index, Qt::DisplayRole).toString()) return false;
    emit renameRequested(index.row(), newName);
    return false;
}

Qt::ItemFlags FileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid()) result |= Qt::ItemIsDragEnabled;
    if (index.isValid() && index.column() == kColumnName) result |= Qt::ItemIsEditable;
    return result;
}

}  // namespace tarnwick::gui
