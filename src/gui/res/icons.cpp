#include "res/icons.h"

#include <QFile>

// The icons are in a static library: naming the resource's initializer here keeps the linker
// from dropping it.
static void InitIconResource() {
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)done;
}

namespace tarnwick::gui {

QIcon ItemIcon(bool directory) {
    InitIconResource();
    const QString name = directory ? QStringLiteral("folder") : QStringLiteral("text-x-generic");
    QIcon fallback;
    for (int size : {16, 32}) {
        fallback.addFile(QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size),
                         QSize(size, size));
    }
    return QIcon::fromTheme(name, fallback);
}

QIcon ActionIcon(const char* themeName) {
    InitIconResource();
    const QString name = QString::fromLatin1(themeName);
    const QString file = QStringLiteral(":/icons/%1.png").arg(name);
    return QIcon::fromTheme(name, QFile::exists(file) ? QIcon(file) : QIcon());
}

}  // namespace tarnwick::gui
