// Table models of the file panes: one row per entry of a listing, the display texts made once
// per listing so that data() is a lookup. LocalFileModel shows a local directory (four
// columns), RemoteFileModel a server directory (six columns).
//
// Threads: the user-interface thread. Ownership: the model owns its copy of the entries.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

#include "listing/listing_parser.h"

namespace tarnwick::gui {

enum FileColumn : int {
    kColumnName = 0,
    kColumnSize = 1,
    kColumnType = 2,
    kColumnModified = 3,
    kColumnAttribute = 4,
    kColumnDescription = 5,
};

class FileModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Hands a whole listing over: one model reset, then the rows in the current sort order.
    void SetEntries(FileEntryList entries);
    const FileEntry& Entry(int row) const { return rows[order[row]].entry; }
    int RowOfName(const QString& name) const;  // -1 when no row has that name

    // A header click: the same column again reverses the direction, another column sorts
    // ascending. The direction of every column is kept (1, -1, or 0 when not sorting).
    void ToggleSort(int column);
    int SortColumn() const { return sortColumn; }
    int SortDirection(int column) const { return directions[column]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;
    // An in-place edit of a name asks the pane to rename; the model changes only by the
    // listing that follows.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void renameRequested(int row, const QString& newName);

protected:
    FileModel(int columns, const char* dateFormat, QObject* parent);

private:
    struct Row {
        FileEntry entry;
        std::array<QString, 6> texts;
        QString lowerName;
        QString lowerType;
    };
    void Resort();

    int columns;
    const char* dateFormat;  // strftime format
    std::vector<Row> rows;
    std::vector<int> order;  // display row -> index into rows
    int sortColumn = kColumnName;
    std::array<int, 6> directions{1, 0, 0, 0, 0, 0};
};

class LocalFileModel : public FileModel {
    Q_OBJECT
public:
    explicit LocalFileModel(QObject* parent = nullptr);
};

class RemoteFileModel : public FileModel {
    Q_OBJECT
public:
    explicit RemoteFileModel(QObject* parent = nullptr);
};

// The display texts of an entry's size and time, as the panes show them.
QString SizeText(const FileEntry& entry);
QString TimeText(int64_t modified, const char* format);  // local time, strftime format

}  // namespace tarnwick::gui
