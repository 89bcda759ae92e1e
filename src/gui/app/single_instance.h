// One program per user: the first instance listens on a per-user local socket named
// "TarnwickMainFrame"; `tarnwick --send PATH...` hands its list of local files to the
// running instance (the number n, then n paths) and ends, or, when none runs, becomes the
// instance itself and shows the files.
//
// Threads: the user-interface thread. The server is owned by the caller.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace tarnwick::gui {

inline constexpr char kInstanceName[] = "TarnwickMainFrame";

// The full name of the per-user socket: in the user's runtime directory when there is one.
QString InstanceSocketName();

// Hands `paths` to a running instance: true when one took them. Bounded: gives up after
// about `timeoutMs` milliseconds.
bool SendToRunningInstance(const QStringList& paths, int timeoutMs = 2000);

// The message: n, then n paths. DecodeFileList is false until a whole message is there;
// then it fills `paths` and takes the message off the front of `buffer`.
QByteArray EncodeFileList(const QStringList& paths);
bool DecodeFileList(QByteArray& buffer, QStringList& paths);

class InstanceServer : public QObject {
    Q_OBJECT

public:
    explicit InstanceServer(QObject* parent = nullptr);

    // Starts listening (a stale socket left by a crashed instance is removed first). False
    // when the socket cannot be created.
    bool Listen();

signals:
    void filesReceived(const QStringList& paths);

private:
    void Accept();

    QLocalServer* server;
};

}  // namespace tarnwick::gui
