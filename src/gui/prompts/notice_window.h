// The application's modeless notice window (failure notices such as "Control connection
// closed by server."): one window for the life of the program, reused by every notice, the
// latest text replacing the previous one. A notice may count down in the title ("%s(%d)")
// and hide itself at 0; failure notices do not count down. OK hides the window.
//
// Threads: the user-interface thread; owned by the main window.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QTimer;

namespace tarnwick::gui {

class NoticeWindow : public QDialog {
    Q_OBJECT

public:
    explicit NoticeWindow(QWidget* parent = nullptr);

    // Shows `text` titled `title`, centred on the screen, in front; `countdown` seconds until
    // it hides itself, -1 for none. Never blocks.
    void ShowNotice(const QString& text, const QString& title, int countdown = -1);
    QString Text() const;
    int Remaining() const { return remaining; }
    void Tick();  // one second of the countdown

private:
    void UpdateTitle();

    QString title;
    int remaining = -1;
    QPlainTextEdit* textEdit;
    QTimer* timer;
};

}  // namespace tarnwick::gui
