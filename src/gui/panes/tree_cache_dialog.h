// The tree caching dialog: the directory a caching walk starts from, and whether the walk is
// only queued. The walk lists every directory below the start into the directory cache.
//
// Threads: the user-interface thread. Ownership: Qt parent/child.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace tarnwick::gui {

class TreeCacheDialog : public QDialog {
    Q_OBJECT

public:
    explicit TreeCacheDialog(const QString& start, QWidget* parent = nullptr);

    // The starting directory as edited; the one given when the field was emptied.
    QString Directory() const;
    bool QueueOnly() const;

private:
    QString start;
    QLineEdit* directory = nullptr;
    QCheckBox* queueOnly = nullptr;
    QCheckBox* refreshAll = nullptr;
};

}  // namespace tarnwick::gui
