// RunNotifier: follows the queue runs of the open sessions for the desktop: how many items a
// run has done and how many it left failed, a desktop notification when a run ends while the
// main window is not the active window (a tray message when the desktop has a tray, else a
// log line only), and the overall percent of the runs under way for the window title.
//
// Threads: the user-interface thread (fed by SessionBridge's signals). Ownership: owned by
// the main window (as a child); it owns its tray icon; it holds no session.
#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <optional>
#include <set>

#include "app/open_sessions.h"

class QSystemTrayIcon;

namespace tarnwick::gui {

class RunNotifier : public QObject {
    Q_OBJECT

public:
    explicit RunNotifier(QObject* parent = nullptr);

    // A queue item started (done false) or was transferred (done true).
    void ItemStarted(SessionId id, uint64_t itemId, bool done);
    // A run ended; `resumes` when it goes on after a reconnect (its counts carry over).
    // `windowActive`: the main window is the active window, so nobody needs telling.
    void RunFinished(SessionId id, const QString& host, bool resumes, bool windowActive);
    void Forget(SessionId id);  // the session closed

    bool Running(SessionId id) const { return runs.count(id) != 0; }
    // The runs under way together: items done plus the current file's part, over items
    // done plus items still queued; empty when no run is under way.
    std::optional<int> OverallPercent(const OpenSessions& sessions) const;
    // "42% - " + title while runs are under way, else the title.
    static QString TitleWithPercent(std::optional<int> percent, const QString& title);

signals:
    // Emitted for every notification, whether a tray showed it or not.
    void notified(const QString& title, const QString& message);

private:
    struct Run {
        std::set<uint64_t> started;
        std::set<uint64_t> done;
    };
    std::map<SessionId, Run> runs;
    QSystemTrayIcon* tray = nullptr;
};

}  // namespace tarnwick::gui
