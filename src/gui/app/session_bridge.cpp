#include "app/session_bridge.h"

#include <QMetaObject>

namespace tarnwick::gui {

namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

SessionBridge::SessionBridge(QObject* parent) : QObject(parent) {}

void SessionBridge::Track(SessionId id) {
    tracked.insert(id);
}

void SessionBridge::Forget(SessionId id) {
    tracked.erase(id);
}

bool SessionBridge::IsTracked(SessionId id) const {
    return tracked.count(id) != 0;
}

template <typename Deliver>
void SessionBridge::Post(SessionId id, Deliver deliver) {
    QMetaObject::invokeMethod(
        this,
        [this, id, deliver = std::move(deliver)]() {
            if (IsTracked(id)) deliver();
        },
        Qt::QueuedConnection);
}

void SessionBridge::OnLog(CFtpSession& session, const LogRecord& record) {
    const SessionId id = session.Id();
    Post(id, [this, id, record] { emit logLine(id, record); });
}

void SessionBridge::OnDirectoryChanged(CFtpSession& session, const std::string& directory) {
    const SessionId id = session.Id();
    Post(id, [this, id, dir = Utf8(directory)] { emit directoryChanged(id, dir); });
}

void SessionBridge::OnListing(CFtpSession& session, bool done, const ListingInfo& info) {
    const SessionId id = session.Id();
    Post(id, [this, id, done, info] { emit listing(id, done, info); });
}

void SessionBridge::OnQueueItemStarted(CFtpSession& session, uint64_t itemId, bool done) {
    const SessionId id = session.Id();
    Post(id, [this, id, itemId, done] { emit queueItemStarted(id, itemId, done); });
}

void SessionBridge::OnQueueChanged(CFtpSession& session, const QueueChange& change) {
    const SessionId id = session.Id();
    Post(id, [this, id, change] { emit queueChanged(id, change); });
}

void SessionBridge::OnTransferStarted(CFtpSession& session, const TransferInfo& info) {
    const SessionId id = session.Id();
    Post(id, [this, id, info] { emit transferStarted(id, info); });
}

void SessionBridge::OnTransferFinished(CFtpSession& session, const TransferInfo& info, int result,
                                       uint64_t bytesMoved) {
    const SessionId id = session.Id();
    Post(id, [=, this] { emit transferFinished(id, info, result, bytesMoved); });
}

void SessionBridge::OnQueueFinished(CFtpSession& session) {
    const SessionId id = session.Id();
    Post(id, [this, id] { emit queueFinished(id); });
}

void SessionBridge::OnRefresh(CFtpSession& session) {
    const SessionId id = session.Id();
    Post(id, [this, id] { emit refresh(id); });
}

void SessionBridge::OnOpenFile(CFtpSession& session, const std::string& path,
                               const std::string& viewer) {
    const SessionId id = session.Id();
    Post(id, [this, id, p = Utf8(path), v = Utf8(viewer)] { emit openFile(id, p, v); });
}

void SessionBridge::OnLoginMessage(CFtpSession& session, const std::string& text) {
    const SessionId id = session.Id();
    Post(id, [this, id, host = Utf8(session.HostAddress()), t = Utf8(text)] {
        emit loginMessage(id, host, t);
    });
}

void SessionBridge::OnShowSession(CFtpSession& session) {
    const SessionId id = session.Id();
    Post(id, [this, id] { emit showSession(id); });
}

void SessionBridge::OnNotice(CFtpSession& session, const std::string& text) {
    const SessionId id = session.Id();
    Post(id, [this, id, host = Utf8(session.HostAddress()), t = Utf8(text)] {
        emit notice(id, host, t);
    });
}

void SessionBridge::OnConnectionStateChanged(CFtpSession& session, bool connected) {
    const SessionId id = session.Id();
    Post(id, [this, id, connected] { emit connectionStateChanged(id, connected); });
}

void SessionBridge::OnCommandFinished(CFtpSession& session, RequestId request, int commandCode,
                                      int result) {
    const SessionId id = session.Id();
    Post(id, [=, this] { emit commandFinished(id, request, commandCode, result); });
}

void SessionBridge::OnQuestion(CFtpSession& session, const std::shared_ptr<Question>& asked) {
    const SessionId id = session.Id();
    QMetaObject::invokeMethod(
        this,
        [this, id, host = Utf8(session.HostAddress()), asked] {
            if (IsTracked(id)) {
                emit question(id, host, asked);
            } else {
                asked->Cancel();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace tarnwick::gui
