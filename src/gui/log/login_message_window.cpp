#include "log/login_message_window.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace tarnwick::gui {

void CentreOnScreen(QWidget& window) {
    QScreen* screen = window.screen();
    if (screen == nullptr) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

LoginMessageWindow::LoginMessageWindow(QWidget* parent)
    : QDialog(parent), textEdit(new QPlainTextEdit(this)) {
    setWindowTitle(tr("Login Message"));
    textEdit->setReadOnly(true);
    textEdit->setAccessibleName(tr("Login message"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Ok"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
    resize(480, 300);
}

void LoginMessageWindow::ShowMessage(const QString& host, const QString& text) {
    textEdit->setPlainText(text);
    setWindowTitle(host + QStringLiteral("-Login Message"));
    CentreOnScreen(*this);
    show();
    raise();
    activateWindow();
}

}  // namespace tarnwick::gui
