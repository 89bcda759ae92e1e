// Which sessions are protected by TLS, learnt from what they log: after each handshake of
// the control connection the worker writes the state line "TLS connection established:
// VERSION, CIPHER". A session counts as protected from that line until its connection
// closes; a session that went on in clear (TLS only if available) never logs it.
//
// Threads: the user-interface thread; the main window feeds it from SessionBridge signals
// and owns it.
#pragma once

#include <QObject>
#include <QString>
#include <unordered_map>

#include "session/session_observer.h"

namespace tarnwick::gui {

class TlsStatus : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    void AddLogRecord(SessionId id, const LogRecord& record);
    void ConnectionChanged(SessionId id, bool connected);
    void Forget(SessionId id);

    // "TLSv1.3, TLS_AES_256_GCM_SHA384" for a protected session, else empty.
    QString Description(SessionId id) const;

signals:
    void changed(tarnwick::SessionId id);  // the session became protected or stopped being so

private:
    std::unordered_map<SessionId, QString> protectedSessions;
};

}  // namespace tarnwick::gui
