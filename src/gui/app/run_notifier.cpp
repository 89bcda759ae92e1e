#include "app/run_notifier.h"

#include <QApplication>
#include <QDebug>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tarnwick::gui {

namespace {
constexpr int kMessageMs = 10000;
}

RunNotifier::RunNotifier(QObject* parent) : QObject(parent) {}

void RunNotifier::ItemStarted(SessionId id, uint64_t itemId, bool done) {
    Run& run = runs[id];
    run.started.insert(itemId);
    if (done) run.done.insert(itemId);
}

void RunNotifier::RunFinished(SessionId id, const QString& host, bool resumes, bool windowActive) {
    const auto found = runs.find(id);
    if (found == runs.end() || resumes) return;  // nothing ran, or it goes on
    const int done = static_cast<int>(found->second.done.size());
    const int failed = static_cast<int>(found->second.started.size()) - done;
    runs.erase(found);
    if (windowActive) return;
    const QString title = tr("Queue finished");
    const QString message = tr("%1: %2 done, %3 failed").arg(host).arg(done).arg(failed);
    qInfo().noquote() << title + QLatin1String(": ") + message;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (tray == nullptr) {
            QIcon icon = QApplication::windowIcon();
            if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon);
            tray = new QSystemTrayIcon(icon, this);
            tray->setToolTip(tr("Tarnwick"));
        }
        tray->show();
        tray->showMessage(title, message, QSystemTrayIcon::Information, kMessageMs);
        QTimer::singleShot(kMessageMs, tray, &QSystemTrayIcon::hide);
    }
    emit notified(title, message);
}

void RunNotifier::Forget(SessionId id) {
    runs.erase(id);
}

std::optional<int> RunNotifier::OverallPercent(const OpenSessions& sessions) const {
    double done = 0;
    double total = 0;
    for (const auto& [id, run] : runs) {
        const auto session = sessions.FindById(id);
        if (!session) continue;
        const ProgressSnapshot progress = session->Progress();
        double part = 0;
        if (progress.transferring && progress.fileSize > 0)
            part = std::min(1.0, static_cast<double>(progress.bytesDone) /
                                     static_cast<double>(progress.fileSize));
        done += static_cast<double>(run.done.size()) + part;
        total += static_cast<double>(run.done.size() + session->queue.Size());
    }
    if (runs.empty() || total <= 0) return std::nullopt;
    return static_cast<int>(100.0 * done / total);
}

QString RunNotifier::TitleWithPercent(std::optional<int> percent, const QString& title) {
    return percent ? tr("%1% - %2").arg(*percent).arg(title) : title;
}

}  // namespace tarnwick::gui
