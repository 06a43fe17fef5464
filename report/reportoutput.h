#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Writes a report's files all together or not at all.
//
// A target is refused when it is one of the project's own files (the
// project file, its record database and the database's companions) or an
// existing file that is neither a regular file nor a pipe. A pipe and "-"
// (standard output) are written to as streams. Every other target is first
// written to a temporary file beside it; the temporary files are renamed
// onto their targets only once every one of them was written, and streams
// are written last.
class ReportOutput
{
public:
    // `protectedPaths`: files never to be written onto.
    explicit ReportOutput(const QStringList &protectedPaths);

    // Adds a target with its content; false (with `error`) when it is refused.
    bool add(const QString &path, const QByteArray &content, QString *error);
    // Writes every target added; false with a one-line reason, leaving no
    // target changed unless a stream was already written.
    bool commit(QString *error);

    // Whether `path` is written to as a stream.
    static bool isStream(const QString &path);
    // The files beside a record database that belong to it.
    static QStringList projectFiles(const QString &projectPath, const QString &databasePath);

private:
    struct Target {
        QString path;
        QByteArray content;
    };
    QStringList m_protected;
    QVector<Target> m_targets;
};
