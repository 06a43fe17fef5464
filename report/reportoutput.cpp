#include "report/reportoutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>

#include <cstdio>

#include <memory>

namespace
{

// The path with every link resolved, also for a file that does not exist yet.
QString resolved(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

bool isPipe(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

} // namespace

ReportOutput::ReportOutput(const QStringList &protectedPaths)
{
    for (const QString &path : protectedPaths)
        m_protected.append(resolved(path));
}

QStringList ReportOutput::projectFiles(const QString &projectPath, const QString &databasePath)
{
    return {projectPath, databasePath, databasePath + QStringLiteral("-wal"),
            databasePath + QStringLiteral("-shm"), databasePath + QStringLiteral("-journal")};
}

bool ReportOutput::isStream(const QString &path)
{
    return path == QLatin1String("-") || isPipe(path);
}

bool ReportOutput::add(const QString &path, const QByteArray &content, QString *error)
{
    if (path != QLatin1String("-")) {
        const QString target = resolved(path);
        if (m_protected.contains(target)) {
            *error = QStringLiteral("%1 is a file of the project itself: not written.").arg(path);
            return false;
        }
        for (const Target &other : m_targets) {
            if (other.path != QLatin1String("-") && resolved(other.path) == target) {
                *error = QStringLiteral("%1 is named twice: not written.").arg(path);
                return false;
            }
        }
        const QFileInfo info(path);
        if (info.exists() && !info.isFile() && !isPipe(path)) {
            *error = QStringLiteral("%1 is not a regular file: not written.").arg(path);
            return false;
        }
    }
    m_targets.append({path, content});
    return true;
}

bool ReportOutput::commit(QString *error)
{
    std::vector<std::unique_ptr<QTemporaryFile>> files(size_t(m_targets.size()));
    for (int i = 0; i < m_targets.size(); ++i) {
        const Target &target = m_targets.at(i);
        if (isStream(target.path))
            continue;
        const QFileInfo info(target.path);
        auto file = std::make_unique<QTemporaryFile>(info.absolutePath() + QStringLiteral("/.") +
                                                     info.fileName() + QStringLiteral(".XXXXXX"));
        if (!file->open() || file->write(target.content) != target.content.size() ||
            !file->flush()) {
            *error = QStringLiteral("Cannot write %1: %2").arg(target.path, file->errorString());
            return false;
        }
        // Like any other file the user makes, not private to the owner.
        file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
        files[size_t(i)] = std::move(file);
    }
    for (int i = 0; i < m_targets.size(); ++i) {
        QTemporaryFile *file = files[size_t(i)].get();
        if (!file)
            continue;
        file->close();
        const QString path = m_targets.at(i).path;
        if (::rename(QFile::encodeName(file->fileName()).constData(),
                     QFile::encodeName(path).constData()) != 0) {
            *error = QStringLiteral("Cannot write %1.").arg(path);
            return false;
        }
        file->setAutoRemove(false);
    }
    for (const Target &target : m_targets) {
        if (!isStream(target.path))
            continue;
        QFile stream;
        const bool open =
            target.path == QLatin1String("-")
                ? stream.open(stdout, QIODevice::WriteOnly)
                : (stream.setFileName(target.path), stream.open(QIODevice::WriteOnly));
        if (!open || stream.write(target.content) != target.content.size() || !stream.flush()) {
            *error = QStringLiteral("Cannot write %1: %2").arg(target.path, stream.errorString());
            return false;
        }
    }
    m_targets.clear();
    return true;
}
