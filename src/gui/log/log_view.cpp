#include "log/log_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>

namespace tarnwick::gui {

LogTrimPlan PlanLogTrim(int existingLines, int newLines) {
    int total = existingLines;
    int dropped = 0;
    for (int i = 0; i < newLines; ++i) {
        if (total >= kLogMaxLines) {
            total -= kLogTrimLines;
            dropped += kLogTrimLines;
        }
        ++total;
    }
    const int fromExisting = std::min(dropped, existingLines);
    return {fromExisting, dropped - fromExisting};
}

QColor LogKindColour(int kind) {
    switch (kind) {
        case LOG_WARNING:
            return QColor(0, 0, 255);
        case LOG_ERROR:
            return QColor(255, 0, 0);
        case LOG_REPLY:
            return QColor(0, 80, 40);
        case LOG_COMMAND:
            return QColor(120, 20, 0);
        default:
            return QColor(0, 0, 0);
    }
}

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setTabStopDistance(4 * fontMetrics().horizontalAdvance(QLatin1Char('x')));
    setAccessibleName(tr("Session log"));
    viewport()->setCursor(Qt::ArrowCursor);  // a log to read, not a text to edit
    // The log's colours are fixed per kind, so it keeps a light background of its own.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
    copyAllAction = new QAction(tr("Copy All"), this);
    connect(copyAllAction, &QAction::triggered, this, &LogView::CopyAll);
    clearAction = new QAction(tr("Clear Log"), this);
    connect(clearAction, &QAction::triggered, this, &LogView::ClearLog);
}

void LogView::AddRecord(const LogRecord& record) {
    QString text = QString::fromStdString(record.text);
    if (record.prefix)
        text.prepend(
            QString::fromUtf8(LogPrefix(record.kind).data(), LogPrefix(record.kind).size()));
    text.replace(QLatin1String("\r\r"), QLatin1String("\r"));
    if (record.newline) text += QLatin1String("\r\n");
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList parts = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool endsLine = i + 1 < parts.size();
        if (!endsLine && parts[i].isEmpty()) break;
        pending.push_back({parts[i], record.kind, endsLine});
    }
    if (!flushScheduled) {
        flushScheduled = true;
        QTimer::singleShot(0, this, &LogView::Flush);
    }
}

void LogView::Flush() {
    flushScheduled = false;
    if (pending.empty()) return;
    const int newLines = static_cast<int>(
        std::count_if(pending.begin(), pending.end(), [](const Piece& p) { return p.endsLine; }));
    const LogTrimPlan plan = PlanLogTrim(lines, newLines);
    size_t from = 0;
    for (int skipped = 0; skipped < plan.dropNew; ++from) {
        if (pending[from].endsLine) ++skipped;
    }
    DropFirstLines(plan.dropExisting);
    Insert(pending, from);
    pending.clear();
}

void LogView::Insert(const std::vector<Piece>& pieces, size_t from) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (size_t i = from; i < pieces.size(); ++i) {
        format.setForeground(LogKindColour(pieces[i].kind));
        cursor.insertText(pieces[i].text, format);
        if (pieces[i].endsLine) cursor.insertBlock();
    }
    cursor.endEditBlock();
    lines = document()->blockCount() - 1;
    setTextCursor(cursor);
    ensureCursorVisible();
}

void LogView::DropFirstLines(int count) {
    if (count <= 0) return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
    cursor.removeSelectedText();
    lines = document()->blockCount() - 1;
}

void LogView::CopyAll() {
    Flush();
    QApplication::clipboard()->setText(toPlainText());
}

void LogView::ClearLog() {
    pending.clear();
    clear();
    lines = 0;
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy Selected"), this, &QPlainTextEdit::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(textCursor().hasSelection());
    menu.addAction(copyAllAction);
    menu.addAction(clearAction);
    menu.exec(event->globalPos());
}

LogPane::LogPane(QWidget* parent) : QStackedWidget(parent), empty(new LogView(this)) {
    addWidget(empty);
}

LogView* LogPane::AddSession(SessionId id) {
    if (LogView* existing = View(id)) return existing;
    auto* view = new LogView(this);
    views[id] = view;
    addWidget(view);
    setCurrentWidget(view);
    return view;
}

void LogPane::RemoveSession(SessionId id) {
    const auto found = views.find(id);
    if (found == views.end()) return;
    removeWidget(found->second);
    found->second->deleteLater();
    views.erase(found);
    if (views.empty()) setCurrentWidget(empty);
}

LogView* LogPane::View(SessionId id) const {
    const auto found = views.find(id);
    return found == views.end() ? nullptr : found->second;
}

void LogPane::ShowSession(SessionId id) {
    if (LogView* view = View(id)) setCurrentWidget(view);
}

}  // namespace tarnwick::gui
