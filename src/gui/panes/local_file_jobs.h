// Long local file operations off the user-interface thread: copying files and trees between
// local directories, and deleting trees. A job runs on its own thread; progress and the end
// arrive as queued signals on the thread that started it. Cancel() stops a copy between two
// blocks and removes the file it was writing, so no half file stays behind.
//
// Threads: created, started, cancelled and destroyed on the user-interface thread; the work
// runs on the job's thread. Ownership: the job owns its thread and joins it on destruction.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <thread>

namespace tarnwick::gui {

class LocalFileJob : public QObject {
    Q_OBJECT

public:
    enum class Kind { kCopy, kDelete };

    // Copy: every source (file or directory) into targetDirectory. Delete: every source.
    LocalFileJob(Kind kind, QStringList sources, QString targetDirectory = {},
                 QObject* parent = nullptr);
    ~LocalFileJob() override;

    void Start();
    void Cancel() { cancelled = true; }

signals:
    void progress(int done, int total);  // files handled so far, of all files
    // ok: everything was done; false when cancelled or an entry failed.
    void finished(bool ok, const QString& error);

private:
    void Run();
    bool CopyEntry(const QString& source, const QString& target, int& done, int total);
    bool CopyFile(const QString& source, const QString& target);

    Kind kind;
    QStringList sources;
    QString targetDirectory;
    std::atomic<bool> cancelled{false};
    std::thread worker;
};

}  // namespace tarnwick::gui
