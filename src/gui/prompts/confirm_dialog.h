// Confirm Transfer ("Are you sure to transfer the selected files?", "Add to queue only") and
// Confirm Delete ("Are you sure to delete all the selected files?", "Queue Only"): OK goes
// on, with QueueOnly() telling whether the files only go to the queue; anything else cancels.
//
// Threads: the user-interface thread; the caller owns the dialog and runs it modally.
#pragma once

#include <QDialog>

class QCheckBox;

namespace tarnwick::gui {

class ConfirmDialog : public QDialog {
    Q_OBJECT

public:
    enum class Kind { kTransfer, kDelete };

    explicit ConfirmDialog(Kind kind, QWidget* parent = nullptr);

    bool QueueOnly() const;

private:
    QCheckBox* queueOnlyBox;
};

}  // namespace tarnwick::gui
