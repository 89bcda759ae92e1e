// The Overwrite Confirmation: what to do with a transfer onto an existing file (Skip,
// Resume, Overwrite or Auto, and "All" for every later file of the same case). With
// "AutoClosePrompt" on it counts "PromptSeconds" down in its title and then answers the
// preselected action by itself. Closing it (Escape, the close box) answers Skip.
//
// Threads: the user-interface thread. Shown window-modal by its owner (the main window),
// without a nested event loop; the answer comes as the answered signal, once.
#pragma once

#include <QDialog>

#include "session/question.h"

class QCheckBox;
class QPushButton;
class QTimer;

namespace tarnwick::gui {

// "Skip", "Resume", "Overwrite", "Auto"; "Undefined Action" for any other value.
QString OverwriteActionName(int action);

class OverwriteDialog : public QDialog {
    Q_OBJECT

public:
    // `promptSeconds` counts only when `autoClose` is set.
    OverwriteDialog(const OverwriteQuestion& question, bool autoClose, int promptSeconds,
                    QWidget* parent = nullptr);

    int Action() const { return action; }
    bool ApplyToAll() const { return applyToAll; }
    int Remaining() const { return remaining; }  // -1 without a countdown
    // One second of the countdown (the timer's tick).
    void Tick();

signals:
    void answered(int action, bool applyToAll);

public slots:
    void done(int result) override;

private:
    void Choose(int chosen);
    void UpdateTitle();

    const int suggested;
    int action = kSkip;
    bool applyToAll = false;
    int remaining = -1;
    bool finished = false;
    QTimer* timer;
    QCheckBox* allBox;
};

}  // namespace tarnwick::gui
