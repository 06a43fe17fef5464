#include "forward/forwardposition.h"

#include "common/common.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace
{
const QByteArray kIdentityKey = QByteArrayLiteral("target=");
const QByteArray kLastIdKey = QByteArrayLiteral("lastId=");
constexpr qint64 kMaxFileSize = 4096;
} // namespace

ForwardPosition::ForwardPosition(const QString &projectPath, const QString &target,
                                 const QString &identity)
    : m_filePath(filePathFor(projectPath, target)),
      m_identityHash(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex())
{
}

QString ForwardPosition::filePathFor(const QString &projectPath, const QString &target)
{
    const QFileInfo info(projectPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
           QStringLiteral(".forward-") + target;
}

qint64 ForwardPosition::load() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return 0;
    QByteArray identity;
    qint64 lastId = 0;
    bool haveId = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith(kIdentityKey)) {
            identity = line.mid(kIdentityKey.size());
        } else if (line.startsWith(kLastIdKey)) {
            lastId = line.mid(kLastIdKey.size()).toLongLong(&haveId);
        }
    }
    if (identity != m_identityHash) {
        qCDebug(lcForward).noquote() << "ForwardPosition::load : another target in" << m_filePath;
        return 0;
    }
    if (!haveId || lastId < 0) {
        qCWarning(lcForward).noquote()
            << "ForwardPosition::load : unreadable position in" << m_filePath;
        return 0;
    }
    return lastId;
}

bool ForwardPosition::save(qint64 lastId) const
{
    // Written beside and renamed over the old file: a reader sees the old or
    // the new position, never a torn one. No sync to disk: the position is
    // rewritten twice a second while rows flow, and a sync each time would
    // hold the target up for as long as the disk is busy; the file system
    // puts a renamed file's data on disk before the rename itself.
    const QString temporary = m_filePath + QStringLiteral(".new");
    QFile file(temporary);
    const QByteArray text =
        kIdentityKey + m_identityHash + '\n' + kLastIdKey + QByteArray::number(lastId) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        qCWarning(lcForward).noquote() << "ForwardPosition::save : cannot write" << m_filePath;
        file.remove();
        return false;
    }
    file.close();
    if (::rename(QFile::encodeName(temporary).constData(),
                 QFile::encodeName(m_filePath).constData()) != 0) {
        qCWarning(lcForward).noquote() << "ForwardPosition::save : cannot write" << m_filePath;
        QFile::remove(temporary);
        return false;
    }
    return true;
}
