// The Login Message window: a server's welcome and login replies, titled with the host
// address + "-Login Message". Modeless; one per session, owned by the main window.
//
// Threads: the user-interface thread.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace tarnwick::gui {

class LoginMessageWindow : public QDialog {
    Q_OBJECT

public:
    explicit LoginMessageWindow(QWidget* parent = nullptr);

    // Shows `text` centred on the screen and brings the window to the front.
    void ShowMessage(const QString& host, const QString& text);

private:
    QPlainTextEdit* textEdit;
};

// Centres a top-level window on the screen it is on (or the primary one).
void CentreOnScreen(QWidget& window);

}  // namespace tarnwick::gui
