// The log pane: one LogView per session, stacked so that only the active session's shows.
// A LogView shows the session's log lines in the colour of their kind with the kind's
// prefix, keeps at most about 300 lines (past 300 it drops the oldest 100 at once) and offers
// "&Copy Selected", "Copy All" and "Clear Log" on its context menu.
//
// Lines are collected and added once per turn of the event loop, so that a flood of lines
// costs one layout and never freezes the window.
//
// Threads: the user-interface thread only. The LogPane owns its LogViews.
#pragma once

#include <QPlainTextEdit>
#include <QStackedWidget>
#include <map>
#include <vector>

#include "session/session_observer.h"

class QAction;

namespace tarnwick::gui {

inline constexpr int kLogMaxLines = 300;  // more than this before a line: trim first
inline constexpr int kLogTrimLines = 100;

// Which lines to drop when `newLines` complete lines are added, one at a time, to a log of
// `existingLines` complete lines, each add first dropping the oldest kLogTrimLines while
// the log holds kLogMaxLines or more: that many of the existing lines, then of the new ones.
struct LogTrimPlan {
    int dropExisting = 0;
    int dropNew = 0;
};
LogTrimPlan PlanLogTrim(int existingLines, int newLines);

// The colour a log kind is shown in (the log's own colours, not the palette's).
QColor LogKindColour(int kind);

class LogView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);

    // Queues the record for the next turn of the event loop.
    void AddRecord(const LogRecord& record);
    // Adds what is queued now (also done by itself once per turn of the event loop).
    void Flush();
    // Complete lines shown (after Flush).
    int LineCount() const { return lines; }

    void CopyAll();
    void ClearLog();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Piece {
        QString text;  // without line break
        int kind = LOG_STATE;
        bool endsLine = false;
    };
    void Insert(const std::vector<Piece>& pieces, size_t from);
    void DropFirstLines(int count);

    std::vector<Piece> pending;
    bool flushScheduled = false;
    int lines = 0;  // complete lines in the document
    QAction* copyAllAction;
    QAction* clearAction;
};

class LogPane : public QStackedWidget {
    Q_OBJECT

public:
    explicit LogPane(QWidget* parent = nullptr);

    LogView* AddSession(SessionId id);  // the new session's view, shown
    void RemoveSession(SessionId id);
    LogView* View(SessionId id) const;  // null when the session has none
    void ShowSession(SessionId id);

private:
    std::map<SessionId, LogView*> views;
    QPlainTextEdit* empty;  // shown while no session is open
};

}  // namespace tarnwick::gui
