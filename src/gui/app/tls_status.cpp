#include "app/tls_status.h"

#include <string_view>

namespace tarnwick::gui {

void TlsStatus::AddLogRecord(SessionId id, const LogRecord& record) {
    constexpr std::string_view kEstablished = "TLS connection established: ";
    if (record.kind != LOG_STATE || !std::string_view(record.text).starts_with(kEstablished))
        return;
    protectedSessions[id] = QString::fromStdString(record.text.substr(kEstablished.size()));
    emit changed(id);
}

void TlsStatus::ConnectionChanged(SessionId id, bool connected) {
    if (!connected && protectedSessions.erase(id) > 0) emit changed(id);
}

void TlsStatus::Forget(SessionId id) {
    protectedSessions.erase(id);
}

QString TlsStatus::Description(SessionId id) const {
    const auto it = protectedSessions.find(id);
    return it == protectedSessions.end() ? QString() : it->second;
}

}  // namespace tarnwick::gui
