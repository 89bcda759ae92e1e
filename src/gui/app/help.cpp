#include "app/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace tarnwick::gui {

bool OpenHelpTopic(const QString& topic) {
    const QString candidates[] = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/help/") + topic,
        QStringLiteral(TARNWICK_GUI_RES_DIR "/help/") + topic,
    };
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path)) return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
    return false;
}

}  // namespace tarnwick::gui
