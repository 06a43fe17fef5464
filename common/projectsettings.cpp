#include "common/projectsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "common/common.h"
#include "common/projectdocument.h"

ProjectSettings::ProjectSettings(const QString &path)
    : m_copy(QDir::temp().filePath(QStringLiteral("quillark-read-XXXXXX.qlk")))
{
    QFile in(path);
    bool copied = false;
    if (in.open(QIODevice::ReadOnly) && m_copy.open()) {
        const QByteArray content = in.readAll();
        copied = m_copy.write(content) == content.size() && m_copy.flush();
        m_copy.close();
    }
    m_settings =
        std::make_unique<QSettings>(copied ? m_copy.fileName() : path, QSettings::IniFormat);
}

bool ProjectSettings::update(const QString &path, const std::function<void(QSettings &)> &change,
                             QString *error)
{
    auto fail = [&](const QString &why) {
        qCWarning(lcCommon).noquote()
            << "ProjectSettings::update : cannot save" << path << ":" << why;
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo link(path);
    // A project reached through a link is saved where the link points.
    const QFileInfo target(link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath());
    QByteArray current;
    if (target.exists()) {
        if (!target.isFile())
            return fail(QStringLiteral("It is not a file."));
        if (!target.isWritable())
            return fail(QStringLiteral("The file is read-only."));
        QFile in(target.absoluteFilePath());
        if (target.size() > ProjectDocument::kMaxFileSize || !in.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("The file cannot be read: %1.").arg(in.errorString()));
        current = in.readAll();
    } else if (!target.absoluteDir().exists()) {
        return fail(QStringLiteral("The folder %1 does not exist.").arg(target.absolutePath()));
    }

    // QSettings works on a copy under a name used once: what it caches of a
    // file it could not write stays with that name and is never read again.
    // The copy goes beside the project (the disk it is saved to), or to the
    // temporary folder where the project's folder takes no new files.
    QTemporaryFile copy(
        target.absoluteDir().filePath(QStringLiteral(".quillark-project-XXXXXX.qlk")));
    if (!copy.open())
        copy.setFileTemplate(QDir::temp().filePath(QStringLiteral("quillark-project-XXXXXX.qlk")));
    if (!copy.isOpen() && !copy.open())
        return fail(
            QStringLiteral("No temporary copy could be written: %1.").arg(copy.errorString()));
    if (copy.write(current) != current.size() || !copy.flush())
        return fail(
            QStringLiteral("No temporary copy could be written: %1.").arg(copy.errorString()));
    copy.close();
    {
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        // A file QSettings could not parse would be rewritten with only what
        // it understood; leave it alone instead.
        if (settings.status() != QSettings::NoError)
            return fail(QStringLiteral("It is not a project file that can be rewritten."));
        change(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return fail(QStringLiteral("No temporary copy could be written."));
    }
    QFile written(copy.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return fail(written.errorString());
    const QByteArray content = written.readAll();

    // Replaced in one step where the folder allows it; the old file stays
    // whole when anything fails.
    QSaveFile out(target.absoluteFilePath());
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString() + QLatin1Char('.'));
    if (out.write(content) != content.size() || !out.commit())
        return fail(out.errorString() + QLatin1Char('.'));
    return true;
}
