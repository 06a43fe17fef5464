#pragma once

#include <QString>

// Where one forwarding target stands: the id of the last recorded row it has
// delivered. Kept in a small file beside the project ("<project>.forward-<target>")
// and replaced atomically, so a crash leaves either the old or the new
// position, never a torn one. The file also names (by a hash) the target the
// position belongs to; pointing the project at another server starts again
// from the first row.
class ForwardPosition
{
public:
    ForwardPosition(const QString &projectPath, const QString &target, const QString &identity);

    // The file that keeps the position.
    QString filePath() const { return m_filePath; }
    // The stored id; 0 when there is no file, it is unreadable or it belongs
    // to another target identity.
    qint64 load() const;
    // Stores `lastId`; false when the file could not be written.
    bool save(qint64 lastId) const;

    static QString filePathFor(const QString &projectPath, const QString &target);

private:
    QString m_filePath;
    QByteArray m_identityHash;
};
