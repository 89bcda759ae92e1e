// What the desktop program's Qt tests share: a loopback site, finding a sheet's fields by
// their labels, answering the next message box.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "sites/site_setting.h"

namespace tarnwick::gui::test {

inline SiteSetting LoopbackSite() {
    SiteSetting site;
    site.address = "127.0.0.1";
    site.port = 1;
    return site;
}

// The field of type `Field` a label of the sheet names.
template <typename Field>
Field* BuddyOf(QWidget& sheet, const QString& labelText) {
    for (QLabel* label : sheet.findChildren<QLabel*>()) {
        if (label->text() != labelText || label->buddy() == nullptr) continue;
        QWidget* field = label->buddy();  // an edit, or a row with a browse button
        if (auto* direct = qobject_cast<Field*>(field)) return direct;
        return qobject_cast<Field*>(field->focusProxy());
    }
    return nullptr;
}

inline QLineEdit* EditFor(QWidget& sheet, const QString& labelText) {
    return BuddyOf<QLineEdit>(sheet, labelText);
}

// Presses `button` of the next message box once it is shown (for at most two seconds).
inline void AnswerNextMessageBox(QMessageBox::StandardButton button) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) box->button(button)->click();
        if (box != nullptr || ++*tries == 40) poll->deleteLater();
    });
    poll->start(50);
}

}  // namespace tarnwick::gui::test
