#include "panes/local_file_jobs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace tarnwick::gui {

namespace {
constexpr qint64 kBlock = 64 * 1024;

int CountFiles(const QStringList& sources) {
    int count = 0;
    for (const QString& source : sources) {
        if (!QFileInfo(source).isDir()) {
            ++count;
            continue;
        }
        QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++count;
        }
    }
    return count;
}
}  // namespace

LocalFileJob::LocalFileJob(Kind kind, QStringList sources, QString targetDirectory, QObject* parent)
    : QObject(parent),
      kind(kind),
      sources(std::move(sources)),
      targetDirectory(std::move(targetDirectory)) {}

LocalFileJob::~LocalFileJob() {
    cancelled = true;
    if (worker.joinable()) worker.join();
}

void LocalFileJob::Start() {
    worker = std::thread([this] { Run(); });
}

void LocalFileJob::Run() {
    const int total = CountFiles(sources);
    int done = 0;
    bool ok = true;
    QString error;
    for (const QString& source : sources) {
        if (cancelled) break;
        if (kind == Kind::kDelete) {
            const QFileInfo info(source);
            ok = info.isDir() && !info.isSymLink() ? QDir(source).removeRecursively()
                                                   : QFile::remove(source);
            done += 1;
        } else {
            const QString target = QDir(targetDirectory).filePath(QFileInfo(source).fileName());
            if (QFileInfo(target).absoluteFilePath() == QFileInfo(source).absoluteFilePath() ||
                QFileInfo(target).absoluteFilePath().startsWith(
                    QFileInfo(source).absoluteFilePath() + QLatin1Char('/'))) {
                ok = false;  // onto itself or into its own tree
            } else {
                ok = CopyEntry(source, target, done, total);
            }
        }
        if (!ok) {
            error = tr("Can't handle %1").arg(source);
            break;
        }
        emit progress(done, total);
    }
    emit finished(ok && !cancelled, cancelled ? QString() : error);
}

bool LocalFileJob::CopyEntry(const QString& source, const QString& target, int& done, int total) {
    const QFileInfo info(source);
    if (!info.isDir() || info.isSymLink()) {
        const bool copied = CopyFile(source, target);
        ++done;
        emit progress(done, total);
        return copied;
    }
    if (!QDir().mkpath(target)) return false;
    const QFileInfoList children = QDir(source).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& child : children) {
        if (cancelled) return false;
        if (!CopyEntry(child.filePath(), QDir(target).filePath(child.fileName()), done, total))
            return false;
    }
    return true;
}

// Copies block by block; a cancelled or failed copy removes what it wrote.
bool LocalFileJob::CopyFile(const QString& source, const QString& target) {
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block;
    while (!cancelled) {
        block = in.read(kBlock);
        if (block.isEmpty()) break;
        if (out.write(block) != block.size()) break;
    }
    const bool complete = !cancelled && in.atEnd() && out.error() == QFileDevice::NoError;
    out.close();
    if (!complete) out.remove();
    return complete;
}

}  // namespace tarnwick::gui
