#include "common/projectsettings.h"

#include <QDir>
#include <QFile>

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
