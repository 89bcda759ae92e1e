#include "prompts/overwrite_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tarnwick::gui {

QString OverwriteActionName(int action) {
    switch (action) {
        case kSkip:
            return QObject::tr("Skip");
        case kResume:
            return QObject::tr("Resume");
        case kOverwrite:
            return QObject::tr("Overwrite");
        case kAuto:
            return QObject::tr("Auto");
        default:
            return QObject::tr("Undefined Action");
    }
}

OverwriteDialog::OverwriteDialog(const OverwriteQuestion& question, bool autoClose,
                                 int promptSeconds, QWidget* parent)
    : QDialog(parent),
      suggested(question.suggested),
      timer(new QTimer(this)),
      allBox(new QCheckBox(tr("All"), this)) {
    auto* layout = new QGridLayout(this);
    auto* text = new QLabel(
        tr("Destination file already exists, please select the right action to perform:"), this);
    text->setWordWrap(true);
    layout->addWidget(text, 0, 0, 1, 4);
    auto* name = new QLabel(QString::fromStdString(question.fileName), this);
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(name, 1, 0, 1, 4);
    QPushButton* buttons[4];
    for (int chosen = kSkip; chosen <= kAuto; ++chosen) {
        buttons[chosen] = new QPushButton(OverwriteActionName(chosen), this);
        buttons[chosen]->setAutoDefault(true);
        connect(buttons[chosen], &QPushButton::clicked, this, [this, chosen] { Choose(chosen); });
        layout->addWidget(buttons[chosen], 2, chosen);
    }
    auto* autoLabel = new QLabel("(" + OverwriteActionName(question.autoAction) + ")", this);
    autoLabel->setObjectName(QStringLiteral("autoActionLabel"));
    layout->addWidget(autoLabel, 3, 3);
    layout->addWidget(allBox, 3, 0);
    buttons[kResume]->setEnabled(question.resumeAllowed);
    QPushButton* focused = buttons[suggested == kOverwrite ? kOverwrite
                                   : suggested == kResume  ? kResume
                                                           : kSkip];
    if (!focused->isEnabled()) focused = buttons[kSkip];
    focused->setDefault(true);
    focused->setFocus();
    if (autoClose) {
        remaining = promptSeconds;
        connect(timer, &QTimer::timeout, this, &OverwriteDialog::Tick);
        timer->start(1000);
    }
    UpdateTitle();
}

void OverwriteDialog::Tick() {
    if (finished || remaining < 0) return;
    if (--remaining <= 0) {
        remaining = 0;
        action = suggested;  // the check box is not taken: the user chose nothing
        applyToAll = false;
        accept();
        return;
    }
    UpdateTitle();
}

void OverwriteDialog::UpdateTitle() {
    setWindowTitle(remaining >= 0 ? tr("Overwrite Confirmation(%1)").arg(remaining)
                                  : tr("Overwrite Confirmation"));
}

void OverwriteDialog::Choose(int chosen) {
    action = chosen;
    applyToAll = allBox->isChecked();
    accept();
}

void OverwriteDialog::done(int result) {
    timer->stop();
    if (result == QDialog::Rejected) {
        action = kSkip;
        applyToAll = false;
    }
    QDialog::done(result);
    if (!finished) {
        finished = true;
        emit answered(action, applyToAll);
    }
}

}  // namespace tarnwick::gui
