#include "app/single_instance.h"

#include <unistd.h>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace tarnwick::gui {

namespace {

constexpr quint32 kMaxFiles = 100000;  // a longer list is not a hand-over but garbage
constexpr qsizetype kMaxMessageBytes = 64 * 1024 * 1024;

}  // namespace

QString InstanceSocketName() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) return runtime + QLatin1Char('/') + QLatin1String(kInstanceName);
    return QStringLiteral("%1-%2").arg(QLatin1String(kInstanceName)).arg(getuid());
}

QByteArray EncodeFileList(const QStringList& paths) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << static_cast<quint32>(paths.size());
    for (const QString& path : paths) out << path;
    return message;
}

bool DecodeFileList(QByteArray& buffer, QStringList& paths) {
    QDataStream in(buffer);
    quint32 count = 0;
    in >> count;
    if (in.status() != QDataStream::Ok || count > kMaxFiles) return false;
    QStringList read;
    for (quint32 i = 0; i < count; ++i) {
        QString path;
        in >> path;
        if (in.status() != QDataStream::Ok) return false;
        read << path;
    }
    paths = read;
    buffer.remove(0, static_cast<qsizetype>(in.device()->pos()));
    return true;
}

bool SendToRunningInstance(const QStringList& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(InstanceSocketName());
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(EncodeFileList(paths));
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server(new QLocalServer(this)) {
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen() {
    const QString name = InstanceSocketName();
    if (server->listen(name)) return true;
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500)) return false;  // another instance is running
    QLocalServer::removeServer(name);
    return server->listen(name);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        auto* buffer = new QByteArray;
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            QStringList paths;
            if (DecodeFileList(*buffer, paths)) {
                emit filesReceived(paths);
                socket->disconnectFromServer();
            }
        });
        connect(socket, &QLocalSocket::disconnected, socket, [socket, buffer] {
            delete buffer;
            socket->deleteLater();
        });
    }
}

}  // namespace tarnwick::gui
