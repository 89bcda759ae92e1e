// SessionBridge: the desktop program's one SessionObserver. Every call arrives on a worker
// thread (or, for queue changes, on whichever thread changed the queue); the bridge copies
// its data and re-posts it to the user-interface thread, where it is emitted as a signal
// keyed by the session's id. A notification for a session that was forgotten meanwhile
// (closed) is dropped there and never touches the session; a question for such a session is
// cancelled with its safe default.
//
// Threads: the On... overrides from any thread; Track, Forget, IsTracked and the signals on
// the user-interface thread, which owns the bridge. The bridge must outlive every session
// that reports to it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <unordered_set>

#include "session/ftp_session.h"
#include "session/session_observer.h"

namespace tarnwick::gui {

class SessionBridge : public QObject, public SessionObserver {
    Q_OBJECT

public:
    explicit SessionBridge(QObject* parent = nullptr);

    // [ui] A session whose notifications are delivered from now on / no longer delivered.
    void Track(SessionId id);
    void Forget(SessionId id);
    bool IsTracked(SessionId id) const;

    void OnLog(CFtpSession& session, const LogRecord& record) override;
    void OnDirectoryChanged(CFtpSession& session, const std::string& directory) override;
    void OnListing(CFtpSession& session, bool done, const ListingInfo& listing) override;
    void OnQueueItemStarted(CFtpSession& session, uint64_t itemId, bool done) override;
    void OnQueueChanged(CFtpSession& session, const QueueChange& change) override;
    void OnTransferStarted(CFtpSession& session, const TransferInfo& info) override;
    void OnTransferFinished(CFtpSession& session, const TransferInfo& info, int result,
                            uint64_t bytesMoved) override;
    void OnQueueFinished(CFtpSession& session) override;
    void OnRefresh(CFtpSession& session) override;
    void OnOpenFile(CFtpSession& session, const std::string& path,
                    const std::string& viewer) override;
    void OnLoginMessage(CFtpSession& session, const std::string& text) override;
    void OnShowSession(CFtpSession& session) override;
    void OnNotice(CFtpSession& session, const std::string& text) override;
    void OnConnectionStateChanged(CFtpSession& session, bool connected) override;
    void OnCommandFinished(CFtpSession& session, RequestId request, int commandCode,
                           int result) override;
    void OnQuestion(CFtpSession& session, const std::shared_ptr<Question>& question) override;

signals:
    void logLine(tarnwick::SessionId id, const tarnwick::LogRecord& record);
    void directoryChanged(tarnwick::SessionId id, const QString& directory);
    void listing(tarnwick::SessionId id, bool done, const tarnwick::ListingInfo& listing);
    void queueItemStarted(tarnwick::SessionId id, quint64 itemId, bool done);
    void queueChanged(tarnwick::SessionId id, const tarnwick::QueueChange& change);
    void transferStarted(tarnwick::SessionId id, const tarnwick::TransferInfo& info);
    void transferFinished(tarnwick::SessionId id, const tarnwick::TransferInfo& info, int result,
                          quint64 bytesMoved);
    void queueFinished(tarnwick::SessionId id);
    void refresh(tarnwick::SessionId id);
    void openFile(tarnwick::SessionId id, const QString& path, const QString& viewer);
    void loginMessage(tarnwick::SessionId id, const QString& host, const QString& text);
    void showSession(tarnwick::SessionId id);
    void notice(tarnwick::SessionId id, const QString& host, const QString& text);
    void connectionStateChanged(tarnwick::SessionId id, bool connected);
    void commandFinished(tarnwick::SessionId id, tarnwick::RequestId request, int commandCode,
                         int result);
    // The receiver answers (or cancels) the question, now or later.
    void question(tarnwick::SessionId id, const QString& host,
                  const std::shared_ptr<tarnwick::Question>& question);

private:
    // Runs `deliver` on the user-interface thread if the session is still tracked then.
    template <typename Deliver>
    void Post(SessionId id, Deliver deliver);

    std::unordered_set<SessionId> tracked;  // [ui]
};

}  // namespace tarnwick::gui
