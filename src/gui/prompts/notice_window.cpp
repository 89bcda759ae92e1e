#include "prompts/notice_window.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "log/login_message_window.h"

namespace tarnwick::gui {

NoticeWindow::NoticeWindow(QWidget* parent)
    : QDialog(parent), textEdit(new QPlainTextEdit(this)), timer(new QTimer(this)) {
    setWindowTitle(tr("Tarnwick Message"));
    textEdit->setReadOnly(true);
    textEdit->setAccessibleName(tr("Message"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
    connect(timer, &QTimer::timeout, this, &NoticeWindow::Tick);
    resize(420, 200);
}

void NoticeWindow::ShowNotice(const QString& text, const QString& noticeTitle, int countdown) {
    title = noticeTitle;
    textEdit->setPlainText(text);
    remaining = countdown;
    timer->stop();
    if (countdown != -1) timer->start(1000);
    UpdateTitle();
    CentreOnScreen(*this);
    show();
    raise();
    activateWindow();
}

QString NoticeWindow::Text() const {
    return textEdit->toPlainText();
}

void NoticeWindow::Tick() {
    if (remaining < 0) return;
    if (--remaining <= 0) {
        remaining = 0;
        timer->stop();
        hide();
        return;
    }
    UpdateTitle();
}

void NoticeWindow::UpdateTitle() {
    setWindowTitle(remaining >= 0 ? QStringLiteral("%1(%2)").arg(title).arg(remaining) : title);
}

}  // namespace tarnwick::gui
